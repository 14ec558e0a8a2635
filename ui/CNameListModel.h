#pragma once

// Shows the entries of a CSortedNameList in a list view, one row per entry, and tells the view
// of every change. It holds the list by value and does the sorting through it; choosing,
// refusing or selecting entries is the list box's business (CListBox).

#include <QAbstractListModel>
#include <string>
#include <vector>

#include "ui/CSortedNameList.h"

class CNameListModel : public QAbstractListModel {
    Q_OBJECT

public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // Sorts one name into place; returns its row.
    int Insert(std::string name);
    // Sorts many names in at once and resets the view once. `tracked` and `duplicates` as in
    // CSortedNameList::InsertMany.
    void InsertMany(std::vector<std::string> names, std::size_t* tracked,
                    CSortedNameList::Duplicates duplicates);
    // Removes every entry.
    void Clear();
    void Erase(int row);

    const CSortedNameList& Names() const { return m_names; }

private:
    CSortedNameList m_names;
};
