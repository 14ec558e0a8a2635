#pragma once

// The desktop's shared thumbnail cache: a picture's thumbnail is a PNG file named by the MD5 of
// the picture's file address, in thumbnails/normal (at most 128 pixels) or thumbnails/large
// (256) under $XDG_CACHE_HOME (~/.cache when unset). The PNG holds the address and the
// picture's modification time, so that the thumbnail of a changed picture is known to be
// stale. It reads and writes cache entries; it does not make thumbnails. Its methods may run on
// any thread at once.

#include <QImage>
#include <QString>

class CThumbnailCache {
public:
    enum class Size { Normal, Large };

    // A cache in the folder for the size under $XDG_CACHE_HOME, as the environment says now.
    explicit CThumbnailCache(Size size = Size::Normal);

    // The longest side of a thumbnail of the size.
    static int Pixels(Size size);
    int Pixels() const { return Pixels(m_size); }
    // The folder the entries lie in.
    const QString& Folder() const { return m_folder; }
    // The picture's absolute path as a "file://" address, its bytes percent-encoded exactly as
    // the desktop's other programs encode them: the cache's key.
    static QByteArray FileAddress(const QString& picturePath);
    // The entry's file for the picture: the address's MD5 in hex, then ".png".
    QString EntryPath(const QString& picturePath) const;

    // The cached thumbnail when the entry was made from the picture as it is now (the same
    // address, modification time and, when the entry records it, file size); null otherwise.
    QImage Load(const QString& picturePath, qint64 modifiedSeconds, qint64 fileSize) const;
    // Writes the entry atomically (a private temporary file renamed over the old entry), the
    // folders made private where they are missing. False when it could not be written.
    bool Store(const QString& picturePath, qint64 modifiedSeconds, qint64 fileSize,
               const QImage& thumbnail) const;

private:
    Size m_size;
    QString m_folder;
};
