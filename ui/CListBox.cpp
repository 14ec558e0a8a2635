#include "ui/CListBox.h"

#include <utility>

CListBox::CListBox(QWidget* parent) : QListView(parent) {
    setModel(&m_model);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Every row has the height of one line of text: the view then lays out 100,000 rows
    // without measuring each of them.
    setUniformItemSizes(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
}

int CListBox::AddString(const std::string& name) {
    if (!CSortedNameList::CanList(name)) {
        return LB_ERR;
    }
    return m_model.Insert(name);
}

std::size_t CListBox::AddStrings(std::vector<std::string> names,
                                 CSortedNameList::Duplicates duplicates) {
    std::erase_if(names, [](const std::string& name) { return !CSortedNameList::CanList(name); });
    const int before = GetCount();
    const int selected = GetCurSel();
    std::size_t tracked = selected == LB_ERR ? 0 : static_cast<std::size_t>(selected);
    m_model.InsertMany(std::move(names), selected == LB_ERR ? nullptr : &tracked, duplicates);
    if (selected != LB_ERR) {
        // The reset dropped the selection; the entry is found again where it went.
        SetCurSel(static_cast<int>(tracked));
    }
    return static_cast<std::size_t>(GetCount() - before);
}

void CListBox::ResetContent() {
    m_model.Clear();
}

bool CListBox::DeleteString(int index) {
    if (index < 0 || index >= GetCount()) {
        return false;
    }
    m_model.Erase(index);
    return true;
}

int CListBox::GetCount() const {
    return m_model.rowCount();
}

int CListBox::GetCurSel() const {
    const QModelIndexList rows = selectionModel()->selectedIndexes();
    return rows.isEmpty() ? LB_ERR : rows.front().row();
}

void CListBox::SetCurSel(int index) {
    if (index < 0 || index >= GetCount()) {
        selectionModel()->clearSelection();
        return;
    }
    const QModelIndex row = m_model.index(index);
    selectionModel()->setCurrentIndex(row, QItemSelectionModel::ClearAndSelect);
    scrollTo(row);
}

std::string CListBox::GetText(int index) const {
    if (index < 0 || index >= GetCount()) {
        return {};
    }
    return m_model.Names().At(static_cast<std::size_t>(index));
}

int CListBox::FindString(const std::string& prefix) const {
    return m_model.Names().FindPrefix(prefix);
}
