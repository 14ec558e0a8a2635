#pragma once

// The About box: the program's icon, its name and version, and one line on what it does, with
// an OK button. It holds no state; OK, Escape and the close box end it.

#include <QDialog>
#include <QLabel>
#include <QPushButton>

class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr const char* CAPTION = "About Zarvo";
    static constexpr const char* VERSION_TEXT = "zarvo Version 1.0";
    static constexpr const char* SUMMARY_TEXT = "Collects the pictures posted to Usenet";

    explicit CAboutDlg(QWidget* parent = nullptr);

private:
    QLabel m_icon;
    QLabel m_version;
    QLabel m_summary;
    QPushButton m_ok;
};
