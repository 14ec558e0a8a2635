#pragma once

// The configuration dialog, "Configuration Options": the news server's name, the server's
// newsgroups (Available, from zarvo.cfg or fetched from the server, with a filter box above
// them) and the chosen ones (Selected), and below them how the server is reached (port,
// security, user name, password and whether the password may go out unencrypted), how the
// worker walks a group (only new articles, how many on a group's first run, connections,
// requests in flight) and what it collects (pictures, pictures inside archives, the largest
// post, the posters and subjects to skip, and forgetting the deleted pictures that the content
// index remembers), with Done and Cancel in the bottom right corner. Made larger, it gives the
// room to the two lists. It opens filled from zarvo.cfg, zarvo.settings and the stored
// password; Done writes all three back, Cancel writes nothing. Enter in the News Server field
// fetches the newsgroups; a double click or Enter on a name adds it (Available) or removes it
// (Selected).
// It shares nothing with the fetch worker but those files. Fetch Newsgroups talks to the server
// on a thread of its own, and the content index is read on another, so that the dialog stays
// responsive; closing the dialog cancels the one and abandons the other, waiting a second at
// most. Boxes are only ever shown on the window's thread.

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <atomic>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/CConfigView.h"
#include "config/ServerSettings.h"
#include "nntp/CNewsServer.h"
#include "ui/CBackgroundJob.h"
#include "ui/CListBox.h"

class CConfigDlg : public QDialog, public CConfigView {
    Q_OBJECT

public:
    static constexpr const char* CAPTION = "Configuration Options";
    // The ids of the connection's controls, after the ids of the newsgroup controls.
    static constexpr int IDC_PORT = 1018;
    static constexpr int IDC_SECURITY = 1019;
    static constexpr int IDC_USER_NAME = 1020;
    static constexpr int IDC_PASSWORD = 1021;
    static constexpr int IDC_ALLOW_UNENCRYPTED = 1022;
    // The ids of the controls for walking a group, after them.
    static constexpr int IDC_ONLY_NEW_ARTICLES = 1023;
    static constexpr int IDC_FIRST_RUN_NEWEST = 1024;
    static constexpr int IDC_CONNECTIONS = 1025;
    static constexpr int IDC_REQUESTS_IN_FLIGHT = 1026;
    // The ids of the controls for what to collect, after them.
    static constexpr int IDC_COLLECT_PICTURES = 1027;
    static constexpr int IDC_COLLECT_ARCHIVES = 1028;
    static constexpr int IDC_MAX_POST_SIZE = 1029;
    static constexpr int IDC_SKIP_POSTERS = 1030;
    static constexpr int IDC_SKIP_SUBJECTS = 1031;
    static constexpr int IDC_FORGET_DELETED = 1032;
    // Beside Fetch Newsgroups' progress line, shown while it runs.
    static constexpr int IDC_CANCEL_FETCH = 1033;
    // Above Available Newsgroups: what the list shows (CNameFilter).
    static constexpr int IDC_FILTER = 1034;

    // Builds the controls; nothing is read yet.
    explicit CConfigDlg(QWidget* parent = nullptr);
    // Cancels Fetch Newsgroups and abandons the content index's work, as closing does.
    ~CConfigDlg() override;

    // Fills the dialog from zarvo.cfg and runs it; the dialog's result.
    int DoModal();
    // Fills the dialog from zarvo.cfg, zarvo.settings and the stored password (DoModal's first
    // step) and puts the focus on Done.
    void OnInitDialog();

    // The buttons. Fetch Newsgroups and Forget deleted pictures start their work and return;
    // what it ends in comes later, through the event loop.
    void OnFetchNewsgroups();
    void OnCancelFetch();
    void OnAdd();
    void OnRemove();
    void OnDone();
    void OnForgetDeletedPictures();

    // Every way of closing the dialog (Done, Cancel, Escape, the close box) ends here: a fetch
    // under way is cancelled and its thread waited for, a second at most.
    void done(int result) override;

