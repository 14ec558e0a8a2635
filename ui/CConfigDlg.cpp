#include "ui/CConfigDlg.h"

#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QStringList>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <iterator>
#include <limits>
#include <memory>
#include <system_error>
#include <utility>

#include "config/ConfigFile.h"
#include "config/PasswordFile.h"
#include "decode/CContentIndex.h"
#include "nntp/ConnectFailure.h"
#include "nntp/HostAndPort.h"
#include "nntp/Wildmat.h"
#include "platform/ErrorBox.h"
#include "platform/Secret.h"
#include "ui/CDialogUnits.h"
#include "ui/CPasswordStore.h"

namespace {

// The designed dialog, in dialog units, as it opens: the server and the two lists, then the
// bands that hold the connection's controls, those for walking a group and those for what to
// collect, and Done and Cancel at the bottom. The lists share what the dialog is made taller or
// shorter, down to a few rows each.
constexpr int DESIGN_WIDTH = 377;
constexpr int DESIGN_HEIGHT = 493;
constexpr int LIST_HEIGHT = 86;
constexpr int MIN_LIST_HEIGHT = 48;
constexpr int BANDS_TOP = 264;
constexpr int CONNECTION_BAND = 56;
constexpr int GROUP_BAND = 54;
constexpr int BUTTONS_TOP = 472;

// The folder of the collection, in the program folder, which the content index lists.
constexpr const char* COLLECTION_ROOT = "images";
// How often Fetch Newsgroups' progress line is brought up to date.
constexpr int FETCH_TICK_MS = 250;

// The Security field's entries, in order.
constexpr ConnectionSecurity SECURITIES[] = {ConnectionSecurity::None, ConnectionSecurity::Tls,
                                             ConnectionSecurity::StartTls};
constexpr const char* SECURITY_NAMES[] = {"None", "TLS", "STARTTLS"};

int SecurityIndex(ConnectionSecurity security) {
    for (std::size_t i = 0; i < std::size(SECURITIES); ++i) {
        if (SECURITIES[i] == security) {
            return static_cast<int>(i);
        }
    }
    return 0;
}

int DefaultPort(ConnectionSecurity security) {
    return security == ConnectionSecurity::Tls ? CNewsServer::NNTPS_PORT : CNewsServer::NNTP_PORT;
}

void SetId(QWidget& widget, int id) {
    widget.setObjectName(QString::number(id));
}

// Gives the widget its designed place, in dialog units, moved right and down and made wider
// and taller by pixels.
void Place(const CDialogUnits& units, QWidget& widget, const QRect& designed, int right = 0,
           int down = 0, int wider = 0, int taller = 0) {
    widget.setGeometry(
        units.ToPixels(designed.x(), designed.y(), designed.width(), designed.height())
            .translated(right, down)
            .adjusted(0, 0, wider, taller));
}

// "1 group", "83,412 groups".
std::string Counted(std::size_t count, const char* singular, const char* plural) {
    std::string digits = std::to_string(count);
    for (std::size_t at = digits.size(); at > 3; at -= 3) {
        digits.insert(at - 3, ",");
    }
    // Piece by piece: GCC 12 at -O3 warns of an overlapping copy (-Wrestrict) in a chain of +.
    digits += ' ';
    digits += count == 1 ? singular : plural;
    return digits;
}

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

CConfigDlg::CConfigDlg(QWidget* parent)
    : QDialog(parent),
      m_done(QStringLiteral("Done"), this),
      m_cancel(QStringLiteral("Cancel"), this),
      m_newsServer(this),
      m_newsServerLabel(QStringLiteral("News Server:"), this),
      m_fetchNewsgroups(QStringLiteral("Fetch Newsgroups"), this),
      m_availableList(this),
      m_selectedList(this),
      m_availableLabel(QStringLiteral("Available Newsgroups:"), this),
      m_selectedLabel(QStringLiteral("Selected Newsgroups:"), this),
      m_add(QStringLiteral("Add"), this),
      m_remove(QStringLiteral("Remove"), this),
      m_portLabel(QStringLiteral("Port:"), this),
      m_port(this),
      m_securityLabel(QStringLiteral("Security:"), this),
      m_security(this),
      m_userNameLabel(QStringLiteral("User name:"), this),
      m_userName(this),
      m_passwordLabel(QStringLiteral("Password:"), this),
      m_password(this),
      m_allowUnencrypted(QStringLiteral("Allow sending the password unencrypted"), this),
      m_onlyNewArticles(QStringLiteral("Fetch only articles not fetched before"), this),
      m_firstRunNewestLabel(
          QStringLiteral("On a group's first run, fetch at most the newest N articles:"), this),
      m_firstRunNewest(this),
      m_connectionsLabel(QStringLiteral("Connections:"), this),
      m_connections(this),
      m_requestsInFlightLabel(QStringLiteral("Requests in flight:"), this),
      m_requestsInFlight(this),
      m_collectLabel(QStringLiteral("What to collect:"), this),
      m_collectPictures(QStringLiteral("Pictures"), this),
      m_collectArchives(QStringLiteral("Pictures inside archives (ZIP, RAR, 7z)"), this),
      m_maxPostSizeLabel(QStringLiteral("Largest post to fetch (MB, 0 for no limit):"), this),
      m_maxPostSize(this),
      m_skipPostersLabel(QStringLiteral("Skip posts from (wildmat patterns, one a line):"), this),
      m_skipPosters(this),
      m_skipSubjectsLabel(QStringLiteral("Skip subjects (wildmat patterns, one a line):"), this),
      m_skipSubjects(this),
      m_fetchStatus(this),
      m_cancelFetch(QStringLiteral("Cancel"), this),
      m_forgetDeleted(QStringLiteral("Forget deleted pictures\u2026"), this),
      m_forgetStatus(this),
      m_filter(this) {
    setWindowTitle(QString::fromLatin1(CAPTION));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint |
                   Qt::WindowCloseButtonHint);
    const CDialogUnits units = CDialogUnits::FromFont(font());
    setMinimumSize(units.ToPixelsX(DESIGN_WIDTH),
                   units.ToPixelsY(DESIGN_HEIGHT - 2 * (LIST_HEIGHT - MIN_LIST_HEIGHT)));
    resize(units.ToPixelsX(DESIGN_WIDTH), units.ToPixelsY(DESIGN_HEIGHT));

