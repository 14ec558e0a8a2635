#include "ui/CWebBrowser2.h"

#include <QUrl>

CWebBrowser2::CWebBrowser2(QWidget* parent) : QTextBrowser(parent) {
    setOpenLinks(false);
    setOpenExternalLinks(false);
    setFocusPolicy(Qt::NoFocus);
}

void CWebBrowser2::Navigate(const std::string& path) {
    m_address = path;
    // Forget the page and every image the document holds: the same address may now hold a
    // different page, and the same image address a different picture.
    clearHistory();
    setSource(QUrl());
    document()->clear();
    setSource(QUrl::fromLocalFile(QString::fromStdString(path)));
}
