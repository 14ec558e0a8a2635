#include "ui/CGalleryModel.h"

#include <sys/stat.h>

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QPainter>
#include <algorithm>
#include <memory>
#include <optional>

namespace {

// How long folder changes are gathered before the folders are read.
constexpr int SCAN_DELAY_MS = 150;
// Thumbnails kept as drawn: some screens' worth.
constexpr int KEPT_THUMBNAILS = 2000;
// From this many new pictures in a folder on, the rows are sorted afresh.
constexpr std::size_t BULK_INSERT = 64;

QPixmap Tile(int side, const QString& text) {
    QPixmap tile(side, side);
    tile.fill(QColor(0xe8, 0xe8, 0xe8));
    QPainter painter(&tile);
    painter.setPen(QColor(0xa0, 0xa0, 0xa0));
    painter.drawRect(0, 0, side - 1, side - 1);
    if (!text.isEmpty()) {
        painter.setPen(QColor(0x50, 0x50, 0x50));
        painter.drawText(QRect(0, 0, side, side), Qt::AlignCenter | Qt::TextWordWrap, text);
    }
    return tile;
}

}  // namespace

CGalleryModel::CGalleryModel(const QString& imagesFolder, CThumbnailLoader& loader, QObject* parent)
    : QAbstractListModel(parent),
      m_imagesFolder(QDir::cleanPath(QFileInfo(imagesFolder).absoluteFilePath())),
      m_loader(loader),
      m_thumbnails(KEPT_THUMBNAILS),
      m_waitingTile(Tile(loader.Cache().Pixels(), {})),
      m_cannotShowTile(Tile(loader.Cache().Pixels(), QStringLiteral("cannot show"))) {
    m_scanTimer.setSingleShot(true);
    m_scanTimer.setInterval(SCAN_DELAY_MS);
    connect(&m_scanTimer, &QTimer::timeout, this, &CGalleryModel::Refresh);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this,
            &CGalleryModel::OnFolderChanged);
    connect(&m_loader, &CThumbnailLoader::thumbnailReady, this, &CGalleryModel::OnThumbnail);
    m_groupsChanged = true;
    Refresh();
}

bool CGalleryModel::Newer(const Entry* a, const Entry* b) {
    if (a->modified != b->modified) {
        return a->modified > b->modified;
    }
    return a->path < b->path;
}

void CGalleryModel::SetGroup(const QString& group) {
    beginResetModel();
    m_group = group;
    m_rows.clear();
    for (const auto& [path, entry] : m_entries) {
        if (Shows(entry)) {
            m_rows.push_back(&entry);
        }
    }
    std::sort(m_rows.begin(), m_rows.end(), Newer);
    endResetModel();
}

std::vector<std::pair<QString, int>> CGalleryModel::Groups() const {
    std::vector<std::pair<QString, int>> groups;
    for (const auto& [group, count] : m_counts) {
        groups.emplace_back(group, count);
    }
    std::sort(groups.begin(), groups.end());
    return groups;
}

void CGalleryModel::Refresh() {
    m_scanTimer.stop();
    const int groupsBefore = static_cast<int>(m_counts.size());
    const int totalBefore = Total();
    std::unordered_map<QString, Entry> found;
    if (m_groupsChanged) {
        m_groupsChanged = false;
        ScanGroups(found);
    }
    const QSet<QString> changed = std::exchange(m_changedFolders, {});
    for (const QString& folder : changed) {
        // A folder that went with its group is not followed any more.
        if (m_folders.contains(folder)) {
            ScanFolder(folder, found);
        }
    }
    InsertFound(std::move(found));
    if (groupsBefore != static_cast<int>(m_counts.size()) || totalBefore != Total() ||
        !changed.isEmpty()) {
        emit groupsChanged();
    }
}

