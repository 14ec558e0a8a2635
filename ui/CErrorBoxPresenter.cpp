#include "ui/CErrorBoxPresenter.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QMessageBox>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <utility>

#include "platform/ErrorBox.h"

namespace {

void SetUpBox(QMessageBox& box, const char* caption, const std::string& text) {
    box.setIcon(QMessageBox::NoIcon);
    box.setWindowTitle(QString::fromLatin1(caption));
    box.setText(QString::fromUtf8(text));
    box.setTextFormat(Qt::PlainText);
    // Ctrl+C copies the message, as message boxes do on other desktops, so that the user can
    // paste it into a report.
    QAction* const copy = box.addAction(QStringLiteral("Copy"));
    copy->setShortcut(QKeySequence::Copy);
    QObject::connect(copy, &QAction::triggered, &box,
                     [&box] { QApplication::clipboard()->setText(box.text()); });
}

void SetUpErrorBox(QMessageBox& box, const std::string& text) {
    SetUpBox(box, CErrorBoxPresenter::CAPTION, text);
    box.setStandardButtons(QMessageBox::Ok);
}

// Information: the program's own caption, the information icon and OK.
void SetUpInformationBox(QMessageBox& box, const std::string& text) {
    SetUpBox(box, CErrorBoxPresenter::QUESTION_CAPTION, text);
    box.setIcon(QMessageBox::Information);
    box.setStandardButtons(QMessageBox::Ok);
}

// Yes and No. What is asked (trusting a certificate) is never to be agreed to by a stray Enter,
// so No is the default; Escape and the close box press No too.
void SetUpQuestionBox(QMessageBox& box, const std::string& text) {
    SetUpBox(box, CErrorBoxPresenter::QUESTION_CAPTION, text);
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
}

bool AnsweredYes(const QMessageBox& box) {
    return box.clickedButton() != nullptr && box.clickedButton() == box.button(QMessageBox::Yes);
}

// Shows the box on top of its parent and asks for the keyboard focus: a window manager puts a
// new window wherever its rules say, and a box that waits for an answer must not hide.
void Present(QWidget& box) {
    box.show();
    box.raise();
    box.activateWindow();
}

// Modal from its first showing on, so that exec() only waits for the answer.
void RunModal(QMessageBox& box) {
    box.setWindowModality(Qt::ApplicationModal);
    Present(box);
    box.exec();
}

void ShowModalBox(const std::string& text, QWidget* parent, bool information) {
    QMessageBox box(parent);
    if (information) {
        SetUpInformationBox(box, text);
    } else {
        SetUpErrorBox(box, text);
    }
    RunModal(box);
}

bool AskModal(const std::string& text, QWidget* parent) {
    QMessageBox box(parent);
    SetUpQuestionBox(box, text);
    RunModal(box);
    return AnsweredYes(box);
}

}  // namespace

CErrorBoxPresenter::CErrorBoxPresenter() : m_requests(std::make_shared<CUiThreadRequests>(*this)) {
    // The handler holds its own share of the requests and only a guarded pointer to this
    // object: a worker that is still inside it when the window has gone finds the requests
    // released and touches nothing else.
    const std::shared_ptr<CUiThreadRequests> requests = m_requests;
    const QPointer<CErrorBoxPresenter> self(this);
    const auto showHandler = [requests, self](BoxKind kind) {
        return [requests, self, kind](const std::string& text) {
            if (requests->OnUiThread()) {
                ShowModalBox(text, self.isNull() ? nullptr : self->BoxParent(),
                             kind == BoxKind::Information);
                return;
            }
            const bool shown =
                requests->CallUntilFinished([self, kind, text](std::function<void()> finished) {
                    if (self.isNull()) {
                        finished();
                        return;
                    }
                    self->OpenWorkerBox(kind, text,
                                        [finished = std::move(finished)](bool) { finished(); });
                });
            if (!shown) {
                std::fprintf(stderr, "ERROR: %s\n", text.c_str());
            }
        };
    };
    platform::SetErrorBoxHandler(showHandler(BoxKind::Error));
    platform::SetInformationHandler(showHandler(BoxKind::Information));
    platform::SetQuestionHandler([requests, self](const std::string& text) {
        if (requests->OnUiThread()) {
            return AskModal(text, self.isNull() ? nullptr : self->BoxParent());
        }
        // Written before the asking thread is woken, read after: No unless the user said Yes.
        const auto yes = std::make_shared<std::atomic<bool>>(false);
        const bool shown =
            requests->CallUntilFinished([self, text, yes](std::function<void()> finished) {
                if (self.isNull()) {
                    finished();
                    return;
                }
                self->OpenWorkerBox(BoxKind::Question, text,
                                    [yes, finished = std::move(finished)](bool answer) {
                                        *yes = answer;
                                        finished();
                                    });
            });
        if (!shown) {
            std::fprintf(stderr, "QUESTION (answered No): %s\n", text.c_str());
            return false;
        }
        return yes->load();
    });
}

