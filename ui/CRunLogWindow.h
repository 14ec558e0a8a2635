#pragma once

// The run log: a window of its own listing what went wrong with single groups in the runs of
// this session, newest last, one row an entry (time, group, what happened, what to do). The
// rows can be selected and copied, Ctrl+C or Copy, as tab-separated lines (all of them when
// none is selected). It keeps the entries and shows them; it decides nothing about them.

#include <QDialog>
#include <QHBoxLayout>
#include <QPushButton>
#include <QString>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "fetch/CRunLogEntry.h"

class CRunLogWindow : public QDialog {
    Q_OBJECT

public:
    static constexpr const char* CAPTION = "Zarvo - Log";

    explicit CRunLogWindow(QWidget* parent = nullptr);

    // Appends the entry, and scrolls to it.
    void Add(const CRunLogEntry& entry);
    int Count() const { return m_list.topLevelItemCount(); }
    // The selected rows, or every row when none is selected, as the clipboard gets them:
    // "14:32:10<TAB>group<TAB>what happened<TAB>what to do", one a line.
    QString Text() const;
    // Puts Text() on the clipboard.
    void Copy();

protected:
    // Ctrl+C in the list copies the rows, not the list's current cell alone.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QVBoxLayout m_layout;
    QTreeWidget m_list;
    QWidget m_buttonBar;
    QHBoxLayout m_buttonLayout;
    QPushButton m_copy;
    QPushButton m_close;
};
