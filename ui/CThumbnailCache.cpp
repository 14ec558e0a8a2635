#include "ui/CThumbnailCache.h"

#include <stdio.h>
#include <sys/stat.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryFile>
#include <string_view>

namespace {

constexpr const char* URI_KEY = "Thumb::URI";
constexpr const char* MTIME_KEY = "Thumb::MTime";
constexpr const char* SIZE_KEY = "Thumb::Size";

QString CacheHome() {
    const QString configured = qEnvironmentVariable("XDG_CACHE_HOME");
    if (!configured.isEmpty() && QDir::isAbsolutePath(configured)) {
        return configured;
    }
    return QDir::homePath() + QStringLiteral("/.cache");
}

// Makes the folder and those above it that are missing; the ones made here are the owner's
// alone, as thumbnails show what a person keeps.
bool MakePrivateFolder(const QString& folder) {
    if (QFileInfo(folder).isDir()) {
        return true;
    }
    const QString parent = QFileInfo(folder).absolutePath();
    if (parent != folder && !MakePrivateFolder(parent)) {
        return false;
    }
    return ::mkdir(QFile::encodeName(folder).constData(), 0700) == 0 || QFileInfo(folder).isDir();
}

}  // namespace

CThumbnailCache::CThumbnailCache(Size size)
    : m_size(size),
      m_folder(CacheHome() + (size == Size::Normal ? QStringLiteral("/thumbnails/normal")
                                                   : QStringLiteral("/thumbnails/large"))) {}

int CThumbnailCache::Pixels(Size size) {
    return size == Size::Normal ? 128 : 256;
}

QByteArray CThumbnailCache::FileAddress(const QString& picturePath) {
    // The bytes of the name as the file system has them, escaped as the desktop's other programs
    // escape a file's address: RFC 3986's unreserved characters, its sub-delimiters but ";",
    // ":", "@" and "/" stay; every other byte becomes %XX, in capitals.
    static constexpr std::string_view KEPT = "-._~!$&'()*+,=:@/";
    static constexpr std::string_view HEX = "0123456789ABCDEF";
    const QByteArray path = QFile::encodeName(QFileInfo(picturePath).absoluteFilePath());
    QByteArray address = "file://";
    address.reserve(address.size() + 3 * path.size());
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
            (byte >= '0' && byte <= '9') || KEPT.find(c) != std::string_view::npos) {
            address += c;
        } else {
            address += '%';
            address += HEX[byte >> 4];
            address += HEX[byte & 0x0F];
        }
    }
    return address;
}

QString CThumbnailCache::EntryPath(const QString& picturePath) const {
    const QByteArray digest =
        QCryptographicHash::hash(FileAddress(picturePath), QCryptographicHash::Md5).toHex();
    return m_folder + QLatin1Char('/') + QString::fromLatin1(digest) + QStringLiteral(".png");
}

QImage CThumbnailCache::Load(const QString& picturePath, qint64 modifiedSeconds,
                             qint64 fileSize) const {
    // The keys are read from the image: the reader's own text breaks them at their colons.
    QImageReader reader(EntryPath(picturePath), "png");
    QImage entry = reader.read();
    if (entry.isNull()) {
        return {};
    }
    const QString size = entry.text(QString::fromLatin1(SIZE_KEY));
    if (entry.text(QString::fromLatin1(URI_KEY)).toUtf8() != FileAddress(picturePath) ||
        entry.text(QString::fromLatin1(MTIME_KEY)) != QString::number(modifiedSeconds) ||
        (!size.isEmpty() && size != QString::number(fileSize))) {
        return {};
    }
    return entry;
}

bool CThumbnailCache::Store(const QString& picturePath, qint64 modifiedSeconds, qint64 fileSize,
                            const QImage& thumbnail) const {
    if (thumbnail.isNull() || !MakePrivateFolder(m_folder)) {
        return false;
    }
    // A temporary file is made readable by its owner only; renamed, it replaces the entry in
    // one step, so another program never reads half a thumbnail.
    QTemporaryFile file(m_folder + QStringLiteral("/zarvo-XXXXXX.png"));
    if (!file.open()) {
        return false;
    }
    // The keys go on the image: the writer's own text takes the colons out of them.
    QImage entry = thumbnail;
    entry.setText(QString::fromLatin1(URI_KEY), QString::fromUtf8(FileAddress(picturePath)));
    entry.setText(QString::fromLatin1(MTIME_KEY), QString::number(modifiedSeconds));
    entry.setText(QString::fromLatin1(SIZE_KEY), QString::number(fileSize));
    entry.setText(QStringLiteral("Software"), QStringLiteral("Zarvo"));
    QImageWriter writer(&file, "png");
    // zlib's fastest level: several times quicker than the writer's default, for entries a
    // fifth larger.
    writer.setQuality(80);
    if (!writer.write(entry) || !file.flush()) {
        return false;
    }
    file.close();
    if (::rename(QFile::encodeName(file.fileName()).constData(),
                 QFile::encodeName(EntryPath(picturePath)).constData()) != 0) {
        return false;
    }
    file.setAutoRemove(false);
    return true;
}
