#include "ui/CGalleryWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QKeyEvent>
#include <QMimeData>
#include <QScrollBar>
#include <algorithm>
#include <memory>

#include "platform/CTrash.h"
#include "platform/ErrorBox.h"

namespace {

constexpr int GROUP_ROLE = Qt::UserRole + 1;

QImage ReadPicture(const QString& path) {
    QImageReader reader(path);
    reader.setAutoTransform(true);
    return reader.read();
}

}  // namespace

CGalleryWindow::CGalleryWindow(const QString& imagesFolder, QWidget* parent)
    : QWidget(parent, Qt::Window),
      m_loader(CThumbnailCache(CThumbnailCache::Size::Normal)),
      m_model(imagesFolder, m_loader),
      m_delegate(m_loader.Cache().Pixels(), QFontMetrics(font())),
      m_buttonLayout(&m_buttonBar),
      m_openFolder(QStringLiteral("Open folder"), &m_buttonBar),
      m_copy(QStringLiteral("Copy"), &m_buttonBar),
      m_delete(QStringLiteral("Delete"), &m_buttonBar),
      m_openUrl([](const QUrl& url) { return QDesktopServices::openUrl(url); }) {
    setWindowTitle(QString::fromLatin1(CAPTION));
    setLayout(&m_layout);
    m_layout.addWidget(&m_splitter, 1);
    m_layout.addWidget(&m_buttonBar);
    m_buttonLayout.setContentsMargins(0, 0, 0, 0);
    m_buttonLayout.addWidget(&m_count);
    m_buttonLayout.addWidget(&m_note, 1);
    m_note.setTextInteractionFlags(Qt::TextSelectableByMouse);
    for (QPushButton* button : {&m_openFolder, &m_copy, &m_delete}) {
        button->setAutoDefault(false);
        m_buttonLayout.addWidget(button);
    }
    m_splitter.addWidget(&m_groups);
    m_splitter.addWidget(&m_view);
    m_splitter.setStretchFactor(1, 1);
    m_splitter.setChildrenCollapsible(false);

    // Thumbnails in a grid that flows with the window's width, in cells of one size with the
    // name and size under each. Only the rows on screen ask for their thumbnails.
    const int side = m_loader.Cache().Pixels();
    const int cellWidth = m_delegate.CellSize().width();
    m_view.setViewMode(QListView::IconMode);
    m_view.setMovement(QListView::Static);
    m_view.setResizeMode(QListView::Adjust);
    m_view.setUniformItemSizes(true);
    m_view.setLayoutMode(QListView::Batched);
    m_view.setBatchSize(1000);
    m_view.setIconSize(QSize(side, side));
    m_view.setSpacing(0);
    m_view.setGridSize(m_delegate.CellSize());
    m_view.setItemDelegate(&m_delegate);
    m_view.setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_view.setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view.setModel(&m_model);
    m_view.installEventFilter(this);

    // What was asked for and scrolled away is dropped: the rows now on screen ask again.
    connect(m_view.verticalScrollBar(), &QScrollBar::valueChanged, this, [this] {
        m_model.DropPendingThumbnails();
        m_view.viewport()->update();
    });
    connect(&m_view, &QListView::activated, this,
            [this](const QModelIndex& index) { OpenPicture(index.row()); });
    connect(&m_groups, &QListWidget::currentItemChanged, this, [this](QListWidgetItem* item) {
        if (item != nullptr) {
            ShowGroup(item->data(GROUP_ROLE).toString());
        }
    });
    connect(&m_model, &CGalleryModel::groupsChanged, this, &CGalleryWindow::FillGroupList);
    connect(&m_openFolder, &QPushButton::clicked, this, &CGalleryWindow::OpenFolder);
    connect(&m_copy, &QPushButton::clicked, this, &CGalleryWindow::CopySelected);
    connect(&m_delete, &QPushButton::clicked, this, &CGalleryWindow::DeleteSelected);

    FillGroupList();
    // The groups' names whole, as far as a reasonable width allows; four thumbnails a row.
    const int groupsWidth =
        std::clamp(m_groups.sizeHintForColumn(0) + 2 * m_groups.frameWidth() + 8, 160, 320);
    m_splitter.setSizes({groupsWidth, 4 * cellWidth + 30});
    resize(groupsWidth + 4 * cellWidth + 60, 640);
}

void CGalleryWindow::FillGroupList() {
    const QString shown = m_model.Group();
    const QSignalBlocker quiet(m_groups);
    m_groups.clear();
    auto add = [this, &shown](const QString& text, const QString& group) {
        auto* item = std::make_unique<QListWidgetItem>(text, &m_groups).release();
        item->setData(GROUP_ROLE, group);
        if (group == shown) {
            m_groups.setCurrentItem(item);
        }
    };
    add(QStringLiteral("All pictures (%1)").arg(m_model.Total()), QString());
    for (const auto& [group, count] : m_model.Groups()) {
        add(QStringLiteral("%1 (%2)").arg(group).arg(count), group);
    }
    m_count.setText(m_model.rowCount() == 1
                        ? QStringLiteral("1 picture")
                        : QStringLiteral("%1 pictures").arg(m_model.rowCount()));
}

void CGalleryWindow::ShowGroup(const QString& group) {
    if (group != m_model.Group()) {
        m_model.DropPendingThumbnails();
        m_model.SetGroup(group);
    }
    FillGroupList();
}

