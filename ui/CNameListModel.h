#pragma once

// Shows the entries of a CSortedNameList in a list view, one row per entry that its filter
// lets through (every entry while the filter is empty), and tells the view of every change. It
// holds the list by value and does the sorting through it. Entries are counted in the whole
// list, rows among those shown; choosing, refusing or selecting entries is the list box's
// business (CListBox).

#include <QAbstractListModel>
#include <cstddef>
#include <string>
#include <vector>

#include "ui/CNameFilter.h"
#include "ui/CSortedNameList.h"

class CNameListModel : public QAbstractListModel {
    Q_OBJECT

public:
    using QAbstractListModel::QAbstractListModel;

    // The rows shown.
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // Sorts one name into place; returns its entry's index.
    std::size_t Insert(std::string name);
    // Sorts many names in at once and resets the view once. `tracked` and `duplicates` as in
    // CSortedNameList::InsertMany.
    void InsertMany(std::vector<std::string> names, std::size_t* tracked,
                    CSortedNameList::Duplicates duplicates);
    // Removes every entry.
    void Clear();
    // Removes the entry at the index, shown or not.
    void Erase(std::size_t entry);

    // Shows only the entries the filter lets through, in one reset of the view.
    void SetFilter(CNameFilter filter);
    // The entry that a row shows; the row must be one of those shown.
    std::size_t EntryOf(int row) const;
    // The row that shows the entry, or -1 when the filter hides it (or there is no such entry).
    int RowOf(std::size_t entry) const;

    const CSortedNameList& Names() const { return m_names; }

private:
    bool Filtered() const { return !m_filter.LetsAllThrough(); }
    // The entries the filter lets through, from the whole list.
    void Refilter();

    CSortedNameList m_names;
    CNameFilter m_filter;
    // While filtered: the indexes of the entries shown, in list order.
    std::vector<std::size_t> m_shown;
};
