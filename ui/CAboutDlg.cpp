#include "ui/CAboutDlg.h"

#include <algorithm>

#include "ui/CDialogUnits.h"
#include "ui/CZarvoIcon.h"

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent),
      m_icon(this),
      m_version(QString::fromLatin1(VERSION_TEXT), this),
      m_summary(QString::fromLatin1(SUMMARY_TEXT), this),
      m_ok(QStringLiteral("OK"), this) {
    setWindowTitle(QString::fromLatin1(CAPTION));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    const CDialogUnits units = CDialogUnits::FromFont(font());
    setFixedSize(units.ToPixelsX(217), units.ToPixelsY(73));

    units.Place(m_icon, 11, 17, 20, 20);
    m_icon.setPixmap(CZarvoIcon::Draw(std::min(m_icon.width(), m_icon.height())));
    units.Place(m_version, 40, 10, 119, 8);
    units.Place(m_summary, 40, 25, 159, 8);
    units.Place(m_ok, 53, 52, 32, 14);
    m_ok.setObjectName(QStringLiteral("1"));
    m_ok.setDefault(true);
    m_ok.setFocus();
    connect(&m_ok, &QPushButton::clicked, this, &QDialog::accept);
}