void CGalleryWindow::OpenPicture(int row) {
    const QString path = m_model.PathAt(row);
    if (path.isEmpty()) {
        return;
    }
    m_viewerPath = path;
    const QImage picture = ReadPicture(path);
    const QString name = QFileInfo(path).fileName();
    if (m_viewer.isNull()) {
        auto viewer = std::make_unique<CPictureWindow>(picture, name, this);
        viewer->SetStepping(true);
        viewer->SetZoom(CPictureWindow::Zoom::FitLarger);
        connect(viewer.get(), &CPictureWindow::stepRequested, this, &CGalleryWindow::Step);
        connect(viewer.get(), &CPictureWindow::deleteRequested, this, &CGalleryWindow::DeleteShown);
        // Qt owns it from here on: it frees itself when closed, or goes with the gallery.
        m_viewer = viewer.release();
    } else {
        m_viewer->ShowPicture(picture, name);
    }
    m_viewer->show();
    m_viewer->raise();
    m_viewer->activateWindow();
}

void CGalleryWindow::Step(int step) {
    const int row = m_model.RowOf(m_viewerPath);
    const int next = row + step;
    // No wrapping round: the first and the last picture stay where they are.
    if (row < 0 || next < 0 || next >= m_model.rowCount()) {
        return;
    }
    m_view.setCurrentIndex(m_model.index(next));
    OpenPicture(next);
}

QStringList CGalleryWindow::SelectedPaths() const {
    QModelIndexList rows = m_view.selectionModel()->selectedIndexes();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QStringList paths;
    for (const QModelIndex& index : rows) {
        paths.push_back(m_model.PathAt(index.row()));
    }
    return paths;
}

QStringList CGalleryWindow::RemovePictures(const QStringList& paths) {
    QStringList removed;
    QStringList failed;
    for (const QString& path : paths) {
        switch (platform::CTrash().Delete(QFile::encodeName(path).toStdString())) {
            case platform::CTrash::Deletion::Trashed:
            case platform::CTrash::Deletion::Deleted:
                removed.push_back(path);
                break;
            case platform::CTrash::Deletion::Failed:
                failed.push_back(path);
                break;
            case platform::CTrash::Deletion::Kept:
                break;
        }
    }
    m_model.Forget(removed);
    if (!removed.isEmpty()) {
        emit picturesDeleted(removed);
    }
    if (!failed.isEmpty()) {
        platform::ShowErrorBox(
            "These pictures could not be moved to the trash; check that the files and the trash "
            "can be written:\n" +
            failed.join(QLatin1Char('\n')).toStdString());
    }
    return removed;
}

void CGalleryWindow::DeleteSelected() {
    const QStringList selected = SelectedPaths();
    if (selected.isEmpty()) {
        return;
    }
    const int firstRow = m_model.RowOf(selected.front());
    RemovePictures(selected);
    // The picture that took the first deleted one's place becomes the current one.
    const int row = std::min(firstRow, m_model.rowCount() - 1);
    if (row >= 0) {
        m_view.setCurrentIndex(m_model.index(row));
    }
}

void CGalleryWindow::DeleteShown() {
    if (m_viewer.isNull()) {
        return;
    }
    const int row = m_model.RowOf(m_viewerPath);
    if (RemovePictures({m_viewerPath}).isEmpty()) {
        return;
    }
    const int next = std::min(row, m_model.rowCount() - 1);
    if (row < 0 || next < 0) {
        m_viewer->close();
        return;
    }
    m_view.setCurrentIndex(m_model.index(next));
    OpenPicture(next);
}

void CGalleryWindow::CopySelected() {
    const QString current = m_model.PathAt(m_view.currentIndex().row());
    QStringList paths = SelectedPaths();
    if (paths.isEmpty() && !current.isEmpty()) {
        paths.push_back(current);
    }
    if (paths.isEmpty()) {
        return;
    }
    auto data = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    for (const QString& path : paths) {
        urls.push_back(QUrl::fromLocalFile(path));
    }
    data->setUrls(urls);
    const QImage picture = ReadPicture(current.isEmpty() ? paths.front() : current);
    if (!picture.isNull()) {
        data->setImageData(picture);
    }
    // The clipboard takes the data over.
    QApplication::clipboard()->setMimeData(data.release());
}

void CGalleryWindow::OpenFolder() {
    const QString current = m_model.PathAt(m_view.currentIndex().row());
    QString folder = m_model.ImagesFolder();
    if (!current.isEmpty()) {
        // The picture's own: its group's, or the archive's inside it.
        folder = QFileInfo(current).path();
    } else if (!m_model.Group().isEmpty()) {
        folder += QLatin1Char('/') + m_model.Group();
    }
    if (m_openUrl(QUrl::fromLocalFile(folder))) {
        m_note.clear();
    } else {
        m_note.setText(QStringLiteral("No file manager could show the folder %1")
                           .arg(QDir::toNativeSeparators(folder)));
    }
}

void CGalleryWindow::NotePicture(const QString& path) {
    m_model.NotePicture(path);
}

bool CGalleryWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &m_view && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->matches(QKeySequence::Delete) ||
            (key->key() == Qt::Key_Delete && key->modifiers() == Qt::NoModifier)) {
            DeleteSelected();
            return true;
        }
        if (key->matches(QKeySequence::Copy)) {
            CopySelected();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
