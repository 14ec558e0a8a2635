#pragma once

// A sorted, single-selection list box with the operations the configuration dialog uses, in
// the manner of the Windows list box it stands for: add (sorted into place), delete, count,
// current selection, an entry's text and the prefix search, all counted in entries of the
// whole list. A filter may hide entries from view (SetFilter); the selection is always a
// shown entry. Double-clicking an entry, or pressing Enter on the selected one, tells
// `chosen`; selecting does nothing by itself. Entries are byte strings; CSortedNameList::CanList
// says which ones it takes.

#include <QListView>
#include <string>
#include <vector>

#include "ui/CNameListModel.h"

class QLineEdit;

class CListBox : public QListView {
    Q_OBJECT

public:
    // The list box's error result (LB_ERR).
    static constexpr int LB_ERR = -1;

    explicit CListBox(QWidget* parent = nullptr);

    // Sorts the name into place; its index, or LB_ERR when the list refuses it.
    int AddString(const std::string& name);
    // Sorts many names in at once (one sort, one redraw); the ones the list refuses are left
    // out, and with Duplicates::Drop so are names listed already or given twice. Returns how
    // many were added. The selected entry stays selected.
    std::size_t AddStrings(std::vector<std::string> names, CSortedNameList::Duplicates duplicates =
                                                               CSortedNameList::Duplicates::Keep);
    // Removes every entry (LB_RESETCONTENT).
    void ResetContent();
    // Deletes the entry; false when there is none at the index.
    bool DeleteString(int index);

    int GetCount() const;
    // The selected entry's index, or LB_ERR.
    int GetCurSel() const;
    // Selects the entry at the index; LB_ERR, or an entry the filter hides, clears the
    // selection.
    void SetCurSel(int index);
    // The entry's text; empty when there is none at the index.
    std::string GetText(int index) const;
    // The first entry that begins with `prefix` without regard to case, or LB_ERR.
    int FindString(const std::string& prefix) const;
    // Whether an entry is exactly the name, case and all.
    bool Contains(const std::string& name) const { return m_model.Names().Contains(name); }
    // Every entry, in list order, shown or not.
    const std::vector<std::string>& Names() const { return m_model.Names().Names(); }

    // Shows only the entries that the filter text lets through (CNameFilter); the selected
    // entry stays selected while it is shown.
    void SetFilter(const std::string& text);
    // The entries shown, in list order.
    std::vector<std::string> ShownNames() const;
    // Keys that type text go to the field, which takes the focus, instead of jumping to an
    // entry that begins with them.
    void SendTypingTo(QLineEdit* field) { m_typingTarget = field; }

signals:
    void chosen();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    CNameListModel m_model;
    QLineEdit* m_typingTarget = nullptr;
};