    // The template's order is the tab order.
    m_done.setObjectName(QStringLiteral("1"));
    m_cancel.setObjectName(QStringLiteral("2"));
    m_newsServer.setObjectName(QStringLiteral("1011"));
    m_fetchNewsgroups.setObjectName(QStringLiteral("1012"));
    m_availableList.setObjectName(QStringLiteral("1014"));
    m_selectedList.setObjectName(QStringLiteral("1015"));
    m_add.setObjectName(QStringLiteral("1016"));
    m_remove.setObjectName(QStringLiteral("1017"));
    m_newsServerLabel.setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    QWidget::setTabOrder(&m_done, &m_cancel);
    QWidget::setTabOrder(&m_cancel, &m_newsServer);
    QWidget::setTabOrder(&m_newsServer, &m_fetchNewsgroups);
    QWidget::setTabOrder(&m_fetchNewsgroups, &m_cancelFetch);
    QWidget::setTabOrder(&m_cancelFetch, &m_filter);
    QWidget::setTabOrder(&m_filter, &m_availableList);
    QWidget::setTabOrder(&m_availableList, &m_selectedList);
    QWidget::setTabOrder(&m_selectedList, &m_add);
    QWidget::setTabOrder(&m_add, &m_remove);
    // Fetch Newsgroups' progress line, between the server and the lists, and its Cancel.
    m_fetchStatus.setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    SetId(m_cancelFetch, IDC_CANCEL_FETCH);
    m_cancelFetch.hide();
    m_fetchTicker.setInterval(FETCH_TICK_MS);
    connect(&m_fetchTicker, &QTimer::timeout, this, &CConfigDlg::ShowFetchProgress);
    MakeFilter();
    MakeConnectionControls();
    MakeGroupControls();
    MakeCollectControls();
    PlaceControls();
    ShowSettings(CServerSettings{});

    // Done is the OK command, which the Enter key also gives (but in the News Server field and
    // the lists); Cancel, Escape and the close box take the dialog's reject path, which writes
    // nothing.
    m_done.setDefault(true);
    connect(&m_done, &QPushButton::clicked, this, &CConfigDlg::OnDone);
    connect(&m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(&m_fetchNewsgroups, &QPushButton::clicked, this, &CConfigDlg::OnFetchNewsgroups);
    connect(&m_cancelFetch, &QPushButton::clicked, this, &CConfigDlg::OnCancelFetch);
    connect(&m_forgetDeleted, &QPushButton::clicked, this, &CConfigDlg::OnForgetDeletedPictures);
    connect(&m_add, &QPushButton::clicked, this, &CConfigDlg::OnAdd);
    connect(&m_remove, &QPushButton::clicked, this, &CConfigDlg::OnRemove);
    connect(&m_availableList, &CListBox::chosen, this, &CConfigDlg::OnAdd);
    connect(&m_selectedList, &CListBox::chosen, this, &CConfigDlg::OnRemove);
}

CConfigDlg::~CConfigDlg() {
    StopBackgroundWork();
}

void CConfigDlg::MakeFilter() {
    SetId(m_filter, IDC_FILTER);
    m_filter.setPlaceholderText(
        QStringLiteral("Filter: part of a name, or a pattern with * and ?"));
    m_filter.setToolTip(
        QStringLiteral("Shows the groups whose names hold the text, in any case; with * (any "
                       "characters) or ? (one character) the groups whose whole names match"));
    m_filter.setClearButtonEnabled(true);
    connect(&m_filter, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_availableList.SetFilter(text.toStdString()); });
    // Typing in the list narrows it instead of jumping to a name that begins with the key.
    m_availableList.SendTypingTo(&m_filter);
}

