#include "ui/CListBox.h"

#include <QKeyEvent>
#include <QLineEdit>
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
    connect(this, &QListView::doubleClicked, this, [this](const QModelIndex& row) {
        if (row.isValid()) {
            selectionModel()->setCurrentIndex(row, QItemSelectionModel::ClearAndSelect);
            emit chosen();
        }
    });
}

int CListBox::AddString(const std::string& name) {
    if (!CSortedNameList::CanList(name)) {
        return LB_ERR;
    }
    return static_cast<int>(m_model.Insert(name));
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
    m_model.Erase(static_cast<std::size_t>(index));
    return true;
}

int CListBox::GetCount() const {
    return static_cast<int>(m_model.Names().Size());
}

int CListBox::GetCurSel() const {
    const QModelIndexList rows = selectionModel()->selectedIndexes();
    return rows.isEmpty() ? LB_ERR : static_cast<int>(m_model.EntryOf(rows.front().row()));
}

void CListBox::SetCurSel(int index) {
    const int row = index < 0 ? -1 : m_model.RowOf(static_cast<std::size_t>(index));
    if (row < 0) {
        selectionModel()->clearSelection();
        return;
    }
    const QModelIndex shown = m_model.index(row);
    selectionModel()->setCurrentIndex(shown, QItemSelectionModel::ClearAndSelect);
    scrollTo(shown);
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

void CListBox::SetFilter(const std::string& text) {
    const int selected = GetCurSel();
    m_model.SetFilter(CNameFilter(text));
    if (selected != LB_ERR) {
        SetCurSel(selected);
    }
}

std::vector<std::string> CListBox::ShownNames() const {
    std::vector<std::string> names;
    names.reserve(static_cast<std::size_t>(m_model.rowCount()));
    for (int row = 0; row < m_model.rowCount(); ++row) {
        names.push_back(m_model.Names().At(m_model.EntryOf(row)));
    }
    return names;
}

void CListBox::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // Taken here, chosen or not, so that it does not reach the dialog's default button.
        if (GetCurSel() != LB_ERR) {
            emit chosen();
        }
        event->accept();
        return;
    }
    const QString text = event->text();
    const bool typing = !text.isEmpty() && text.at(0).isPrint() &&
                        (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) == 0;
    if (typing && m_typingTarget != nullptr) {
        m_typingTarget->setFocus();
        m_typingTarget->insert(text);
        event->accept();
        return;
    }
    QListView::keyPressEvent(event);
}
