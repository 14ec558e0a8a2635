#include "ui/CThumbnailLoader.h"

#include <QFileInfo>
#include <QImageReader>
#include <algorithm>

CThumbnailLoader::CThumbnailLoader(const CThumbnailCache& cache, int threads, QObject* parent)
    : QObject(parent), m_cache(cache) {
    m_pool.setMaxThreadCount(threads > 0 ? threads : std::max(1, QThread::idealThreadCount()));
}

CThumbnailLoader::~CThumbnailLoader() {
    DropPending();
    m_pool.waitForDone();
}

void CThumbnailLoader::Request(const QString& picturePath) {
    std::lock_guard lock(m_lock);
    if (m_waiting.contains(picturePath)) {
        m_pending.erase(std::find(m_pending.begin(), m_pending.end(), picturePath));
    } else {
        m_waiting.insert(picturePath);
    }
    m_pending.push_back(picturePath);
    if (m_workers < m_pool.maxThreadCount()) {
        ++m_workers;
        m_pool.start([this] { Work(); });
    }
}

void CThumbnailLoader::DropPending() {
    std::lock_guard lock(m_lock);
    m_pending.clear();
    m_waiting.clear();
}

bool CThumbnailLoader::WaitForDone(int milliseconds) {
    return m_pool.waitForDone(milliseconds);
}

void CThumbnailLoader::Work() {
    for (;;) {
        QString path;
        {
            std::lock_guard lock(m_lock);
            if (m_pending.empty()) {
                --m_workers;
                return;
            }
            path = std::move(m_pending.back());
            m_pending.pop_back();
            m_waiting.remove(path);
        }
        qint64 modified = 0;
        const QImage thumbnail = Make(path, modified);
        emit thumbnailReady(path, thumbnail, modified);
    }
}

QImage CThumbnailLoader::Make(const QString& picturePath, qint64& modified) {
    const QFileInfo info(picturePath);
    modified = info.lastModified().toSecsSinceEpoch();
    QImage thumbnail = m_cache.Load(picturePath, modified, info.size());
    if (!thumbnail.isNull()) {
        ++m_cacheHits;
        return thumbnail;
    }
    ++m_decoded;
    thumbnail = Decode(picturePath, m_cache.Pixels());
    // A file that is no picture gets no entry: it is tried again the next time it is shown,
    // in case it was still being written.
    if (!thumbnail.isNull()) {
        m_cache.Store(picturePath, modified, info.size(), thumbnail);
    }
    return thumbnail;
}

QImage CThumbnailLoader::Decode(const QString& picturePath, int side) {
    QImageReader reader(picturePath);
    reader.setAutoTransform(true);
    QSize size = reader.size();
    if (!size.isValid()) {
        return {};
    }
    if (reader.transformation().testFlag(QImageIOHandler::TransformationRotate90)) {
        size.transpose();
    }
    if (size.width() > side || size.height() > side) {
        // The reader scales before it turns the picture; the size it is given is unturned.
        QSize scaled = size.scaled(side, side, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
        if (reader.transformation().testFlag(QImageIOHandler::TransformationRotate90)) {
            scaled.transpose();
        }
        reader.setScaledSize(scaled);
    }
    return reader.read();
}