void CConfigDlg::MakeConnectionControls() {
    for (QLabel* label : {&m_portLabel, &m_securityLabel, &m_userNameLabel, &m_passwordLabel}) {
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    }
    SetId(m_port, IDC_PORT);
    SetId(m_security, IDC_SECURITY);
    SetId(m_userName, IDC_USER_NAME);
    SetId(m_password, IDC_PASSWORD);
    SetId(m_allowUnencrypted, IDC_ALLOW_UNENCRYPTED);

    // Empty or 0: the security's default port, which the field shows as its hint.
    m_port.setValidator(&m_portNumbers);
    for (const char* name : SECURITY_NAMES) {
        m_security.addItem(QString::fromLatin1(name));
    }
    connect(&m_security, &QComboBox::currentIndexChanged, this, &CConfigDlg::ShowDefaultPort);
    ShowDefaultPort();
    m_password.setEchoMode(QLineEdit::Password);

    // After the designed controls in the tab order.
    QWidget::setTabOrder(&m_remove, &m_port);
    QWidget::setTabOrder(&m_port, &m_security);
    QWidget::setTabOrder(&m_security, &m_userName);
    QWidget::setTabOrder(&m_userName, &m_password);
    QWidget::setTabOrder(&m_password, &m_allowUnencrypted);
}

void CConfigDlg::MakeGroupControls() {
    for (QLabel* label : {&m_firstRunNewestLabel, &m_connectionsLabel, &m_requestsInFlightLabel}) {
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    }
    SetId(m_onlyNewArticles, IDC_ONLY_NEW_ARTICLES);
    SetId(m_firstRunNewest, IDC_FIRST_RUN_NEWEST);
    SetId(m_connections, IDC_CONNECTIONS);
    SetId(m_requestsInFlight, IDC_REQUESTS_IN_FLIGHT);

    // The ranges keep what is typed in bounds: a key that would leave them is refused.
    m_firstRunNewest.setDecimals(0);
    m_firstRunNewest.setRange(0, std::numeric_limits<std::uint32_t>::max());
    m_firstRunNewest.setToolTip(QStringLiteral("0 means all"));
    m_connections.setRange(1, CServerSettings::MAX_CONNECTIONS);
    m_requestsInFlight.setRange(0, CServerSettings::MAX_PIPELINE_DEPTH);
    m_requestsInFlight.setSpecialValueText(QStringLiteral("Automatic"));
    m_requestsInFlight.setToolTip(QStringLiteral("Automatic adapts the number to the link"));

    QWidget::setTabOrder(&m_allowUnencrypted, &m_onlyNewArticles);
    QWidget::setTabOrder(&m_onlyNewArticles, &m_firstRunNewest);
    QWidget::setTabOrder(&m_firstRunNewest, &m_connections);
    QWidget::setTabOrder(&m_connections, &m_requestsInFlight);
}

void CConfigDlg::MakeCollectControls() {
    for (QLabel* label : {&m_collectLabel, &m_maxPostSizeLabel, &m_skipPostersLabel,
                          &m_skipSubjectsLabel, &m_forgetStatus}) {
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    }
    SetId(m_collectPictures, IDC_COLLECT_PICTURES);
    SetId(m_collectArchives, IDC_COLLECT_ARCHIVES);
    SetId(m_maxPostSize, IDC_MAX_POST_SIZE);
    SetId(m_skipPosters, IDC_SKIP_POSTERS);
    SetId(m_skipSubjects, IDC_SKIP_SUBJECTS);
    SetId(m_forgetDeleted, IDC_FORGET_DELETED);
    m_forgetDeleted.setToolTip(
        QStringLiteral("Zarvo remembers the pictures you deleted, so that reposts of them are not "
                       "collected again"));

    m_maxPostSize.setRange(0, static_cast<int>(CServerSettings::MAX_MEGABYTES));
    m_maxPostSize.setSpecialValueText(QStringLiteral("No limit"));
    // One pattern a line, as typed; Tab moves on rather than going into the pattern.
    for (QPlainTextEdit* field : {&m_skipPosters, &m_skipSubjects}) {
        field->setLineWrapMode(QPlainTextEdit::NoWrap);
        field->setTabChangesFocus(true);
        field->setToolTip(
            QStringLiteral("* stands for any characters, ? for one; a,b matches either; "
                           "*,!x* all but what begins with x"));
    }

    QWidget::setTabOrder(&m_requestsInFlight, &m_collectPictures);
    QWidget::setTabOrder(&m_collectPictures, &m_collectArchives);
    QWidget::setTabOrder(&m_collectArchives, &m_maxPostSize);
    QWidget::setTabOrder(&m_maxPostSize, &m_skipPosters);
    QWidget::setTabOrder(&m_skipPosters, &m_skipSubjects);
    QWidget::setTabOrder(&m_skipSubjects, &m_forgetDeleted);
}

