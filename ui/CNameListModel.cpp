#include "ui/CNameListModel.h"

#include <algorithm>
#include <utility>

int CNameListModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid()) {
        return 0;
    }
    return static_cast<int>(Filtered() ? m_shown.size() : m_names.Size());
}

QVariant CNameListModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() < 0 ||
        index.row() >= rowCount()) {
        return {};
    }
    // Names are kept as the bytes they came as (the file is written back from them); a name
    // that is not UTF-8 only looks odd here.
    return QString::fromUtf8(m_names.At(EntryOf(index.row())));
}

std::size_t CNameListModel::Insert(std::string name) {
    const std::size_t entry = m_names.PlaceOf(name);
    if (!Filtered()) {
        const int row = static_cast<int>(entry);
        beginInsertRows(QModelIndex(), row, row);
        m_names.Insert(std::move(name));
        endInsertRows();
        return entry;
    }
    // The entries shown after it move down by one, whether it is shown or not.
    const auto after = std::lower_bound(m_shown.begin(), m_shown.end(), entry);
    const auto moved = [&] {
        std::for_each(after, m_shown.end(), [](std::size_t& shown) { ++shown; });
    };
    if (!m_filter.Passes(name)) {
        m_names.Insert(std::move(name));
        moved();
        return entry;
    }
    const int row = static_cast<int>(after - m_shown.begin());
    beginInsertRows(QModelIndex(), row, row);
    m_names.Insert(std::move(name));
    moved();
    m_shown.insert(m_shown.begin() + row, entry);
    endInsertRows();
    return entry;
}

void CNameListModel::InsertMany(std::vector<std::string> names, std::size_t* tracked,
                                CSortedNameList::Duplicates duplicates) {
    if (names.empty()) {
        return;
    }
    // One reset instead of one notice per row: a view lays 100,000 rows out once.
    beginResetModel();
    m_names.InsertMany(std::move(names), tracked, duplicates);
    Refilter();
    endResetModel();
}

void CNameListModel::Clear() {
    beginResetModel();
    m_names.Clear();
    m_shown.clear();
    endResetModel();
}

void CNameListModel::Erase(std::size_t entry) {
    if (entry >= m_names.Size()) {
        return;
    }
    const int row = RowOf(entry);
    if (row >= 0) {
        beginRemoveRows(QModelIndex(), row, row);
    }
    m_names.Erase(entry);
    if (Filtered()) {
        const auto after = std::upper_bound(m_shown.begin(), m_shown.end(), entry);
        std::for_each(after, m_shown.end(), [](std::size_t& shown) { --shown; });
        if (row >= 0) {
            m_shown.erase(m_shown.begin() + row);
        }
    }
    if (row >= 0) {
        endRemoveRows();
    }
}

void CNameListModel::SetFilter(CNameFilter filter) {
    beginResetModel();
    m_filter = std::move(filter);
    Refilter();
    endResetModel();
}

std::size_t CNameListModel::EntryOf(int row) const {
    return Filtered() ? m_shown.at(static_cast<std::size_t>(row)) : static_cast<std::size_t>(row);
}

int CNameListModel::RowOf(std::size_t entry) const {
    if (entry >= m_names.Size()) {
        return -1;
    }
    if (!Filtered()) {
        return static_cast<int>(entry);
    }
    const auto shown = std::lower_bound(m_shown.begin(), m_shown.end(), entry);
    return shown != m_shown.end() && *shown == entry ? static_cast<int>(shown - m_shown.begin())
                                                     : -1;
}

void CNameListModel::Refilter() {
    m_shown.clear();
    if (!Filtered()) {
        m_shown.shrink_to_fit();
        return;
    }
    const std::vector<std::string>& names = m_names.Names();
    for (std::size_t entry = 0; entry < names.size(); ++entry) {
        if (m_filter.Passes(names[entry])) {
            m_shown.push_back(entry);
        }
    }
}