QString CGalleryModel::GroupOf(const QString& folder) const {
    if (!folder.startsWith(m_imagesFolder + QLatin1Char('/'))) {
        return {};
    }
    const QStringList parts = folder.mid(m_imagesFolder.size() + 1).split(QLatin1Char('/'));
    return parts.size() <= 2 && !parts.front().isEmpty() ? parts.front() : QString();
}

void CGalleryModel::ScanGroups(std::unordered_map<QString, Entry>& found) {
    if (!m_watcher.directories().contains(m_imagesFolder) && QFileInfo(m_imagesFolder).isDir()) {
        m_watcher.addPath(m_imagesFolder);
    }
    const QStringList groups = QDir(m_imagesFolder).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    // Groups whose folder went: their pictures go with them.
    QStringList gone;
    for (const QString& folder : m_folders) {
        if (QFileInfo(folder).path() == m_imagesFolder &&
            !groups.contains(QFileInfo(folder).fileName())) {
            gone.push_back(folder);
        }
    }
    for (const QString& folder : gone) {
        Unfollow(folder);
    }
    for (const QString& group : groups) {
        const QString folder = m_imagesFolder + QLatin1Char('/') + group;
        if (!m_folders.contains(folder)) {
            Follow(folder, found);
        }
    }
}

void CGalleryModel::Follow(const QString& folder, std::unordered_map<QString, Entry>& found) {
    m_folders.insert(folder);
    m_watcher.addPath(folder);
    ScanFolder(folder, found);
}

void CGalleryModel::Unfollow(const QString& folder) {
    m_folders.remove(folder);
    m_watcher.removePath(folder);
    // The folders inside a group's folder go with it.
    const QString inside = folder + QLatin1Char('/');
    QStringList remove;
    for (const QString& followed : m_folders) {
        if (followed.startsWith(inside)) {
            remove.push_back(followed);
        }
    }
    for (const QString& followed : remove) {
        Unfollow(followed);
    }
    remove.clear();
    for (const auto& [path, entry] : m_entries) {
        if (entry.folder == folder) {
            remove.push_back(path);
        }
    }
    for (const QString& path : remove) {
        Remove(path);
    }
}

std::optional<CGalleryModel::Entry> CGalleryModel::ReadEntry(const QString& path,
                                                             const QString& group,
                                                             const QString& folder,
                                                             const QString& name) {
    // A hidden file is a picture still being written, or none of the gallery's business.
    if (name.startsWith(QLatin1Char('.'))) {
        return std::nullopt;
    }
    // stat itself: a file's time as a date in the local zone costs more than the rest of the
    // reading, and a large collection is read at every opening.
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    return Entry{path,
                 group,
                 folder,
                 name,
                 static_cast<qint64>(info.st_size),
                 static_cast<qint64>(info.st_mtim.tv_sec) * 1000 + info.st_mtim.tv_nsec / 1000000};
}

void CGalleryModel::ScanFolder(const QString& folder, std::unordered_map<QString, Entry>& found) {
    // Only the names are read for the files known already: a folder of many thousands is read
    // again whenever a run adds to it. A known file that was written anew is found out when
    // its thumbnail is made (see OnThumbnail).
    const QString group = GroupOf(folder);
    QSet<QString> listed;
    QDirIterator files(folder, QDir::Files | QDir::NoDotAndDotDot);
    while (files.hasNext()) {
        const QString path = files.next();
        listed.insert(path);
        if (m_entries.find(path) != m_entries.end() || found.find(path) != found.end()) {
            continue;
        }
        if (std::optional<Entry> entry = ReadEntry(path, group, folder, files.fileName())) {
            found.emplace(path, std::move(*entry));
        }
    }
    QStringList remove;
    for (const auto& [path, entry] : m_entries) {
        if (entry.folder == folder && !listed.contains(path)) {
            remove.push_back(path);
        }
    }
    for (const QString& path : remove) {
        Remove(path);
    }
    if (QFileInfo(folder).path() != m_imagesFolder) {
        return;
    }
    // A group's folder: the folders inside it (an archive's pictures) are followed as well.
    const QStringList inner = QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QStringList gone;
    for (const QString& followed : m_folders) {
        if (QFileInfo(followed).path() == folder &&
            !inner.contains(QFileInfo(followed).fileName())) {
            gone.push_back(followed);
        }
    }
    for (const QString& followed : gone) {
        Unfollow(followed);
    }
    for (const QString& name : inner) {
        const QString innerFolder = folder + QLatin1Char('/') + name;
        if (!m_folders.contains(innerFolder)) {
            Follow(innerFolder, found);
        }
    }
}

