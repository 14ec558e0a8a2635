#pragma once

// The main window's picture view (control 1009): a text browser that shows the local one-line
// HTML page the picture browser writes, image and all. Its one operation, Navigate, reads the
// page and its image afresh on every call, even when the address is the one already shown,
// because the page is rewritten in place for every picture. It follows no links.

#include <QTextBrowser>
#include <string>

class CWebBrowser2 : public QTextBrowser {
    Q_OBJECT

public:
    explicit CWebBrowser2(QWidget* parent = nullptr);

    // Shows the page at the full path.
    void Navigate(const std::string& path);
    // The page's address last navigated to (for tests and the screenshot).
    const std::string& Address() const { return m_address; }

private:
    std::string m_address;
};
