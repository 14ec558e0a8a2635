#include "ui/CZarvoDlg.h"

#include <unistd.h>

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QResizeEvent>
#include <filesystem>
#include <optional>
#include <system_error>

#include "config/ConfigFile.h"
#include "config/ServerSettings.h"
#include "fetch/ControlIds.h"
#include "fetch/RunSetup.h"
#include "platform/ErrorBox.h"
#include "platform/ProgramFolder.h"
#include "platform/Secret.h"
#include "ui/CAboutDlg.h"
#include "ui/CConfigDlg.h"
#include "ui/CDialogUnits.h"
#include "ui/CPasswordStore.h"
#include "ui/CZarvoIcon.h"

namespace {

// The ids of the controls that have none in fetch/ControlIds.h.
constexpr int IDC_EXIT = 2;
constexpr int IDC_START = 1002;
constexpr int IDC_CONFIGURE = 1003;
constexpr int IDC_GALLERY = 1030;
constexpr int IDC_LOG = 1031;
constexpr int IDC_STOP = 1004;
constexpr int IDC_BROWSER = 1009;
constexpr int IDC_PREVIOUS = 1010;
constexpr int IDC_NEXT = 1011;
constexpr int IDC_DELETE_FILE = 1012;

// The designed window, in dialog units, and the band below it that holds the status line.
constexpr int DESIGN_WIDTH = 434;
constexpr int DESIGN_HEIGHT = 295;
constexpr int STATUS_BAND = 14;

void SetId(QWidget& widget, int id) {
    widget.setObjectName(QString::number(id));
}

// The stored password of the configured server's user, for a run; empty when the settings name
// no user. Whatever cannot be read here (the files, the settings) is left for the worker to
// report; only a password file that is refused is shown, and the run goes on without it.
std::string RunPassword() {
    CServerSettings settings;
    std::string error;
    std::error_code ignored;
    if (!ReadServerSettings(settings, error) || settings.user.empty() ||
        !std::filesystem::exists(CONFIG_FILE_NAME, ignored)) {
        return {};
    }
    std::vector<std::string> groups;
    std::string serverLine;
    if (!ReadConfigFile(CONFIG_FILE_NAME, groups, serverLine) || serverLine.empty()) {
        return {};
    }
    const CServerAddress address = ParseServerLine(serverLine, settings);
    std::string password;
    if (!CPasswordStore::Load(CPasswordStore::KeyFor(settings.user, address.HostAndPort()),
                              password, error)) {
        platform::ShowErrorBox(error);
    }
    return password;
}

void MakeStatusBox(QLineEdit& edit, int id, bool rightAligned) {
    SetId(edit, id);
    edit.setReadOnly(true);
    if (rightAligned) {
        edit.setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
}

}  // namespace

CZarvoDlg::CZarvoDlg(QWidget* parent)
    : QDialog(parent),
      m_exit(QStringLiteral("Exit"), this),
      m_overallProgress(this),
      m_groupProgress(this),
      m_start(QStringLiteral("Start"), this),
      m_configure(QStringLiteral("Configure"), this),
      m_galleryButton(QStringLiteral("Gallery..."), this),
      m_logButton(QStringLiteral("Log"), this),
      m_stop(QStringLiteral("Stop"), this),
      m_newsgroupStatus(QStringLiteral("Newsgroup Status"), this),
      m_overallStatus(QStringLiteral("Overall Status"), this),
      m_browser(this),
      m_previous(QStringLiteral("Previous"), this),
      m_pictureControl(QStringLiteral("Picture Control"), this),
      m_next(QStringLiteral("Next"), this),
      m_deleteFile(QStringLiteral("Delete File"), this),
      m_groupName(this),
      m_processingLabel(QStringLiteral("Processing Newsgroup:"), this),
      m_groupCounter(this),
      m_articleCounter(this),
      m_currentPictureLabel(QStringLiteral("Current Picture:"), this),
      m_pictureName(this),
      m_pictureCounter(this),
      m_statusLine(this),
      m_runLog(this),
      m_requests(*this),
      m_pictures(*this) {
    setWindowTitle(QString::fromLatin1(CAPTION));
    // The program's main window, not a dialog over another one: a caption, a system menu, a
    // maximise box and a close box. It can grow beyond its designed size, never shrink below.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint |
                   Qt::WindowCloseButtonHint);
    const CDialogUnits units = CDialogUnits::FromFont(font());
    setMinimumSize(units.ToPixelsX(DESIGN_WIDTH), units.ToPixelsY(DESIGN_HEIGHT + STATUS_BAND));
    resize(minimumSize());

