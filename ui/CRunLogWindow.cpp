#include "ui/CRunLogWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QHeaderView>
#include <QKeyEvent>
#include <chrono>
#include <memory>

CRunLogWindow::CRunLogWindow(QWidget* parent)
    : QDialog(parent),
      m_buttonLayout(&m_buttonBar),
      m_copy(QStringLiteral("Copy"), &m_buttonBar),
      m_close(QStringLiteral("Close"), &m_buttonBar) {
    setWindowTitle(QString::fromLatin1(CAPTION));
    // A window beside the main one, not over it: it blocks nothing.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    setModal(false);
    setLayout(&m_layout);
    m_layout.addWidget(&m_list, 1);
    m_layout.addWidget(&m_buttonBar);
    m_buttonLayout.setContentsMargins(0, 0, 0, 0);
    m_buttonLayout.addStretch(1);
    for (QPushButton* button : {&m_copy, &m_close}) {
        button->setAutoDefault(false);
        m_buttonLayout.addWidget(button);
    }
    m_list.setColumnCount(4);
    m_list.setHeaderLabels({QStringLiteral("Time"), QStringLiteral("Group"),
                            QStringLiteral("What happened"), QStringLiteral("What to do")});
    m_list.setRootIsDecorated(false);
    m_list.setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list.header()->setStretchLastSection(true);
    m_list.installEventFilter(this);
    connect(&m_copy, &QPushButton::clicked, this, &CRunLogWindow::Copy);
    connect(&m_close, &QPushButton::clicked, this, &QDialog::close);
    resize(760, 280);
}

void CRunLogWindow::Add(const CRunLogEntry& entry) {
    const QDateTime time = QDateTime::fromSecsSinceEpoch(
        std::chrono::duration_cast<std::chrono::seconds>(entry.time.time_since_epoch()).count());
    // The list owns its items.
    QTreeWidgetItem* const item =
        std::make_unique<QTreeWidgetItem>(
            &m_list,
            QStringList{time.toString(QStringLiteral("HH:mm:ss")),
                        QString::fromStdString(entry.group), QString::fromStdString(entry.what),
                        QString::fromStdString(entry.todo)})
            .release();
    for (int column = 0; column < m_list.columnCount(); ++column) {
        item->setToolTip(column, item->text(column));
    }
    m_list.scrollToItem(item);
    for (int column = 0; column < 2; ++column) {
        m_list.resizeColumnToContents(column);
    }
}

QString CRunLogWindow::Text() const {
    const bool selected = !m_list.selectedItems().isEmpty();
    QStringList lines;
    for (int row = 0; row < m_list.topLevelItemCount(); ++row) {
        const QTreeWidgetItem* item = m_list.topLevelItem(row);
        if (selected && !item->isSelected()) {
            continue;
        }
        QStringList cells;
        for (int column = 0; column < m_list.columnCount(); ++column) {
            cells << item->text(column);
        }
        lines << cells.join(QLatin1Char('\t'));
    }
    return lines.join(QLatin1Char('\n'));
}

bool CRunLogWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &m_list && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
        Copy();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void CRunLogWindow::Copy() {
    QApplication::clipboard()->setText(Text());
}
