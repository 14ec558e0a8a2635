#pragma once

// Makes thumbnails on a pool of worker threads, never on the caller's: a request is answered
// from the thumbnail cache when it holds a fresh entry; otherwise the picture is decoded at
// thumbnail size (which JPEG does cheaply) and the entry is written. The most recent requests
// are served first, so that what is on screen now comes before what was scrolled past. Each
// answer comes back as a signal on the loader's own thread. It keeps no thumbnails in memory.

#include <QImage>
#include <QObject>
#include <QSet>
#include <QString>
#include <QThreadPool>
#include <atomic>
#include <deque>
#include <mutex>

#include "ui/CThumbnailCache.h"

class CThumbnailLoader : public QObject {
    Q_OBJECT

public:
    // Threads: 0 for one per core.
    explicit CThumbnailLoader(const CThumbnailCache& cache, int threads = 0,
                              QObject* parent = nullptr);
    // Drops what has not begun and waits for what has.
    ~CThumbnailLoader() override;

    // Asks for the picture's thumbnail; a request for a picture that waits already is moved to
    // the front.
    void Request(const QString& picturePath);
    // Drops the requests that have not begun.
    void DropPending();
    // Waits until every request is answered; false when the time ran out first.
    bool WaitForDone(int milliseconds = -1);

    // Pictures decoded so far, and answers read from the cache.
    int Decoded() const { return m_decoded.load(); }
    int CacheHits() const { return m_cacheHits.load(); }
    const CThumbnailCache& Cache() const { return m_cache; }

    // The picture decoded to fit into a square of the side, its proportions kept and never
    // enlarged; null when it is not a picture that can be read.
    static QImage Decode(const QString& picturePath, int side);

signals:
    // The thumbnail, or a null image for a file that is not a readable picture; made from the
    // file as it was at the modification time.
    void thumbnailReady(const QString& picturePath, const QImage& thumbnail,
                        qint64 modifiedSeconds);

private:
    // What each worker runs: takes requests until none is left.
    void Work();
    QImage Make(const QString& picturePath, qint64& modifiedSeconds);

    CThumbnailCache m_cache;
    std::mutex m_lock;
    // Waiting requests, the newest at the back; m_waiting holds the same paths, for finding.
    std::deque<QString> m_pending;
    QSet<QString> m_waiting;
    int m_workers = 0;
    std::atomic<int> m_decoded{0};
    std::atomic<int> m_cacheHits{0};
    QThreadPool m_pool;
};
