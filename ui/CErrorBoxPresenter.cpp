#include "ui/CErrorBoxPresenter.h"

#include <QMessageBox>
#include <QPointer>
#include <algorithm>
#include <cstdio>

#include "platform/ErrorBox.h"

namespace {

void SetUpBox(QMessageBox& box, const std::string& text) {
    box.setIcon(QMessageBox::NoIcon);
    box.setWindowTitle(QString::fromLatin1(CErrorBoxPresenter::CAPTION));
    box.setText(QString::fromUtf8(text));
    box.setTextFormat(Qt::PlainText);
    box.setStandardButtons(QMessageBox::Ok);
}

void ShowModalBox(const std::string& text) {
    QMessageBox box;
    SetUpBox(box, text);
    box.exec();
}

// Hands a box over to Qt's deferred deletion: it may still be inside its own signal.
void DisposeLater(std::unique_ptr<QMessageBox> box) {
    box.release()->deleteLater();
}

}  // namespace

CErrorBoxPresenter::CErrorBoxPresenter() : m_requests(std::make_shared<CUiThreadRequests>(*this)) {
    // The handler holds its own share of the requests and only a guarded pointer to this
    // object: a worker that is still inside it when the window has gone finds the requests
    // released and touches nothing else.
    const std::shared_ptr<CUiThreadRequests> requests = m_requests;
    const QPointer<CErrorBoxPresenter> self(this);
    platform::SetErrorBoxHandler([requests, self](const std::string& text) {
        if (requests->OnUiThread()) {
            ShowModalBox(text);
            return;
        }
        const bool shown =
            requests->CallUntilFinished([self, text](std::function<void()> finished) {
                if (self.isNull()) {
                    finished();
                    return;
                }
                self->OpenWorkerBox(text, std::move(finished));
            });
        if (!shown) {
            std::fprintf(stderr, "ERROR: %s\n", text.c_str());
        }
    });
}

CErrorBoxPresenter::~CErrorBoxPresenter() {
    ReleaseWorkers();
    platform::SetErrorBoxHandler({});
}

void CErrorBoxPresenter::ReleaseWorkers() {
    // The boxes on show count as answered; only boxes asked for from now on are turned away.
    std::vector<WorkerBox> boxes = std::move(m_workerBoxes);
    m_workerBoxes.clear();
    for (WorkerBox& entry : boxes) {
        entry.box->disconnect(this);
        entry.box->close();
        entry.finished();
        DisposeLater(std::move(entry.box));
    }
    m_requests->Release();
}

void CErrorBoxPresenter::CloseOldestWorkerBox() {
    if (!m_workerBoxes.empty()) {
        m_workerBoxes.front().box->done(QMessageBox::Ok);
    }
}

void CErrorBoxPresenter::OpenWorkerBox(const std::string& text, std::function<void()> finished) {
    auto box = std::make_unique<QMessageBox>();
    SetUpBox(*box, text);
    // Blocks no window: the main window stays usable while the worker waits for the user.
    box->setWindowModality(Qt::NonModal);
    QMessageBox* raw = box.get();
    connect(raw, &QMessageBox::finished, this, [this, raw] { WorkerBoxClosed(raw); });
    m_workerBoxes.push_back(WorkerBox{std::move(box), std::move(finished)});
    raw->show();
}

void CErrorBoxPresenter::WorkerBoxClosed(QMessageBox* box) {
    const auto entry = std::find_if(m_workerBoxes.begin(), m_workerBoxes.end(),
                                    [box](const WorkerBox& open) { return open.box.get() == box; });
    if (entry == m_workerBoxes.end()) {
        return;
    }
    WorkerBox closed = std::move(*entry);
    m_workerBoxes.erase(entry);
    closed.finished();
    DisposeLater(std::move(closed.box));
}
