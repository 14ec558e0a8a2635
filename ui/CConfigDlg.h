#pragma once

// The configuration dialog, "Configuration Options": the news server's name, the server's
// newsgroups (Available, from zarvo.cfg or fetched from the server) and the chosen ones
// (Selected), and below them how the server is reached (port, security, user name, password
// and whether the password may go out unencrypted), how the worker walks a group (only new
// articles, how many on a group's first run, connections, requests in flight) and what it
// collects (pictures, pictures inside archives, the largest post, the posters and subjects to
// skip). It opens filled from zarvo.cfg, zarvo.settings and the stored password; Done writes
// all three back, Cancel writes nothing.
// It shares nothing with the fetch worker but those files, and while Fetch Newsgroups talks to
// the server the user-interface thread waits with it, behind the wait cursor.

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <string>
#include <vector>

#include "config/CConfigView.h"
#include "config/ServerSettings.h"
#include "nntp/CNewsServer.h"
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

    // Builds the controls; nothing is read yet.
    explicit CConfigDlg(QWidget* parent = nullptr);

    // Fills the dialog from zarvo.cfg and runs it; the dialog's result.
    int DoModal();
    // Fills the dialog from zarvo.cfg, zarvo.settings and the stored password (DoModal's first
    // step) and puts the focus on Done.
    void OnInitDialog();

    // The buttons.
    void OnFetchNewsgroups();
    void OnAdd();
    void OnRemove();
    void OnDone();

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

private:
    // What the News Server, Port and Security fields showed when the server line was read.
    struct ServerFields {
        QString host;
        QString port;
        int security = 0;
        bool operator==(const ServerFields&) const = default;
    };

    void PlaceConnectionControls();
    void PlaceGroupControls();
    void PlaceCollectControls();
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
    // One attempt at the server's group list, with the certificate given trusted. The message
    // for the user when it failed; `refused` tells a certificate that does not verify.
    std::string FetchGroupList(const CServerAddress& address, const std::string& trusted,
                               CNewsServer::Failure& refused);
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

    // zarvo.settings as the dialog opened; the server line as read, and the fields it gave.
    CServerSettings m_settings;
    std::string m_serverLine;
    ServerFields m_serverLineFields;

    // While LoadConfigFile reads: the names waiting to go into the lists.
    bool m_gathering = false;
    std::vector<std::string> m_pendingSelected;
    std::vector<std::string> m_pendingAvailable;
};