    units.Place(m_exit, 377, 93, 50, 14);
    units.Place(m_overallProgress, 11, 36, 149, 9);
    units.Place(m_groupProgress, 10, 112, 151, 9);
    units.Place(m_start, 377, 13, 50, 16);
    units.Place(m_configure, 377, 61, 50, 16);
    // Beside Configure, in the free room right of the status frames.
    units.Place(m_galleryButton, 322, 61, 50, 16);
    // The run log, below the gallery.
    units.Place(m_logButton, 322, 80, 50, 16);
    units.Place(m_stop, 377, 32, 50, 16);
    units.Place(m_newsgroupStatus, 7, 64, 270, 63);
    units.Place(m_overallStatus, 8, 21, 270, 34);
    units.Place(m_browser, 278, 137, 153, 151);
    units.Place(m_previous, 89, 172, 70, 17);
    units.Place(m_pictureControl, 85, 163, 156, 104);
    units.Place(m_next, 89, 192, 70, 17);
    units.Place(m_deleteFile, 89, 212, 70, 17);
    units.Place(m_groupName, 10, 89, 267, 12);
    units.Place(m_processingLabel, 9, 76, 124, 12);
    units.Place(m_groupCounter, 192, 35, 85, 11);
    units.Place(m_articleCounter, 192, 110, 85, 11);
    units.Place(m_currentPictureLabel, 91, 238, 57, 11);
    units.Place(m_pictureName, 88, 252, 152, 14);
    units.Place(m_pictureCounter, 162, 236, 77, 12);
    m_viewPlace = m_browser.geometry();
    m_statusPlace = units.ToPixels(7, DESIGN_HEIGHT + 1, DESIGN_WIDTH - 14, STATUS_BAND - 3);
    m_statusLine.setGeometry(m_statusPlace);

    // The group boxes only frame their controls, which stay the window's own children: behind
    // everything else.
    for (QGroupBox* frame : {&m_pictureControl, &m_overallStatus, &m_newsgroupStatus}) {
        frame->lower();
        frame->setFocusPolicy(Qt::NoFocus);
        // The title sits on the frame's top line, as in the template's group boxes, rather
        // than above it: the controls were placed for that.
        frame->setStyleSheet(QStringLiteral(
            "QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 0.5em; }"
            "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
            " left: 6px; padding: 0 2px; }"));
    }
    SetId(m_exit, IDC_EXIT);
    SetId(m_overallProgress, IDC_OVERALL_PROGRESS);
    SetId(m_groupProgress, IDC_GROUP_PROGRESS);
    SetId(m_start, IDC_START);
    SetId(m_configure, IDC_CONFIGURE);
    SetId(m_galleryButton, IDC_GALLERY);
    SetId(m_logButton, IDC_LOG);
    SetId(m_stop, IDC_STOP);
    SetId(m_browser, IDC_BROWSER);
    SetId(m_previous, IDC_PREVIOUS);
    SetId(m_next, IDC_NEXT);
    SetId(m_deleteFile, IDC_DELETE_FILE);
    MakeStatusBox(m_groupName, IDC_GROUP_NAME, false);
    MakeStatusBox(m_groupCounter, IDC_GROUP_COUNTER, true);
    MakeStatusBox(m_articleCounter, IDC_ARTICLE_COUNTER, true);
    MakeStatusBox(m_pictureName, IDC_PICTURE_NAME, true);
    MakeStatusBox(m_pictureCounter, IDC_PICTURE_COUNTER, true);

    // The template's order is the tab order; the bars, frames, labels, the view and the status
    // line take no part in it.
    QWidget* const tabOrder[] = {
        &m_exit,         &m_start,          &m_configure,   &m_galleryButton, &m_logButton,
        &m_stop,         &m_previous,       &m_next,        &m_deleteFile,    &m_groupName,
        &m_groupCounter, &m_articleCounter, &m_pictureName, &m_pictureCounter};
    for (std::size_t i = 1; i < std::size(tabOrder); ++i) {
        QWidget::setTabOrder(tabOrder[i - 1], tabOrder[i]);
    }
    m_exit.setFocus();
    ShowRunning(false);
    UpdatePictureButtons();