void CGalleryModel::InsertFound(std::unordered_map<QString, Entry> found) {
    // A folder read and then found gone in the same reading is not followed: its files are not
    // shown.
    std::erase_if(found,
                  [this](const auto& item) { return !m_folders.contains(item.second.folder); });
    if (found.size() < BULK_INSERT) {
        for (auto& [path, entry] : found) {
            Insert(std::move(entry));
        }
        return;
    }
    // Many at once (a collection read at opening): the rows are sorted once, not moved for
    // every picture.
    beginResetModel();
    for (auto& [path, entry] : found) {
        const auto place = m_entries.emplace(path, std::move(entry)).first;
        ++m_counts[place->second.group];
        if (Shows(place->second)) {
            m_rows.push_back(&place->second);
        }
    }
    std::sort(m_rows.begin(), m_rows.end(), Newer);
    endResetModel();
}

void CGalleryModel::Insert(Entry entry) {
    const QString path = entry.path;
    const auto [place, inserted] = m_entries.emplace(path, std::move(entry));
    if (!inserted) {
        return;
    }
    ++m_counts[place->second.group];
    if (!Shows(place->second)) {
        return;
    }
    const auto at = std::lower_bound(m_rows.begin(), m_rows.end(), &place->second, Newer);
    const auto row = static_cast<int>(at - m_rows.begin());
    beginInsertRows({}, row, row);
    m_rows.insert(at, &place->second);
    endInsertRows();
}

void CGalleryModel::Remove(const QString& path) {
    const auto place = m_entries.find(path);
    if (place == m_entries.end()) {
        return;
    }
    m_thumbnails.remove(path);
    m_unreadable.remove(path);
    const int row = RowOf(path);
    if (row >= 0) {
        beginRemoveRows({}, row, row);
        m_rows.erase(m_rows.begin() + row);
        endRemoveRows();
    }
    if (--m_counts[place->second.group] == 0) {
        m_counts.erase(place->second.group);
    }
    m_entries.erase(place);
}

void CGalleryModel::NotePicture(const QString& path) {
    const QFileInfo info(path);
    const QString folder = QDir::cleanPath(info.absolutePath());
    const QString group = GroupOf(folder);
    if (group.isEmpty()) {
        return;
    }
    if (m_folders.contains(folder)) {
        // A folder followed already: the one file is read at once.
        const int before = Total();
        Restat(folder + QLatin1Char('/') + info.fileName());
        if (Total() != before) {
            emit groupsChanged();
        }
        return;
    }
    // A new folder: its group's folder is read soon, or the images folder for a new group.
    const QString groupFolder = m_imagesFolder + QLatin1Char('/') + group;
    if (m_folders.contains(groupFolder)) {
        m_changedFolders.insert(groupFolder);
    } else {
        m_groupsChanged = true;
    }
    if (!m_scanTimer.isActive()) {
        m_scanTimer.start();
    }
}

void CGalleryModel::Restat(const QString& path) {
    const QFileInfo info(path);
    const QString folder = info.path();
    std::optional<Entry> now = ReadEntry(path, GroupOf(folder), folder, info.fileName());
    const auto known = m_entries.find(path);
    if (known != m_entries.end() && now && known->second.size == now->size &&
        known->second.modified == now->modified) {
        return;
    }
    Remove(path);
    if (now) {
        Insert(std::move(*now));
    }
}

