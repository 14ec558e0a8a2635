#pragma once

// The program's main window, "Zarvo". At start it makes the program folder the current
// directory, creates images/ and tmp_dir/, and starts the fetch worker, idle until Start. Its
// buttons start and stop the worker, open the configuration dialog, the gallery and the About
// box, page through the pictures (the picture browser it owns) and end the program; Start is
// enabled while no run is going (with nothing configured it opens the configuration), Stop while
// one is; Previous, Next and Delete File only while there is a picture to step to or delete. A
// status line at the bottom says what the run is doing, or while idle what to do next; the
// caption shows a run's progress. Log opens the run log, where the worker's word on each group
// it could not fetch is kept for the session. The controls keep their places; the picture view
// takes whatever room the window gains beyond its designed size.
//
// The worker writes the counters and bars and calls Next from its own thread: each such call
// is carried over to this window's thread and the worker waits until it is done. Exit releases
// every waiting call, ends the worker's run at once and closes the window within a second; the
// worker never touches the window after that. It does no fetching or decoding itself.

#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <chrono>
#include <memory>
#include <string>

#include "fetch/CFetchDisplay.h"
#include "fetch/CFetchWorker.h"
#include "ui/CGalleryWindow.h"
#include "ui/CPictureBrowser.h"
#include "ui/CPictureView.h"
#include "ui/CProgressBar.h"
#include "ui/CRunLogWindow.h"
#include "ui/CStatusLine.h"
#include "ui/CUiThreadRequests.h"
#include "ui/CWebBrowser2.h"

class CZarvoDlg : public QDialog, public CFetchDisplay, private CPictureView {
    Q_OBJECT

public:
    static constexpr const char* CAPTION = "Zarvo";
    // The context menu's entry for the About box.
    static constexpr const char* ABOUT_ENTRY = "&About zarvo...";
    // How long Exit waits for the worker to end once its run is cut short.
    static constexpr std::chrono::milliseconds EXIT_WAIT{750};

    // Builds the window and initialises it (OnInitDialog): a failure is shown and leaves the
    // window up without the steps after it.
    explicit CZarvoDlg(QWidget* parent = nullptr);
    // Ends the worker, as Exit does, if Exit has not.
    ~CZarvoDlg() override;

    // True when initialisation went through and the worker is waiting for Start.
    bool IsInitialized() const { return m_initialized; }
    // After Exit: false when the worker did not end in time (it then holds nothing of the
    // window, and the program must not wait for it).
    bool WorkerEnded() const { return m_workerEnded; }

    // The buttons; Enter, Escape and the close box act as Exit, F1 and the context menu's
    // entry open the About box.
    void OnStart();
    void OnStop();
    void OnExit();
    void OnConfigure();
    // Gallery... and Ctrl+G: shows the gallery of every picture, made on first use.
    void OnGallery();
    // Log: shows the run log.
    void OnLog();
    void OnAbout();
    void OnPrevious();
    void OnDeleteFile();
    // Next: the button's handler, and the worker's call when a run's first picture arrives
    // (then carried over to this window's thread).
    void OnNext() override;

    CPictureBrowser& PictureBrowser() { return m_pictures; }
    // The gallery, once opened.
    CGalleryWindow* Gallery() { return m_gallery.get(); }
    const CStatusLine& StatusLine() const { return m_statusLine; }
    const CRunLogWindow& RunLog() const { return m_runLog; }
    const std::string& ProgramFolder() const { return m_programFolder; }
    // The worker (none when initialisation stopped before it), for tests that wait for runs.
    CFetchWorker* Worker() { return m_worker.get(); }

    // CFetchDisplay: called by the worker on its thread (or on this one).
    void SetEditText(int control, const std::string& text) override;
    void SetProgress(int control, std::int64_t low, std::int64_t high, int step,
                     std::int64_t position) override;
    void StepProgress(int control) override;
    void ClearPictures() override;
    std::size_t AppendPicture(const std::string& path) override;
    int CurrentPicture() override;
    void SetStatusText(const std::string& text) override;
    void AddLogEntry(const CRunLogEntry& entry) override;
    void SetRunning(bool running) override;

signals:
    // Exit has begun: whatever the worker waits for (its message boxes) must let it go now.
    void exiting();
    // A picture of the run was written (emitted on the worker's thread).
    void pictureAdded(const QString& path);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    // Escape and the close box.
    void reject() override;

private:
    bool OnInitDialog();
    // Releases the worker's waiting calls and ends its run; false when it did not end in time.
    bool EndWorker();
    // Start for an idle worker, Stop for a run.
    void ShowRunning(bool running);
    // While idle, the status line says what to do next: configure, or press Start.
    void ShowSetup();
    // "Zarvo" while idle; during a run its progress and group: "Zarvo — 45% — alt.pictures".
    void UpdateTitle();
    // Previous, Next and Delete File, for the picture on show and the list.
    void UpdatePictureButtons();
    QLineEdit* EditControl(int control);
    CProgressBar* ProgressControl(int control);

    // CPictureView, on this window's thread.
    void SetPictureName(const std::string& name) override;
    void SetPictureCounter(const std::string& text) override;
    void Navigate(const std::string& pagePath) override;
    void ClearView() override;

    // The controls, in the template's order (which is the tab order).
    QPushButton m_exit;
    CProgressBar m_overallProgress;
    CProgressBar m_groupProgress;
    QPushButton m_start;
    QPushButton m_configure;
    QPushButton m_galleryButton;
    QPushButton m_logButton;
    QPushButton m_stop;
    QGroupBox m_newsgroupStatus;
    QGroupBox m_overallStatus;
    CWebBrowser2 m_browser;
    QPushButton m_previous;
    QGroupBox m_pictureControl;
    QPushButton m_next;
    QPushButton m_deleteFile;
    QLineEdit m_groupName;
    QLabel m_processingLabel;
    QLineEdit m_groupCounter;
    QLineEdit m_articleCounter;
    QLabel m_currentPictureLabel;
    QLineEdit m_pictureName;
    QLineEdit m_pictureCounter;
    CStatusLine m_statusLine;
    CRunLogWindow m_runLog;
    // Where the view and the status line stand when the window has its designed size.
    QRect m_viewPlace;
    QRect m_statusPlace;

    std::string m_programFolder;
    bool m_initialized = false;
    bool m_exiting = false;
    bool m_workerEnded = true;
    bool m_running = false;
    // The status line says what to set up; Configure's end replaces it.
    bool m_showsSetup = false;

    CUiThreadRequests m_requests;
    CPictureBrowser m_pictures;
    std::unique_ptr<CGalleryWindow> m_gallery;
    // Last, so that it goes first: it refers to this window as its display.
    std::unique_ptr<CFetchWorker> m_worker;
};
