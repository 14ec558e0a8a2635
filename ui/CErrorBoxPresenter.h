#pragma once

// Shows the core's error boxes (platform::ShowErrorBox) in Qt: caption "ERROR", the text, one
// OK button, no owner window. A box asked for on the user-interface thread is modal and its
// caller waits for it there. A box asked for on another thread (the fetch worker's) is shown by
// the user-interface thread without blocking any window, while the asking thread waits until
// the user closes it. It installs itself as the box handler for as long as it lives.
//
// It does not decide which failures deserve a box; the core does.

#include <QObject>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/CUiThreadRequests.h"

class QMessageBox;

class CErrorBoxPresenter : public QObject {
    Q_OBJECT

public:
    // The box's caption.
    static constexpr const char* CAPTION = "ERROR";

    CErrorBoxPresenter();
    // Releases the waiting threads and uninstalls the handler.
    ~CErrorBoxPresenter() override;

    // For Exit: closes the boxes that other threads are waiting on, wakes those threads, and
    // from now on answers other threads' boxes at once (their texts go to standard error), as
    // no window is left to show them. The user-interface thread's own boxes are unaffected.
    void ReleaseWorkers();

    // The boxes shown for other threads and not yet closed.
    std::size_t OpenWorkerBoxes() const { return m_workerBoxes.size(); }
    // Closes the oldest of them as its OK button would (for tests).
    void CloseOldestWorkerBox();

private:
    struct WorkerBox {
        std::unique_ptr<QMessageBox> box;
        std::function<void()> finished;
    };

    // On the user-interface thread: shows a box for another thread, which waits for
    // `finished`.
    void OpenWorkerBox(const std::string& text, std::function<void()> finished);
    void WorkerBoxClosed(QMessageBox* box);

    std::shared_ptr<CUiThreadRequests> m_requests;
    std::vector<WorkerBox> m_workerBoxes;
};