    connect(&m_exit, &QPushButton::clicked, this, &CZarvoDlg::OnExit);
    connect(&m_start, &QPushButton::clicked, this, &CZarvoDlg::OnStart);
    connect(&m_stop, &QPushButton::clicked, this, &CZarvoDlg::OnStop);
    connect(&m_configure, &QPushButton::clicked, this, &CZarvoDlg::OnConfigure);
    connect(&m_galleryButton, &QPushButton::clicked, this, &CZarvoDlg::OnGallery);
    connect(&m_logButton, &QPushButton::clicked, this, &CZarvoDlg::OnLog);
    connect(&m_previous, &QPushButton::clicked, this, &CZarvoDlg::OnPrevious);
    connect(&m_next, &QPushButton::clicked, this, [this] { OnNext(); });
    connect(&m_deleteFile, &QPushButton::clicked, this, &CZarvoDlg::OnDeleteFile);

    m_initialized = OnInitDialog();
}

CZarvoDlg::~CZarvoDlg() {
    EndWorker();
}

bool CZarvoDlg::OnInitDialog() {
    setWindowIcon(CZarvoIcon::Create());
    m_runLog.setWindowIcon(windowIcon());

    const std::optional<std::string> folder = platform::GetProgramFolder();
    if (!folder) {
        platform::ShowErrorBox("GetModuleFileName failed!!");
        return false;
    }
    // Every relative name of the program (zarvo.cfg, images/, the article files, the page)
    // lies in the program folder from here on.
    if (::chdir(folder->c_str()) != 0) {
        platform::ShowErrorBox("chdir failed");
        return false;
    }
    m_programFolder = *folder;
    m_pictures.SetProgramFolder(m_programFolder);
    // A folder that exists already is fine; one that cannot be made shows up later, when a
    // picture cannot be written.
    std::error_code ignored;
    std::filesystem::create_directory("images", ignored);
    std::filesystem::create_directory("tmp_dir", ignored);

    m_worker = std::make_unique<CFetchWorker>(*this);
    if (!m_worker->InitServer()) {
        platform::ShowErrorBox("NewsServer INIT FAILED!!");
        return false;
    }
    if (!m_worker->StartThread()) {
        platform::ShowErrorBox("beginthreadex failed");
        return false;
    }
    ShowSetup();
    return true;
}

bool CZarvoDlg::EndWorker() {
    // The stop flag first, so that a worker let go below stops at its next test instead of
    // racing on through its articles with nobody to show them to.
    if (m_worker) {
        m_worker->OnStop();
    }
    // Then let go of every call the worker is waiting on here, and of its message boxes:
    // ending the worker waits for the call under way, which would otherwise wait for us.
    m_requests.Release();
    emit exiting();
    if (!m_worker) {
        return true;
    }
    return m_worker->EndRun(EXIT_WAIT);
}

void CZarvoDlg::OnStart() {
    if (!m_worker) {
        return;
    }
    std::string server;
    std::vector<std::string> groups;
    const RunSetup setup = CheckRunSetup(server, groups);
    if (setup != RunSetup::Ready) {
        // Nothing to fetch yet: Start leads to where that is chosen. A file that could not be
        // read has said so.
        if (setup != RunSetup::Unreadable) {
            OnConfigure();
        }
        return;
    }
    // At once, so that a second press cannot ask for a second run; the worker confirms with
    // SetRunning when its run begins and ends.
    ShowRunning(true);
    // The run's alone: the worker wipes its copy when the run has taken it, and so do we.
    std::string password = RunPassword();
    m_worker->OnStart(password);
    platform::WipeSecret(password);
}

void CZarvoDlg::ShowRunning(bool running) {
    m_running = running;
    m_start.setEnabled(!running);
    m_stop.setEnabled(running);
    UpdateTitle();
}

