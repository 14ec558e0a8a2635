#include "ui/CConfigDlg.h"

#include <QApplication>
#include <QCursor>
#include <memory>
#include <utility>

#include "config/ConfigFile.h"
#include "nntp/CNewsServer.h"
#include "platform/ErrorBox.h"
#include "ui/CDialogUnits.h"
#include "ui/CWaitCursor.h"

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
      m_remove(QStringLiteral("Remove"), this) {
    setWindowTitle(QString::fromLatin1(CAPTION));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    const CDialogUnits units = CDialogUnits::FromFont(font());
    setFixedSize(units.ToPixelsX(377), units.ToPixelsY(284));

    // The template, in dialog units; its order is the tab order.
    units.Place(m_done, 135, 263, 50, 14);
    units.Place(m_cancel, 197, 263, 50, 14);
    units.Place(m_newsServer, 96, 7, 96, 15);
    units.Place(m_newsServerLabel, 7, 7, 50, 14);
    units.Place(m_fetchNewsgroups, 239, 7, 64, 14);
    units.Place(m_availableList, 25, 54, 323, 82);
    units.Place(m_selectedList, 25, 166, 323, 82);
    units.Place(m_availableLabel, 25, 44, 95, 9);
    units.Place(m_selectedLabel, 25, 156, 95, 9);
    units.Place(m_add, 128, 144, 61, 14);
    units.Place(m_remove, 199, 144, 61, 14);

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
    QWidget::setTabOrder(&m_fetchNewsgroups, &m_availableList);
    QWidget::setTabOrder(&m_availableList, &m_selectedList);
    QWidget::setTabOrder(&m_selectedList, &m_add);
    QWidget::setTabOrder(&m_add, &m_remove);

    // Done is the OK command, which the Enter key also gives; Cancel, Escape and the close box
    // take the dialog's reject path, which writes nothing.
    m_done.setDefault(true);
    connect(&m_done, &QPushButton::clicked, this, &CConfigDlg::OnDone);
    connect(&m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(&m_fetchNewsgroups, &QPushButton::clicked, this, &CConfigDlg::OnFetchNewsgroups);
    connect(&m_add, &QPushButton::clicked, this, &CConfigDlg::OnAdd);
    connect(&m_remove, &QPushButton::clicked, this, &CConfigDlg::OnRemove);
}

int CConfigDlg::DoModal() {
    OnInitDialog();
    return exec();
}

void CConfigDlg::OnInitDialog() {
    LoadConfigFile(*this);
    m_done.setFocus();
}

void CConfigDlg::OnFetchNewsgroups() {
    const std::string host = ServerText();
    if (host.empty()) {
        platform::ShowErrorBox("Please enter your news server name (usually 'news')");
        return;
    }
    // The message waits until the wait cursor is gone, so that the user's pointer over the
    // box is an ordinary one.
    std::string failure;
    {
        const CWaitCursor wait;
        // The host name exactly as typed; it may name a port ("host:port").
        CNewsServer server(host, CNewsServer::NNTP_PORT);
        std::vector<std::unique_ptr<CNewsGroup>> groups;
        if (!server.Init()) {
            failure = "CNewsServer failed to initialize properly...";
        } else if (!server.Connect()) {
            failure = "Couldn't connect to the news server...";
        } else {
            if (!server.FetchNewsGroups()) {
                failure = "Couldn't fetch the list of newsgroups...";
            } else if (!server.GetNewsGroups(groups)) {
                failure = "Couldn't create a list of newsgroups...";
            }
            // The list is in; the connection has nothing more to do.
            server.Disconnect();
        }
        if (failure.empty()) {
            std::vector<std::string> names;
            names.reserve(groups.size());
            for (std::unique_ptr<CNewsGroup>& group : groups) {
                names.push_back(std::move(group->name));
                group.reset();
            }
            // The server's list replaces the one shown, each name once; names the list
            // refuses are skipped without a word. A failed fetch leaves the list as it was.
            m_availableList.ResetContent();
            m_availableList.AddStrings(std::move(names), CSortedNameList::Duplicates::Drop);
        }
    }
    if (!failure.empty()) {
        platform::ShowErrorBox(failure);
    }
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
    const std::string server = ServerText();
    // Without a server name nothing is written, whatever the lists hold.
    if (!server.empty()) {
        WriteConfigFile(server, m_selectedList.Names(), m_availableList.Names());
    }
    accept();
}

void CConfigDlg::SetServerText(const std::string& text) {
    m_newsServer.setText(QString::fromUtf8(text));
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
    return m_newsServer.text().toStdString();
}
