#pragma once

// Every picture under the images folder (images/<group>/<file>, and one level down,
// images/<group>/<archive>/<file>), newest first, as a list model: the rows are the pictures
// of one group or of all, each with its name and size, and a thumbnail that is asked of the
// thumbnail loader only when a view first shows the row. Hidden files (the pictures still being
// written) and hidden folders are no part of it. It watches the folders and follows files and
// folders that come, change and go; it counts the pictures of each group, those of its folders
// included. It never decodes pictures and never deletes files itself.

#include <QAbstractListModel>
#include <QCache>
#include <QFileSystemWatcher>
#include <QPixmap>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "ui/CThumbnailLoader.h"

class CGalleryModel : public QAbstractListModel {
    Q_OBJECT

public:
    enum Role {
        PathRole = Qt::UserRole + 1,  // the picture's full path
        GroupRole,                    // its group's name
        FileSizeRole,                 // its size in bytes
        ReadableRole,                 // false once its thumbnail could not be made
        NameRole,                     // its file's name
    };

    // The model over the folder, read at once; thumbnails come from the loader.
    CGalleryModel(const QString& imagesFolder, CThumbnailLoader& loader, QObject* parent = nullptr);

    const QString& ImagesFolder() const { return m_imagesFolder; }
    // Shows the pictures of one group, or of all for an empty name.
    void SetGroup(const QString& group);
    const QString& Group() const { return m_group; }
    // Every group that holds pictures with their counts, by name; and the count of all.
    std::vector<std::pair<QString, int>> Groups() const;
    int Total() const { return static_cast<int>(m_entries.size()); }

    // Reads the folders again now rather than when the watcher tells.
    void Refresh();
    // A file that has just been written (the fetch run's pictures): its folder is read soon.
    void NotePicture(const QString& path);
    // Drops the files' rows at once (after they were moved away).
    void Forget(const QStringList& paths);
    // Drops the thumbnail requests that have not begun: the view asks again for what it shows.
    void DropPendingThumbnails();

    // True once the row's thumbnail, or its "cannot show" tile, is there to be drawn.
    bool HasThumbnail(int row) const;
    QString PathAt(int row) const;
    // The row of the picture, or -1 when it is not shown.
    int RowOf(const QString& path) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    // The size as shown under a thumbnail: "812 bytes", "97 KB", "2.4 MB" (of 1024).
    static QString SizeText(qint64 bytes);

signals:
    // Groups or their counts changed.
    void groupsChanged();

private:
    struct Entry {
        QString path;
        QString group;
        QString folder;  // the folder it lies in: the group's, or one inside it
        QString name;
        qint64 size = 0;
        qint64 modified = 0;  // milliseconds since the epoch
    };

    static bool Newer(const Entry* a, const Entry* b);
    // The file as it is now; none when it is gone, no plain file or hidden.
    static std::optional<Entry> ReadEntry(const QString& path, const QString& group,
                                          const QString& folder, const QString& name);
    // The group a folder belongs to, for the group's folder and the folders inside it; empty
    // for any other.
    QString GroupOf(const QString& folder) const;
    // Reads one file again: its row goes when the file went, and moves when it changed.
    void Restat(const QString& path);
    bool Shows(const Entry& entry) const { return m_group.isEmpty() || entry.group == m_group; }
    // Reads the images folder again: the groups' folders that came are followed, those that
    // went are not any more.
    void ScanGroups(std::unordered_map<QString, Entry>& found);
    // Reads a followed folder again, and for a group's folder the folders inside it that came
    // or went: the files that went are dropped at once, the new ones gathered in `found`.
    void ScanFolder(const QString& folder, std::unordered_map<QString, Entry>& found);
    // Starts or stops following a folder, and reads it.
    void Follow(const QString& folder, std::unordered_map<QString, Entry>& found);
    void Unfollow(const QString& folder);
    void InsertFound(std::unordered_map<QString, Entry> found);
    void Insert(Entry entry);
    void Remove(const QString& path);
    void OnFolderChanged(const QString& folder);
    void OnThumbnail(const QString& path, const QImage& thumbnail, qint64 modifiedSeconds);
    const QPixmap& Thumbnail(const Entry& entry) const;

    QString m_imagesFolder;
    CThumbnailLoader& m_loader;
    QString m_group;
    // Every picture by path; nodes stay put, so the rows point into it.
    std::unordered_map<QString, Entry> m_entries;
    std::unordered_map<QString, int> m_counts;
    // The shown pictures, newest first.
    std::vector<const Entry*> m_rows;

    QFileSystemWatcher m_watcher;
    // The folders followed: the groups' and those inside them.
    QSet<QString> m_folders;
    // Folder changes come in bursts while a run writes: they are gathered for a moment.
    QTimer m_scanTimer;
    QSet<QString> m_changedFolders;
    bool m_groupsChanged = false;

    // Thumbnails as drawn, the most recently used kept; the pictures asked for and not yet
    // answered, and those that cannot be shown. Mutable: views ask for them through data().
    mutable QCache<QString, QPixmap> m_thumbnails;
    mutable QSet<QString> m_requested;
    QSet<QString> m_unreadable;
    QPixmap m_waitingTile;
    QPixmap m_cannotShowTile;
};