void CConfigDlg::PlaceControls() {
    const CDialogUnits units = CDialogUnits::FromFont(font());
    // What the dialog has beyond its designed size: the lists share the height, and take the
    // width with the filter box and the progress line; Add and Remove stay centred under
    // Available, the bands below move down, and Done and Cancel keep to the bottom right corner.
    const int wider = width() - units.ToPixelsX(DESIGN_WIDTH);
    const int taller = height() - units.ToPixelsY(DESIGN_HEIGHT);
    const int availableTaller = taller / 2;
    Place(units, m_newsServerLabel, {7, 7, 50, 14});
    Place(units, m_newsServer, {96, 7, 96, 15});
    Place(units, m_fetchNewsgroups, {239, 7, 64, 14});
    Place(units, m_fetchStatus, {25, 27, 268, 12}, 0, 0, wider);
    Place(units, m_cancelFetch, {298, 26, 50, 14}, wider);
    Place(units, m_availableLabel, {25, 44, 95, 9});
    Place(units, m_filter, {125, 41, 223, 12}, 0, 0, wider);
    Place(units, m_availableList, {25, 54, 323, LIST_HEIGHT}, 0, 0, wider, availableTaller);
    Place(units, m_add, {128, 148, 61, 14}, wider / 2, availableTaller);
    Place(units, m_remove, {199, 148, 61, 14}, wider / 2, availableTaller);
    Place(units, m_selectedLabel, {25, 160, 95, 9}, 0, availableTaller);
    Place(units, m_selectedList, {25, 170, 323, LIST_HEIGHT}, 0, availableTaller, wider,
          taller - availableTaller);

    // Two columns below the lists: the first lines up with the News Server field, the second
    // ends where the lists end as designed.
    int top = BANDS_TOP;
    Place(units, m_portLabel, {7, top + 2, 80, 14}, 0, taller);
    Place(units, m_port, {96, top + 2, 40, 14}, 0, taller);
    Place(units, m_securityLabel, {199, top + 2, 38, 14}, 0, taller);
    Place(units, m_security, {239, top + 2, 64, 14}, 0, taller);
    Place(units, m_userNameLabel, {7, top + 20, 80, 14}, 0, taller);
    Place(units, m_userName, {96, top + 20, 96, 14}, 0, taller);
    Place(units, m_passwordLabel, {199, top + 20, 38, 14}, 0, taller);
    Place(units, m_password, {239, top + 20, 109, 14}, 0, taller);
    Place(units, m_allowUnencrypted, {96, top + 38, 252, 10}, 0, taller);
    // The same two columns; the long label reaches up to the second column's fields.
    top += CONNECTION_BAND;
    Place(units, m_onlyNewArticles, {96, top, 252, 10}, 0, taller);
    Place(units, m_firstRunNewestLabel, {7, top + 14, 230, 14}, 0, taller);
    Place(units, m_firstRunNewest, {239, top + 14, 64, 14}, 0, taller);
    Place(units, m_connectionsLabel, {7, top + 32, 80, 14}, 0, taller);
    Place(units, m_connections, {96, top + 32, 40, 14}, 0, taller);
    Place(units, m_requestsInFlightLabel, {155, top + 32, 82, 14}, 0, taller);
    Place(units, m_requestsInFlight, {239, top + 32, 64, 14}, 0, taller);
    // The same two columns, then the two pattern fields side by side across both, sharing the
    // width, then forgetting the deleted pictures, with what it does or did beside it.
    top += GROUP_BAND;
    const int postersWider = wider / 2;
    Place(units, m_collectLabel, {7, top, 80, 10}, 0, taller);
    Place(units, m_collectPictures, {96, top, 52, 10}, 0, taller);
    Place(units, m_collectArchives, {155, top, 193, 10}, 0, taller);
    Place(units, m_maxPostSizeLabel, {7, top + 14, 230, 14}, 0, taller);
    Place(units, m_maxPostSize, {239, top + 14, 64, 14}, 0, taller);
    Place(units, m_skipPostersLabel, {7, top + 32, 168, 9}, 0, taller, postersWider);
    Place(units, m_skipPosters, {7, top + 43, 168, 30}, 0, taller, postersWider);
    Place(units, m_skipSubjectsLabel, {180, top + 32, 168, 9}, postersWider, taller,
          wider - postersWider);
    Place(units, m_skipSubjects, {180, top + 43, 168, 30}, postersWider, taller,
          wider - postersWider);
    Place(units, m_forgetDeleted, {7, top + 78, 110, 14}, 0, taller);
    Place(units, m_forgetStatus, {122, top + 78, 226, 14}, 0, taller, wider);

    Place(units, m_done, {242, BUTTONS_TOP, 50, 14}, wider, taller);
    Place(units, m_cancel, {298, BUTTONS_TOP, 50, 14}, wider, taller);
}

void CConfigDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    PlaceControls();
}