CErrorBoxPresenter::~CErrorBoxPresenter() {
    ReleaseWorkers();
    platform::SetErrorBoxHandler({});
    platform::SetInformationHandler({});
    platform::SetQuestionHandler({});
}

void CErrorBoxPresenter::SetOwnerWindow(QWidget* window) {
    m_owner = window;
}

QWidget* CErrorBoxPresenter::BoxParent() const {
    if (QWidget* modal = QApplication::activeModalWidget()) {
        return modal;
    }
    return m_owner.data();
}

void CErrorBoxPresenter::ReleaseWorkers() {
    // The boxes on show count as answered (a question with No); only boxes asked for from now on
    // are turned away.
    std::vector<WorkerBox> boxes = std::exchange(m_workerBoxes, {});
    for (WorkerBox& entry : boxes) {
        if (!entry.box.isNull()) {
            entry.box->disconnect(this);
            entry.box->hide();
            // It may be inside one of its own signals: deleted once that is over.
            entry.box->deleteLater();
        }
        entry.finished(false);
    }
    m_requests->Release();
}

std::vector<QMessageBox*> CErrorBoxPresenter::WorkerBoxes() const {
    std::vector<QMessageBox*> boxes;
    for (const WorkerBox& entry : m_workerBoxes) {
        boxes.push_back(entry.box.data());
    }
    return boxes;
}

void CErrorBoxPresenter::CloseOldestWorkerBox() {
    if (!m_workerBoxes.empty() && !m_workerBoxes.front().box.isNull()) {
        m_workerBoxes.front().box->done(QMessageBox::Ok);
    }
}

void CErrorBoxPresenter::OpenWorkerBox(BoxKind kind, const std::string& text,
                                       std::function<void(bool yes)> finished) {
    // Qt owns the box from here on: its parent window, or deleteLater once it is answered.
    QMessageBox* box = std::make_unique<QMessageBox>().release();
    if (kind == BoxKind::Question) {
        SetUpQuestionBox(*box, text);
    } else if (kind == BoxKind::Information) {
        SetUpInformationBox(*box, text);
    } else {
        SetUpErrorBox(*box, text);
    }
    // Blocks no window: the main window stays usable while the worker waits for the user.
    box->setWindowModality(Qt::NonModal);
    connect(box, &QMessageBox::finished, this,
            [this, box] { WorkerBoxClosed(box, AnsweredYes(*box)); });
    // Gone unanswered, with a parent window that went first: the worker goes on all the same,
    // and a question counts as answered No.
    connect(box, &QObject::destroyed, this, [this] { WorkerBoxClosed(nullptr, false); });
    m_workerBoxes.push_back(WorkerBox{box, std::move(finished)});
    AttachWorkerBox(*box);
}

void CErrorBoxPresenter::AttachWorkerBox(QMessageBox& box) {
    QWidget* const parent = BoxParent();
    if (box.parentWidget() != parent) {
        const bool wasShown = box.isVisible();
        const QPoint place = box.pos();
        box.setParent(parent, box.windowFlags());
        if (wasShown) {
            box.move(place);
        }
    }
    auto* const dialog = qobject_cast<QDialog*>(parent);
    if (dialog != nullptr && parent != m_owner) {
        connect(
            dialog, &QDialog::finished, this,
            [this, guarded = QPointer<QMessageBox>(&box)] {
                const bool open = std::any_of(m_workerBoxes.begin(), m_workerBoxes.end(),
                                              [&](const WorkerBox& entry) {
                                                  return !guarded.isNull() && entry.box == guarded;
                                              });
                if (open) {
                    AttachWorkerBox(*guarded);
                }
            },
            Qt::SingleShotConnection);
    }
    Present(box);
}

void CErrorBoxPresenter::WorkerBoxClosed(QMessageBox* box, bool yes) {
    // Null stands for a box destroyed before it was answered; its guarded pointer is null.
    const auto entry =
        std::find_if(m_workerBoxes.begin(), m_workerBoxes.end(),
                     [box](const WorkerBox& open) { return open.box.data() == box; });
    if (entry == m_workerBoxes.end()) {
        return;
    }
    WorkerBox closed = std::move(*entry);
    m_workerBoxes.erase(entry);
    closed.finished(yes);
    if (!closed.box.isNull()) {
        closed.box->disconnect(this);
        closed.box->deleteLater();
    }
}
