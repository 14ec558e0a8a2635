#pragma once

// Shows the core's error boxes (platform::ShowErrorBox) in Qt: caption "ERROR", the text, one
// OK button; its information (platform::ShowInformation): caption "Zarvo", the information
// icon, the text, one OK button; and its questions (platform::AskQuestion): caption "Zarvo", the
// text, Yes and No, where No is the default and Escape and the close box also mean No. Ctrl+C
// copies the text. Every box opens over the window the user is working in (the active modal dialog,
// else the owner window, the main window), so that the window manager keeps it on top, and takes
// the keyboard focus. A box asked for on the user-interface thread is modal and its caller waits
// for it there. A box asked for on another thread (the fetch worker's) is shown by the
// user-interface thread without blocking any window, while the asking thread waits until the user
// closes it. It installs itself as the box, information and question handler for as long as it
// lives.
//
// It does not decide which failures deserve a box, or what is asked; the core does.

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/CUiThreadRequests.h"

class QMessageBox;

class CErrorBoxPresenter : public QObject {
    Q_OBJECT

public:
    // The captions of an error box and of a question (and of information).
    static constexpr const char* CAPTION = "ERROR";
    static constexpr const char* QUESTION_CAPTION = "Zarvo";

    CErrorBoxPresenter();
    // Releases the waiting threads and uninstalls the handler.
    ~CErrorBoxPresenter() override;

    // The window that boxes belong to when no modal dialog is open (the main window); none
    // leaves such boxes without a parent.
    void SetOwnerWindow(QWidget* window);
    // Where a box opens now: the active modal dialog, else the owner window (may be null).
    QWidget* BoxParent() const;

    // For Exit: closes the boxes that other threads are waiting on, wakes those threads (a
    // question is answered No), and from now on answers other threads' boxes at once (their
    // texts go to standard error, questions are answered No), as no window is left to show
    // them. The user-interface thread's own boxes are unaffected.
    void ReleaseWorkers();

    // The boxes shown for other threads and not yet closed, oldest first.
    std::vector<QMessageBox*> WorkerBoxes() const;
    std::size_t OpenWorkerBoxes() const { return m_workerBoxes.size(); }
    // Closes the oldest of them as its OK button would (for tests).
    void CloseOldestWorkerBox();

private:
    enum class BoxKind { Error, Information, Question };

    struct WorkerBox {
        QPointer<QMessageBox> box;
        // Given true when the box was answered Yes.
        std::function<void(bool yes)> finished;
    };

    // On the user-interface thread: shows a box for another thread, which waits for
    // `finished`.
    void OpenWorkerBox(BoxKind kind, const std::string& text,
                       std::function<void(bool yes)> finished);
    // Gives a worker's box the current BoxParent(). A box over a modal dialog moves on when
    // that dialog finishes, so that it outlives the dialog instead of going with it.
    void AttachWorkerBox(QMessageBox& box);
    void WorkerBoxClosed(QMessageBox* box, bool yes);

    std::shared_ptr<CUiThreadRequests> m_requests;
    std::vector<WorkerBox> m_workerBoxes;
    QPointer<QWidget> m_owner;
};
