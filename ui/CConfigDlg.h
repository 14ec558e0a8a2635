#pragma once

// The configuration dialog, "Configuration Options": the news server's name, the server's
// newsgroups (Available, from zarvo.cfg or fetched from the server) and the chosen ones
// (Selected). It opens filled from zarvo.cfg; Done writes the file back, Cancel writes
// nothing. It shares nothing with the fetch worker but the file, and while Fetch Newsgroups
// talks to the server the user-interface thread waits with it, behind the wait cursor.

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <string>
#include <vector>

#include "config/CConfigView.h"
#include "ui/CListBox.h"

class CConfigDlg : public QDialog, public CConfigView {
    Q_OBJECT

public:
    static constexpr const char* CAPTION = "Configuration Options";

    // Builds the controls; nothing is read yet.
    explicit CConfigDlg(QWidget* parent = nullptr);

    // Fills the dialog from zarvo.cfg and runs it; the dialog's result.
    int DoModal();
    // Fills the dialog from zarvo.cfg (DoModal's first step) and puts the focus on Done.
    void OnInitDialog();

    // The buttons.
    void OnFetchNewsgroups();
    void OnAdd();
    void OnRemove();
    void OnDone();

    // CConfigView, for LoadConfigFile. Between the wait cursor's begin and end the names are
    // gathered and go into their lists in one go at the end.
    void SetServerText(const std::string& text) override;
    bool AddSelected(const std::string& name) override;
    bool AddAvailable(const std::string& name) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;

    std::string ServerText() const;
    CListBox& SelectedList() { return m_selectedList; }
    CListBox& AvailableList() { return m_availableList; }
    QLineEdit& NewsServerField() { return m_newsServer; }

private:
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

    // While LoadConfigFile reads: the names waiting to go into the lists.
    bool m_gathering = false;
    std::vector<std::string> m_pendingSelected;
    std::vector<std::string> m_pendingAvailable;
};
