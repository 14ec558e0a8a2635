#include "ui/CNameListModel.h"

#include <utility>

int CNameListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_names.Size());
}

QVariant CNameListModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() < 0 ||
        static_cast<std::size_t>(index.row()) >= m_names.Size()) {
        return {};
    }
    // Names are kept as the bytes they came as (the file is written back from them); a name
    // that is not UTF-8 only looks odd here.
    return QString::fromUtf8(m_names.At(static_cast<std::size_t>(index.row())));
}

int CNameListModel::Insert(std::string name) {
    const int row = static_cast<int>(m_names.PlaceOf(name));
    beginInsertRows(QModelIndex(), row, row);
    m_names.Insert(std::move(name));
    endInsertRows();
    return row;
}

void CNameListModel::InsertMany(std::vector<std::string> names, std::size_t* tracked,
                                CSortedNameList::Duplicates duplicates) {
    if (names.empty()) {
        return;
    }
    // One reset instead of one notice per row: a view lays 100,000 rows out once.
    beginResetModel();
    m_names.InsertMany(std::move(names), tracked, duplicates);
    endResetModel();
}

void CNameListModel::Clear() {
    beginResetModel();
    m_names.Clear();
    endResetModel();
}

void CNameListModel::Erase(int row) {
    if (row < 0 || static_cast<std::size_t>(row) >= m_names.Size()) {
        return;
    }
    beginRemoveRows(QModelIndex(), row, row);
    m_names.Erase(static_cast<std::size_t>(row));
    endRemoveRows();
}