void CZarvoDlg::ShowSetup() {
    std::string server;
    std::vector<std::string> groups;
    const RunSetup setup = CheckRunSetup(server, groups);
    if (setup != RunSetup::Unreadable) {
        m_statusLine.SetStatusText(
            QString::fromStdString(DescribeRunSetup(setup, server, groups.size())));
        m_showsSetup = true;
    }
}

void CZarvoDlg::UpdateTitle() {
    QString title = QString::fromLatin1(CAPTION);
    if (m_running) {
        const std::int64_t span = m_overallProgress.High() - m_overallProgress.Low();
        const std::int64_t done = m_overallProgress.Position() - m_overallProgress.Low();
        title += QStringLiteral(" \u2014 %1%").arg(span > 0 ? done * 100 / span : 0);
        if (!m_groupName.text().isEmpty()) {
            title += QStringLiteral(" \u2014 ") + m_groupName.text();
        }
    }
    setWindowTitle(title);
}

void CZarvoDlg::UpdatePictureButtons() {
    const auto count = static_cast<int>(m_pictures.Count());
    const int current = g_currentPicture.load();
    m_previous.setEnabled(count > 0 && current > 0);
    m_next.setEnabled(count > 0 && current < count - 1);
    m_deleteFile.setEnabled(current >= 0 && current < count);
}

void CZarvoDlg::OnStop() {
    if (m_worker) {
        m_worker->OnStop();
    }
}

void CZarvoDlg::OnExit() {
    if (m_exiting) {
        return;
    }
    m_exiting = true;
    m_workerEnded = EndWorker();
    done(QDialog::Accepted);
}

void CZarvoDlg::reject() {
    OnExit();
}

void CZarvoDlg::OnConfigure() {
    // Parented to this window, as the owner that the configuration dialog is modal over.
    CConfigDlg dialog(this);
    const int result = dialog.DoModal();
    // What the status line said to set up may be done now; a run's own words stay.
    if (!m_running && (result == QDialog::Accepted || m_showsSetup)) {
        ShowSetup();
    }
}

void CZarvoDlg::OnGallery() {
    if (!m_gallery) {
        const QString images = QString::fromStdString(m_programFolder) + QStringLiteral("images");
        m_gallery = std::make_unique<CGalleryWindow>(images, this);
        m_gallery->setWindowIcon(windowIcon());
        // The run's pictures come from the worker's thread; the gallery reads them on its own.
        connect(this, &CZarvoDlg::pictureAdded, m_gallery.get(), &CGalleryWindow::NotePicture);
        connect(m_gallery.get(), &CGalleryWindow::picturesDeleted, this,
                [this](const QStringList& paths) {
                    std::vector<std::string> gone;
                    for (const QString& path : paths) {
                        gone.push_back(path.toStdString());
                    }
                    m_pictures.ForgetPictures(gone);
                });
    }
    m_gallery->show();
    m_gallery->raise();
    m_gallery->activateWindow();
}

void CZarvoDlg::OnLog() {
    m_runLog.show();
    m_runLog.raise();
    m_runLog.activateWindow();
}

void CZarvoDlg::OnAbout() {
    CAboutDlg about(this);
    about.setWindowIcon(windowIcon());
    about.exec();
}

void CZarvoDlg::OnPrevious() {
    m_pictures.OnPrevious();
}

void CZarvoDlg::OnNext() {
    // The worker's call comes from its own thread and is carried over; the button's comes
    // from here.
    m_requests.Call([this] { m_pictures.OnNext(); });
}

void CZarvoDlg::OnDeleteFile() {
    m_pictures.OnDeleteFile();
}

void CZarvoDlg::keyPressEvent(QKeyEvent* event) {
    // Help (F1) is the About box: the program has no help of its own.
    if (event->matches(QKeySequence::HelpContents)) {
        OnAbout();
        return;
    }
    if (event->key() == Qt::Key_G && event->modifiers() == Qt::ControlModifier) {
        OnGallery();
        return;
    }
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && event->modifiers() == Qt::NoModifier) {
        // A focused button takes Enter for itself; anywhere else Enter is the OK command,
        // which is Exit.
        if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
            button->click();
        } else {
            OnExit();
        }
        return;
    }
    QDialog::keyPressEvent(event);
}

void CZarvoDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    // Every control keeps its place; the view takes all the room beyond the designed size, and
    // the status line stays at the bottom, across the whole width.
    const QSize extra = (size() - minimumSize()).expandedTo(QSize(0, 0));
    m_browser.setGeometry(m_viewPlace.adjusted(0, 0, extra.width(), extra.height()));
    m_statusLine.setGeometry(
        m_statusPlace.translated(0, extra.height()).adjusted(0, 0, extra.width(), 0));
}

void CZarvoDlg::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    const QAction* about = menu.addAction(QString::fromLatin1(ABOUT_ENTRY));
    if (menu.exec(event->globalPos()) == about) {
        OnAbout();
    }
}

QLineEdit* CZarvoDlg::EditControl(int control) {
    switch (control) {
        case IDC_GROUP_NAME:
            return &m_groupName;
        case IDC_GROUP_COUNTER:
            return &m_groupCounter;
        case IDC_ARTICLE_COUNTER:
            return &m_articleCounter;
        case IDC_PICTURE_NAME:
            return &m_pictureName;
        case IDC_PICTURE_COUNTER:
            return &m_pictureCounter;
        default:
            return nullptr;
    }
}

CProgressBar* CZarvoDlg::ProgressControl(int control) {
    switch (control) {
        case IDC_OVERALL_PROGRESS:
            return &m_overallProgress;
        case IDC_GROUP_PROGRESS:
            return &m_groupProgress;
        default:
            return nullptr;
    }
}

void CZarvoDlg::SetEditText(int control, const std::string& text) {
    m_requests.Call([this, control, text] {
        if (QLineEdit* edit = EditControl(control)) {
            // The new text replaces the whole content.
            edit->setText(QString::fromUtf8(text));
        }
        if (control == IDC_PICTURE_COUNTER) {
            UpdatePictureButtons();
        } else if (control == IDC_GROUP_NAME) {
            UpdateTitle();
        }
    });
}

void CZarvoDlg::SetProgress(int control, std::int64_t low, std::int64_t high, int step,
                            std::int64_t position) {
    m_requests.Call([=, this] {
        if (CProgressBar* bar = ProgressControl(control)) {
            bar->SetProgress(low, high, step, position);
        }
        if (control == IDC_OVERALL_PROGRESS) {
            UpdateTitle();
        }
    });
}

void CZarvoDlg::StepProgress(int control) {
    m_requests.Call([this, control] {
        if (CProgressBar* bar = ProgressControl(control)) {
            bar->StepIt();
        }
        if (control == IDC_OVERALL_PROGRESS) {
            UpdateTitle();
        }
    });
}

// The list itself needs no trip to this window's thread: it is used only under its lock. What
// shows of it does: a new run's list starts empty, at its first entry, and so does the view.
void CZarvoDlg::ClearPictures() {
    m_pictures.ClearPictures();
    m_requests.Call([this] {
        g_currentPicture = 0;
        m_pictures.ShowPicture(0);
    });
}

std::size_t CZarvoDlg::AppendPicture(const std::string& path) {
    const std::size_t size = m_pictures.AppendPicture(path);
    emit pictureAdded(QString::fromStdString(path));
    return size;
}

int CZarvoDlg::CurrentPicture() {
    return g_currentPicture.load();
}

void CZarvoDlg::SetStatusText(const std::string& text) {
    m_requests.Call([this, text] {
        m_statusLine.SetStatusText(QString::fromUtf8(text));
        m_showsSetup = false;
    });
}

void CZarvoDlg::AddLogEntry(const CRunLogEntry& entry) {
    m_requests.Call([this, entry] {
        m_runLog.Add(entry);
        m_logButton.setText(QStringLiteral("Log (%1)").arg(m_runLog.Count()));
    });
}

void CZarvoDlg::SetRunning(bool running) {
    m_requests.Call([this, running] { ShowRunning(running); });
}

void CZarvoDlg::SetPictureName(const std::string& name) {
    m_pictureName.setText(QString::fromUtf8(name));
}

void CZarvoDlg::SetPictureCounter(const std::string& text) {
    m_pictureCounter.setText(QString::fromUtf8(text));
    UpdatePictureButtons();
}

void CZarvoDlg::Navigate(const std::string& pagePath) {
    m_browser.Navigate(pagePath);
}

void CZarvoDlg::ClearView() {
    m_browser.Clear();
}