void CGalleryModel::Forget(const QStringList& paths) {
    const int before = Total();
    for (const QString& path : paths) {
        Remove(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    }
    if (Total() != before) {
        emit groupsChanged();
    }
}

void CGalleryModel::DropPendingThumbnails() {
    m_loader.DropPending();
    m_requested.clear();
}

void CGalleryModel::OnFolderChanged(const QString& folder) {
    if (folder == m_imagesFolder) {
        m_groupsChanged = true;
    } else {
        m_changedFolders.insert(folder);
    }
    // Not restarted by every change: a busy run still shows its pictures as they come.
    if (!m_scanTimer.isActive()) {
        m_scanTimer.start();
    }
}

void CGalleryModel::OnThumbnail(const QString& path, const QImage& thumbnail,
                                qint64 modifiedSeconds) {
    m_requested.remove(path);
    const auto entry = m_entries.find(path);
    if (entry == m_entries.end()) {
        return;
    }
    if (modifiedSeconds != entry->second.modified / 1000) {
        // The file is not what the row says: it was written anew since it was read, or since
        // the thumbnail was made. Read it again; the row then asks again when it is drawn.
        const int before = Total();
        Restat(path);
        if (Total() != before) {
            emit groupsChanged();
        }
    } else if (thumbnail.isNull()) {
        m_unreadable.insert(path);
    } else {
        m_thumbnails.insert(path,
                            std::make_unique<QPixmap>(QPixmap::fromImage(thumbnail)).release());
    }
    const int row = RowOf(path);
    if (row >= 0) {
        emit dataChanged(index(row), index(row), {Qt::DecorationRole, ReadableRole});
    }
}

bool CGalleryModel::HasThumbnail(int row) const {
    const QString path = PathAt(row);
    return !path.isEmpty() && (m_unreadable.contains(path) || m_thumbnails.contains(path));
}

QString CGalleryModel::PathAt(int row) const {
    return row >= 0 && row < rowCount() ? m_rows[static_cast<std::size_t>(row)]->path : QString();
}

int CGalleryModel::RowOf(const QString& path) const {
    const auto place = m_entries.find(path);
    if (place == m_entries.end()) {
        return -1;
    }
    const auto at = std::lower_bound(m_rows.begin(), m_rows.end(), &place->second, Newer);
    return at != m_rows.end() && *at == &place->second ? static_cast<int>(at - m_rows.begin()) : -1;
}

int CGalleryModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

const QPixmap& CGalleryModel::Thumbnail(const Entry& entry) const {
    if (m_unreadable.contains(entry.path)) {
        return m_cannotShowTile;
    }
    if (const QPixmap* thumbnail = m_thumbnails.object(entry.path)) {
        return *thumbnail;
    }
    if (!m_requested.contains(entry.path)) {
        m_requested.insert(entry.path);
        m_loader.Request(entry.path);
    }
    return m_waitingTile;
}

QVariant CGalleryModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    const Entry& entry = *m_rows[static_cast<std::size_t>(index.row())];
    switch (role) {
        case Qt::DisplayRole:
            return entry.name + QLatin1Char('\n') + SizeText(entry.size);
        case Qt::DecorationRole:
            return Thumbnail(entry);
        case Qt::ToolTipRole:
            return entry.path;
        case PathRole:
            return entry.path;
        case GroupRole:
            return entry.group;
        case FileSizeRole:
            return entry.size;
        case ReadableRole:
            return !m_unreadable.contains(entry.path);
        case NameRole:
            return entry.name;
        default:
            return {};
    }
}

QString CGalleryModel::SizeText(qint64 bytes) {
    constexpr qint64 KB = 1024;
    if (bytes < KB) {
        return QStringLiteral("%1 bytes").arg(bytes);
    }
    if (bytes < KB * KB) {
        return QStringLiteral("%1 KB").arg((bytes + KB / 2) / KB);
    }
    return QStringLiteral("%1 MB").arg(static_cast<double>(bytes) / (KB * KB), 0, 'f', 1);
}
