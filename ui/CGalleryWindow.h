#pragma once

// The gallery: every picture under the images folder as a grid of thumbnails, newest first,
// with the newsgroups and their picture counts on the left to pick one group or all. Double
// click or Enter opens a picture in a window of its own that steps through the gallery's order
// and deletes too; Delete moves the selected pictures to the desktop's trash (asking before
// deleting for good where there is none), Copy puts the picture on the clipboard and Open folder
// shows the picture's folder in the desktop's file manager, or says that none did. It blocks no
// other window. It fetches nothing and keeps no list of its own beyond its model's.

#include <QBoxLayout>
#include <QLabel>
#include <QListView>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QSplitter>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>

#include "ui/CGalleryModel.h"
#include "ui/CPictureWindow.h"
#include "ui/CThumbnailDelegate.h"
#include "ui/CThumbnailLoader.h"

class CGalleryWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr const char* CAPTION = "Gallery";

    // The gallery of the folder, a window of its own over `parent` (which it goes with).
    explicit CGalleryWindow(const QString& imagesFolder, QWidget* parent = nullptr);

    CGalleryModel& Model() { return m_model; }
    CThumbnailLoader& Loader() { return m_loader; }
    QListView& View() { return m_view; }
    QListWidget& GroupList() { return m_groups; }
    const CThumbnailDelegate& Delegate() const { return m_delegate; }
    // The line beside the count that says what did not work (an Open folder that no file
    // manager answered).
    const QLabel& Note() const { return m_note; }
    // The picture window opened from here, while it is open.
    CPictureWindow* Viewer() { return m_viewer.data(); }

    // Shows one group's pictures, or all for an empty name.
    void ShowGroup(const QString& group);
    // Opens the picture of the row in the picture window (reusing the one open).
    void OpenPicture(int row);
    // Moves the selected pictures to the trash (where there is none, asks before deleting each
    // for good) and drops them; a picture that can be neither stays, and is named in a message.
    void DeleteSelected();
    // The same for the picture in the picture window, which then shows the picture that took
    // its place in the gallery's order (or the one before the last), or closes with none left.
    void DeleteShown();
    // Puts the current picture on the clipboard, with the selected pictures' file addresses.
    void CopySelected();
    // Opens the current picture's folder (or the folder of the group shown, or the images
    // folder) in the desktop's file manager; where none answers, the note says so.
    void OpenFolder();
    // What opens a folder's address; the desktop's file manager unless replaced.
    void SetUrlOpener(std::function<bool(const QUrl&)> opener) { m_openUrl = std::move(opener); }

    // A picture has just been written (by a fetch run): it is shown soon.
    void NotePicture(const QString& path);

    // The paths of the selected pictures, in the gallery's order.
    QStringList SelectedPaths() const;

signals:
    // The pictures went to the trash (or, with none, were deleted for good).
    void picturesDeleted(const QStringList& paths);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FillGroupList();
    void Step(int step);
    // Deletes the pictures (see DeleteSelected); the paths that went.
    QStringList RemovePictures(const QStringList& paths);

    CThumbnailLoader m_loader;
    CGalleryModel m_model;
    CThumbnailDelegate m_delegate;
    // Each widget after the one it lies in, and each layout after its widget: members go in
    // the reverse order, children before their parents.
    QVBoxLayout m_layout;
    QSplitter m_splitter;
    QListWidget m_groups;
    QListView m_view;
    QWidget m_buttonBar;
    QHBoxLayout m_buttonLayout;
    QLabel m_count;
    QLabel m_note;
    QPushButton m_openFolder;
    QPushButton m_copy;
    QPushButton m_delete;
    QPointer<CPictureWindow> m_viewer;
    QString m_viewerPath;
    std::function<bool(const QUrl&)> m_openUrl;
};