void CConfigDlg::keyPressEvent(QKeyEvent* event) {
    const bool enter = (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
                       (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (enter && focusWidget() == &m_newsServer) {
        // The server named, its newsgroups are what comes next; an empty Selected list would
        // make Done a surprise.
        OnFetchNewsgroups();
        return;
    }
    if ((enter || event->key() == Qt::Key_Down) && focusWidget() == &m_filter) {
        m_availableList.setFocus();
        QAbstractItemModel& shown = *m_availableList.model();
        if (m_availableList.GetCurSel() == CListBox::LB_ERR && shown.rowCount() > 0) {
            m_availableList.selectionModel()->setCurrentIndex(shown.index(0, 0),
                                                              QItemSelectionModel::ClearAndSelect);
        }
        return;
    }
    QDialog::keyPressEvent(event);
}

void CConfigDlg::ShowSettings(const CServerSettings& settings) {
    m_userName.setText(QString::fromUtf8(settings.user));
    m_allowUnencrypted.setChecked(settings.allowUnencrypted);
    m_onlyNewArticles.setChecked(settings.onlyNewArticles);
    m_firstRunNewest.setValue(settings.firstRunNewest);
    m_connections.setValue(settings.connections);
    m_requestsInFlight.setValue(settings.pipelineDepth);
    m_collectPictures.setChecked(settings.collectPictures);
    m_collectArchives.setChecked(settings.collectArchives);
    m_maxPostSize.setValue(static_cast<int>(settings.maxPostMegabytes));
    for (const auto& [field, patterns] : {std::pair{&m_skipPosters, &settings.skipPosters},
                                          std::pair{&m_skipSubjects, &settings.skipSubjects}}) {
        QStringList lines;
        for (const std::string& pattern : *patterns) {
            lines.append(QString::fromStdString(pattern));
        }
        field->setPlainText(lines.join(QLatin1Char('\n')));
    }
}

void CConfigDlg::TakeShownSettings(CServerSettings& settings) const {
    settings.startTls = Security() == ConnectionSecurity::StartTls;
    settings.user = m_userName.text().toStdString();
    settings.allowUnencrypted = m_allowUnencrypted.isChecked();
    settings.onlyNewArticles = m_onlyNewArticles.isChecked();
    // The spin boxes hold values in their ranges only.
    settings.firstRunNewest = static_cast<std::uint32_t>(std::llround(m_firstRunNewest.value()));
    settings.connections = m_connections.value();
    settings.pipelineDepth = m_requestsInFlight.value();
    settings.collectPictures = m_collectPictures.isChecked();
    settings.collectArchives = m_collectArchives.isChecked();
    settings.maxPostMegabytes = static_cast<std::uint32_t>(m_maxPostSize.value());
    settings.skipPosters = Patterns(m_skipPosters);
    settings.skipSubjects = Patterns(m_skipSubjects);
}

std::vector<std::string> CConfigDlg::Patterns(const QPlainTextEdit& field) {
    std::vector<std::string> patterns;
    for (const QString& line : field.toPlainText().split(QLatin1Char('\n'))) {
        const QString pattern = line.trimmed();
        if (!pattern.isEmpty()) {
            patterns.push_back(pattern.toStdString());
        }
    }
    return patterns;
}

bool CConfigDlg::CheckPatterns() {
    for (const auto& [field, label] : {std::pair{&m_skipPosters, "Skip posts from"},
                                       std::pair{&m_skipSubjects, "Skip subjects"}}) {
        for (const std::string& pattern : Patterns(*field)) {
            const std::string problem = WildmatProblem(pattern, true);
            if (!problem.empty()) {
                field->setFocus();
                platform::ShowErrorBox(std::string(label) + ": \"" + pattern +
                                       "\" is not a wildmat pattern: " + problem + ".");
                return false;
            }
        }
    }
    return true;
}

int CConfigDlg::DoModal() {
    OnInitDialog();
    return exec();
}

void CConfigDlg::OnInitDialog() {
    std::string error;
    // Without the file, or with one that cannot be read, the defaults: a plain connection.
    if (!ReadServerSettings(m_settings, error)) {
        platform::ShowErrorBox(error);
    }
    LoadConfigFile(*this);
    ShowSettings(m_settings);
    LoadPassword();
    m_done.setFocus();
}

std::string CConfigDlg::OpenedPasswordKey() const {
    // A password without a user name is never sent.
    if (m_settings.user.empty() || m_serverLine.empty()) {
        return {};
    }
    return CPasswordStore::KeyFor(m_settings.user,
                                  ParseServerLine(m_serverLine, m_settings).HostAndPort());
}

void CConfigDlg::LoadPassword() {
    const std::string key = OpenedPasswordKey();
    if (key.empty()) {
        return;
    }
    std::string password;
    std::string error;
    if (!CPasswordStore::Load(key, password, error)) {
        platform::ShowErrorBox(error);
    }
    m_password.setText(QString::fromUtf8(password));
    platform::WipeSecret(password);
}

void CConfigDlg::OnFetchNewsgroups() {
    if (IsFetching()) {
        return;
    }
    if (m_newsServer.text().isEmpty()) {
        platform::ShowErrorBox("Please enter your news server name (usually 'news')");
        return;
    }
    const CServerAddress address = Address();
    m_fetchCancelled = false;
    StartFetch(address, TrustedFingerprint(address.HostAndPort()), true);
}

void CConfigDlg::StartFetch(const CServerAddress& address, const std::string& trusted,
                            bool mayAsk) {
    // The session is set up here, from the fields; its thread only uses it.
    auto server = std::make_shared<CNewsServer>(address.HostAndPort(), CNewsServer::NNTP_PORT);
    server->SetSecurity(address.security);
    std::string password = PasswordText();
    server->SetCredentials(m_userName.text().toStdString(), password,
                           m_allowUnencrypted.isChecked());
    platform::WipeSecret(password);
    server->SetTrustedFingerprint(trusted);
    m_fetchSession = server;
    m_fetchHost = Text(address.host);
    m_fetchClock.start();
    m_fetchTicker.start();
    m_fetchNewsgroups.setEnabled(false);
    m_cancelFetch.setEnabled(true);
    m_cancelFetch.show();
    setCursor(Qt::BusyCursor);
    ShowFetchProgress();
    m_fetch.Start([this, server, address, mayAsk] {
        const auto outcome = std::make_shared<FetchOutcome>(FetchGroupList(*server));
        return [this, address, mayAsk, outcome] { OnFetchEnded(address, mayAsk, *outcome); };
    });
}

CConfigDlg::FetchOutcome CConfigDlg::FetchGroupList(CNewsServer& server) {
    FetchOutcome outcome;
    // Securing the connection or logging in failed: the session's words say more than the
    // general message.
    const auto failureText = [&server](const char* general) {
        const CNewsServer::Failure& failure = server.LastFailure();
        return failure.kind == CNewsServer::Failure::Kind::None ? std::string(general)
                                                                : failure.text;
    };
    if (!server.Init()) {
        outcome.failure = "CNewsServer failed to initialize properly...";
        return outcome;
    }
    if (!server.Connect()) {
        if (server.LastFailure().kind == CNewsServer::Failure::Kind::Certificate) {
            outcome.refused = server.LastFailure();
        }
        outcome.failure = DescribeConnectFailure(server);
        return outcome;
    }
    std::vector<std::unique_ptr<CNewsGroup>> groups;
    if (!server.FetchNewsGroups()) {
        outcome.failure = failureText("Couldn't fetch the list of newsgroups...");
    } else if (!server.GetNewsGroups(groups)) {
        outcome.failure = "Couldn't create a list of newsgroups...";
    }
    // The list is in; the connection has nothing more to do.
    server.Disconnect();
    if (outcome.failure.empty()) {
        outcome.names.reserve(groups.size());
        for (std::unique_ptr<CNewsGroup>& group : groups) {
            outcome.names.push_back(std::move(group->name));
            group.reset();
        }
    }
    return outcome;
}

void CConfigDlg::OnFetchEnded(const CServerAddress& address, bool mayAsk, FetchOutcome& outcome) {
    m_fetchSession.reset();
    if (m_fetchCancelled) {
        EndFetchDisplay(QStringLiteral("Cancelled; the list of newsgroups is as it was."));
        return;
    }
    if (mayAsk && outcome.refused.kind == CNewsServer::Failure::Kind::Certificate) {
        EndFetchDisplay({});
        // The worker's question: the answer holds for its runs too.
        if (!platform::AskQuestion(outcome.refused.text + "\n\nTrust this certificate for " +
                                   address.host + "?")) {
            return;
        }
        const std::string fingerprint = outcome.refused.fingerprint;
        std::string error;
        if (!TrustCertificate(address.HostAndPort(), fingerprint, error)) {
            platform::ShowErrorBox(error);
        }
        StartFetch(address, fingerprint, false);
        return;
    }
    if (!outcome.failure.empty()) {
        // A failed fetch leaves the list as it was.
        EndFetchDisplay({});
        platform::ShowErrorBox(outcome.failure);
        return;
    }
    // The server's list replaces the one shown, each name once; names the list refuses are
    // skipped without a word.
    m_availableList.ResetContent();
    m_availableList.AddStrings(std::move(outcome.names), CSortedNameList::Duplicates::Drop);
    EndFetchDisplay(
        Text(Counted(static_cast<std::size_t>(m_availableList.GetCount()), "group", "groups")));
}

void CConfigDlg::OnCancelFetch() {
    if (!IsFetching()) {
        return;
    }
    // The session's blocked wait ends at once; its thread then ends with a failure that is
    // not shown.
    m_fetchCancelled = true;
    m_fetchSession->Cancel();
    m_fetchTicker.stop();
    m_cancelFetch.setEnabled(false);
    m_fetchStatus.setText(QStringLiteral("Cancelling\u2026"));
}

void CConfigDlg::ShowFetchProgress() {
    // The session tells nothing before the whole list is in: the time it has taken so far.
    const qint64 seconds = m_fetchClock.elapsed() / 1000;
    QString text = QStringLiteral("Fetching the list of newsgroups from %1\u2026").arg(m_fetchHost);
    if (seconds > 0) {
        text += QStringLiteral(" %1 s").arg(seconds);
    }
    m_fetchStatus.setText(text);
}

void CConfigDlg::EndFetchDisplay(const QString& text) {
    m_fetchTicker.stop();
    m_cancelFetch.hide();
    m_fetchNewsgroups.setEnabled(true);
    unsetCursor();
    m_fetchStatus.setText(text);
}

void CConfigDlg::OnForgetDeletedPictures() {
    if (IsForgetting()) {
        return;
    }
    m_forgetDeleted.setEnabled(false);
    m_forgetStatus.setText(QStringLiteral("Counting the deleted pictures\u2026"));
    // Opening the index reads the whole collection when the file is missing; closing the
    // dialog stops that.
    auto stop = std::make_shared<std::atomic<bool>>(false);
    m_forgetStop = stop;
    m_forget.Start([this, stop] {
        std::string error;
        std::optional<std::size_t> missing;
        CContentIndex index;
        if (index.Open(CONTENT_INDEX_FILE_NAME, COLLECTION_ROOT, error, {}, stop.get())) {
            missing = index.CountMissing();
        }
        return [this, missing, error] { OnDeletedCounted(missing, error); };
    });
}

void CConfigDlg::OnDeletedCounted(std::optional<std::size_t> missing, const std::string& error) {
    if (!missing) {
        EndForgetDisplay({});
        platform::ShowErrorBox(error);
        return;
    }
    if (*missing == 0) {
        EndForgetDisplay(QStringLiteral("No deleted pictures are remembered."));
        return;
    }
    const std::string pictures = Counted(*missing, "picture", "pictures");
    if (!platform::AskQuestion("Forget the " + pictures + " you deleted? Reposts of " +
                               (*missing == 1 ? "it" : "them") + " will be collected again.")) {
        EndForgetDisplay(Text(pictures + " you deleted " + (*missing == 1 ? "is" : "are") +
                              " still remembered."));
        return;
    }
    m_forgetStatus.setText(QStringLiteral("Forgetting the deleted pictures\u2026"));
    m_forget.Start([this] {
        std::string error;
        const std::optional<std::size_t> forgotten = ForgetDeletedPictures(error);
        return [this, forgotten, error] { OnDeletedForgotten(forgotten, error); };
    });
}

void CConfigDlg::OnDeletedForgotten(std::optional<std::size_t> forgotten,
                                    const std::string& error) {
    if (!forgotten) {
        EndForgetDisplay({});
        platform::ShowErrorBox(error);
        return;
    }
    EndForgetDisplay(Text("Forgot " + Counted(*forgotten, "picture", "pictures") + "."));
}

void CConfigDlg::EndForgetDisplay(const QString& text) {
    m_forgetStop.reset();
    m_forgetDeleted.setEnabled(true);
    m_forgetStatus.setText(text);
}

void CConfigDlg::StopBackgroundWork() {
    // Both are told to end before either is waited for.
    if (m_fetchSession) {
        m_fetchCancelled = true;
        m_fetchSession->Cancel();
    }
    if (m_forgetStop) {
        *m_forgetStop = true;
    }
    if (IsFetching()) {
        m_fetch.Abandon();
        EndFetchDisplay({});
    }
    m_fetchSession.reset();
    if (IsForgetting()) {
        // Forgetting itself cannot be stopped; a rewrite of the index that outlasts the wait
        // ends on its own.
        m_forget.Abandon();
        EndForgetDisplay({});
    }
}

void CConfigDlg::done(int result) {
    StopBackgroundWork();
    QDialog::done(result);
}

void CConfigDlg::OnAdd() {
    const int chosen = m_availableList.GetCurSel();
    if (chosen == CListBox::LB_ERR) {
        return;
    }
    const std::string name = m_availableList.GetText(chosen);
    // An entry that begins with the name, in any case, stops the add: the name itself, and a
    // longer name that it is the beginning of.
    if (m_selectedList.FindString(name) != CListBox::LB_ERR) {
        return;
    }
    if (m_selectedList.AddString(name) == CListBox::LB_ERR) {
        platform::ShowErrorBox("AddString failed");
    }
}

void CConfigDlg::OnRemove() {
    const int chosen = m_selectedList.GetCurSel();
    if (chosen != CListBox::LB_ERR) {
        m_selectedList.DeleteString(chosen);
    }
}

void CConfigDlg::OnDone() {
    // Without a server name nothing is written, whatever the other fields hold.
    if (m_newsServer.text().isEmpty()) {
        accept();
        return;
    }
    if (m_userName.text().contains(QLatin1Char('\r')) ||
        m_userName.text().contains(QLatin1Char('\n'))) {
        platform::ShowErrorBox(
            "The user name cannot hold a line break. Please enter it on one line.");
        return;
    }
    if (!CheckPatterns()) {
        return;
    }
    const std::string server = ServerText();
    WriteConfigFile(server, m_selectedList.Names(), m_availableList.Names());
    const CServerSettings settings = SaveSettings();
    SavePassword(
        CPasswordStore::KeyFor(settings.user, ParseServerLine(server, settings).HostAndPort()));
    accept();
}

CServerSettings CConfigDlg::SaveSettings() {
    // The file as it is now: Fetch Newsgroups, or the worker, may have trusted a certificate
    // since the dialog opened.
    CServerSettings settings;
    std::string error;
    if (!ReadServerSettings(settings, error)) {
        settings = m_settings;
    }
    TakeShownSettings(settings);
    if (!WriteServerSettings(settings, error)) {
        platform::ShowErrorBox(error);
    }
    return settings;
}

void CConfigDlg::SavePassword(const std::string& key) {
    std::string password = PasswordText();
    std::error_code ignored;
    const bool fileBefore = std::filesystem::exists(PASSWORD_FILE_NAME, ignored);
    CPasswordStore::Place place = CPasswordStore::Place::Nowhere;
    std::string error;
    // The entry under the user and the server the dialog opened with goes when either changed.
    if (!CPasswordStore::Save(key, password, place, error, OpenedPasswordKey())) {
        platform::ShowErrorBox(error);
    } else if (place == CPasswordStore::Place::File && !fileBefore) {
        // Said when the file is made; while it stays, the user knows.
        const std::filesystem::path file = std::filesystem::absolute(PASSWORD_FILE_NAME, ignored);
        platform::ShowInformation("No keyring answered, so the password is kept in the file " +
                                  file.string() + ", which only you can read.");
    }
    platform::WipeSecret(password);
}

void CConfigDlg::SetServerText(const std::string& text) {
    const CServerAddress address = ParseServerLine(text, m_settings);
    m_newsServer.setText(QString::fromUtf8(address.host));
    m_security.setCurrentIndex(SecurityIndex(address.security));
    m_port.setText(address.port == DefaultPort(address.security) ? QString()
                                                                 : QString::number(address.port));
    m_serverLine = text;
    m_serverLineFields = CurrentServerFields();
}

bool CConfigDlg::AddSelected(const std::string& name) {
    if (m_gathering) {
        if (!CSortedNameList::CanList(name)) {
            return false;
        }
        m_pendingSelected.push_back(name);
        return true;
    }
    return m_selectedList.AddString(name) != CListBox::LB_ERR;
}

bool CConfigDlg::AddAvailable(const std::string& name) {
    if (m_gathering) {
        if (!CSortedNameList::CanList(name)) {
            return false;
        }
        m_pendingAvailable.push_back(name);
        return true;
    }
    // A name listed already (a file written with duplicates) is taken, and listed once.
    if (m_availableList.Contains(name)) {
        return true;
    }
    return m_availableList.AddString(name) != CListBox::LB_ERR;
}

void CConfigDlg::BeginWaitCursor() {
    QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    m_gathering = true;
}

void CConfigDlg::EndWaitCursor() {
    m_gathering = false;
    m_selectedList.AddStrings(std::exchange(m_pendingSelected, {}));
    m_availableList.AddStrings(std::exchange(m_pendingAvailable, {}),
                               CSortedNameList::Duplicates::Drop);
    QApplication::restoreOverrideCursor();
}

std::string CConfigDlg::ServerText() const {
    // A line left as it was is written as it was, whatever its form.
    if (CurrentServerFields() == m_serverLineFields) {
        return m_serverLine;
    }
    const CServerAddress address = Address();
    return MakeServerLine(address.host, address.port, address.security);
}

CServerAddress CConfigDlg::Address() const {
    // A port typed after the host ("news.example:1119"), as the field always took it, counts
    // unless Port names one.
    const HostAndPort typed = ParseHostAndPort(m_newsServer.text().toStdString());
    CServerAddress address;
    address.host = typed.host;
    address.security = Security();
    const int port = m_port.text().toInt();
    address.port = port != 0 ? port : typed.port.value_or(DefaultPort(address.security));
    return address;
}

CConfigDlg::ServerFields CConfigDlg::CurrentServerFields() const {
    return ServerFields{m_newsServer.text(), m_port.text(), m_security.currentIndex()};
}

ConnectionSecurity CConfigDlg::Security() const {
    const int index = m_security.currentIndex();
    return index >= 0 && index < static_cast<int>(std::size(SECURITIES)) ? SECURITIES[index]
                                                                         : ConnectionSecurity::None;
}

void CConfigDlg::ShowDefaultPort() {
    m_port.setPlaceholderText(QString::number(DefaultPort(Security())));
}

std::string CConfigDlg::PasswordText() const {
    // A buffer of its own, so that it can be wiped once copied.
    QByteArray bytes = m_password.text().toUtf8();
    std::string password(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    bytes.fill('\0');
    return password;
}

std::string CConfigDlg::TrustedFingerprint(const std::string& hostAndPort) const {
    CServerSettings current;
    std::string error;
    const CServerSettings& settings = ReadServerSettings(current, error) ? current : m_settings;
    const auto trusted = settings.trusted.find(hostAndPort);
    return trusted != settings.trusted.end() ? trusted->second : std::string();
}