    // While Fetch Newsgroups' session works (twice when a certificate was trusted in between).
    bool IsFetching() const { return m_fetch.Busy(); }
    // From Forget deleted pictures until its outcome is told.
    bool IsForgetting() const { return m_forget.Busy(); }

    // CConfigView, for LoadConfigFile. The server line is taken apart into the News Server
    // field (the host), Port and Security. Between the wait cursor's begin and end the names
    // are gathered and go into their lists in one go at the end.
    void SetServerText(const std::string& text) override;
    bool AddSelected(const std::string& name) override;
    bool AddAvailable(const std::string& name) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;

    // The server line that Done writes: the line as read while the fields show it unchanged,
    // otherwise the one the fields make.
    std::string ServerText() const;
    // The server as the fields name it.
    CServerAddress Address() const;
    CListBox& SelectedList() { return m_selectedList; }
    CListBox& AvailableList() { return m_availableList; }
    QLineEdit& FilterField() { return m_filter; }
    QLineEdit& NewsServerField() { return m_newsServer; }
    QLineEdit& PortField() { return m_port; }
    QComboBox& SecurityField() { return m_security; }
    QLineEdit& UserNameField() { return m_userName; }
    QLineEdit& PasswordField() { return m_password; }
    QCheckBox& AllowUnencryptedField() { return m_allowUnencrypted; }
    QCheckBox& OnlyNewArticlesField() { return m_onlyNewArticles; }
    // A double spin box for its range, which an int's does not reach; it takes whole numbers
    // only.
    QDoubleSpinBox& FirstRunNewestField() { return m_firstRunNewest; }
    QSpinBox& ConnectionsField() { return m_connections; }
    // Its lowest value, 0, shows as "Automatic".
    QSpinBox& RequestsInFlightField() { return m_requestsInFlight; }
    QCheckBox& CollectPicturesField() { return m_collectPictures; }
    QCheckBox& CollectArchivesField() { return m_collectArchives; }
    // Its lowest value, 0, shows as "No limit".
    QSpinBox& MaxPostSizeField() { return m_maxPostSize; }
    // One wildmat a line; blank lines are skipped and blanks around a pattern dropped.
    QPlainTextEdit& SkipPostersField() { return m_skipPosters; }
    QPlainTextEdit& SkipSubjectsField() { return m_skipSubjects; }
    // Fetch Newsgroups' progress, and then how it ended.
    QLabel& FetchStatus() { return m_fetchStatus; }
    // What Forget deleted pictures is doing, and then what it did.
    QLabel& ForgetStatus() { return m_forgetStatus; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    // Enter in the News Server field fetches the newsgroups, and Enter or Down in the filter
    // box goes to the list; any other key as a dialog takes it.
    void keyPressEvent(QKeyEvent* event) override;

private:
    // What the News Server, Port and Security fields showed when the server line was read.
    struct ServerFields {
        QString host;
        QString port;
        int security = 0;
        bool operator==(const ServerFields&) const = default;
    };

    void MakeFilter();
    void MakeConnectionControls();
    void MakeGroupControls();
    void MakeCollectControls();
    // Places every control for the dialog's size.
    void PlaceControls();
    // The patterns of a Skip field, as zarvo.settings keeps them.
    static std::vector<std::string> Patterns(const QPlainTextEdit& field);
    // False, after saying which pattern is wrong and why, when a Skip field holds one that is
    // not a wildmat.
    bool CheckPatterns();
    // The settings the dialog shows, from `settings` into the fields and back.
    void ShowSettings(const CServerSettings& settings);
    void TakeShownSettings(CServerSettings& settings) const;
    ServerFields CurrentServerFields() const;
    ConnectionSecurity Security() const;
    // Shows the security's default port as Port's hint.
    void ShowDefaultPort();
    // The password as typed; the caller wipes it.
    std::string PasswordText() const;
    // The trusted certificate of the server, as zarvo.settings holds it now.
    std::string TrustedFingerprint(const std::string& hostAndPort) const;
    // What one attempt at the server's group list ended in.
    struct FetchOutcome {
        std::vector<std::string> names;
        std::string failure;           // for the user; empty when the list came
        CNewsServer::Failure refused;  // a certificate that does not verify
    };
    // One attempt at the server's group list with the session set up for it, on the fetch's
    // thread; it touches nothing of the dialog.
    static FetchOutcome FetchGroupList(CNewsServer& server);
    // Starts an attempt with the certificate given trusted; the certificate refused is asked
    // about only when `mayAsk`.
    void StartFetch(const CServerAddress& address, const std::string& trusted, bool mayAsk);
    // On the window's thread: asks about the certificate, shows the failure or the list.
    void OnFetchEnded(const CServerAddress& address, bool mayAsk, FetchOutcome& outcome);
    void ShowFetchProgress();
    void EndFetchDisplay(const QString& text);
    // Cancels the fetch and stops the content index's work, waiting for each a bounded time.
    void StopBackgroundWork();
    void OnDeletedCounted(std::optional<std::size_t> missing, const std::string& error);
    void OnDeletedForgotten(std::optional<std::size_t> forgotten, const std::string& error);
    void EndForgetDisplay(const QString& text);
    // The key of the password for the user and the server the dialog opened with; empty when
    // there was no user name or no server.
    std::string OpenedPasswordKey() const;
    void LoadPassword();
    // Writes zarvo.settings as the fields show it, with what the file holds now that the
    // dialog does not show (the certificates trusted meanwhile); the settings written.
    CServerSettings SaveSettings();
    void SavePassword(const std::string& key);

    QPushButton m_done;
    QPushButton m_cancel;
    QLineEdit m_newsServer;
    QLabel m_newsServerLabel;
    QPushButton m_fetchNewsgroups;
    CListBox m_availableList;
    CListBox m_selectedList;
    QLabel m_availableLabel;
    QLabel m_selectedLabel;
    QPushButton m_add;
    QPushButton m_remove;
    QLabel m_portLabel;
    QIntValidator m_portNumbers{0, 65535};
    QLineEdit m_port;
    QLabel m_securityLabel;
    QComboBox m_security;
    QLabel m_userNameLabel;
    QLineEdit m_userName;
    QLabel m_passwordLabel;
    QLineEdit m_password;
    QCheckBox m_allowUnencrypted;
    QCheckBox m_onlyNewArticles;
    QLabel m_firstRunNewestLabel;
    QDoubleSpinBox m_firstRunNewest;
    QLabel m_connectionsLabel;
    QSpinBox m_connections;
    QLabel m_requestsInFlightLabel;
    QSpinBox m_requestsInFlight;
    QLabel m_collectLabel;
    QCheckBox m_collectPictures;
    QCheckBox m_collectArchives;
    QLabel m_maxPostSizeLabel;
    QSpinBox m_maxPostSize;
    QLabel m_skipPostersLabel;
    QPlainTextEdit m_skipPosters;
    QLabel m_skipSubjectsLabel;
    QPlainTextEdit m_skipSubjects;
    QLabel m_fetchStatus;
    QPushButton m_cancelFetch;
    QPushButton m_forgetDeleted;
    QLabel m_forgetStatus;
    QLineEdit m_filter;

    // Fetch Newsgroups under way: its session (for Cancel, from this thread), the server it
    // asks, since when, and whether the user cancelled it.
    std::shared_ptr<CNewsServer> m_fetchSession;
    QString m_fetchHost;
    QElapsedTimer m_fetchClock;
    QTimer m_fetchTicker;
    bool m_fetchCancelled = false;
    // Ends the rebuild of a missing content index while the deleted pictures are counted.
    std::shared_ptr<std::atomic<bool>> m_forgetStop;

    // zarvo.settings as the dialog opened; the server line as read, and the fields it gave.
    CServerSettings m_settings;
    std::string m_serverLine;
    ServerFields m_serverLineFields;

    // While LoadConfigFile reads: the names waiting to go into the lists.
    bool m_gathering = false;
    std::vector<std::string> m_pendingSelected;
    std::vector<std::string> m_pendingAvailable;

    // Last, so that they go first, before anything their call backs touch.
    CBackgroundJob m_fetch{*this};
    CBackgroundJob m_forget{*this};
};
