#pragma once

// The content index of the collection: the SHA-256 digest of every picture stored under
// `images/`, so that a picture whose bytes are there already, under any name in any group, is
// not stored again, and one the user deleted is still remembered and does not come back with a
// repost. The file holds a versioned first line and one line a picture, "<digest in hex> <size>
// <path>", and only grows by appends under an exclusive flock, so that two Zarvos on one folder
// never tear it; ForgetMissing alone rewrites it. A missing or damaged file is made anew from
// the pictures on disk. It neither stores nor deletes pictures; its callers do.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "decode/CDigestSet.h"

// Beside zarvo.cfg, in the program folder.
inline constexpr const char* CONTENT_INDEX_FILE_NAME = "zarvo-content.index";

class CContentIndex {
public:
    using Digest = std::array<unsigned char, 32>;

    static Digest DigestOf(std::string_view bytes);
    // The digest of the file's bytes, read a block at a time; nothing when it cannot be read.
    static std::optional<Digest> DigestOfFile(const std::string& path);

    // Progress of a rebuild: files hashed so far and in all.
    using Progress = std::function<void(std::uint64_t done, std::uint64_t total)>;

    // Reads the index at `path` for the collection under `collectionRoot` ("images"), afresh each
    // time, so that it also holds what other processes appended since. When the file is missing
    // or damaged, it is made anew from every picture file under the root, at any depth (names
    // starting with a dot, such as ".zarvo-123-4.part", are no pictures), hashed in the order of
    // their paths. `stop` (may be null) ends that early: then false, `error` says so and nothing
    // is written. False with `error` set for the user when the file cannot be read or written.
    // What Add gave since the last Flush stays pending and remembered.
    bool Open(const std::string& path, const std::string& collectionRoot, std::string& error,
              const Progress& progress = {}, const std::atomic<bool>* stop = nullptr);

    // Whether a picture with these bytes is in the collection or was, until the user deleted it.
    bool Contains(const Digest& digest) const { return m_digests.Contains(digest); }

    // Remembers a picture stored in the collection (its path relative to the program folder,
    // such as "images/g/a.jpg") at once; Flush writes it. A path that is empty or holds a line
    // break or a zero byte cannot be written and is ignored.
    void Add(const Digest& digest, std::uint64_t size, const std::string& path);

    // Appends what Add gave since the last Flush to the file, under an exclusive flock of the
    // file. False with `error` set when that fails; the pictures then stay pending.
    bool Flush(std::string& error);

    // Forgets the pictures whose files are gone, pending ones included, by writing the file anew
    // (a unique temporary file beside it, renamed over it) under the same lock; it also takes in
    // what other processes appended. How many lines were dropped, or nothing with `error` set.
    std::optional<std::size_t> ForgetMissing(std::string& error);

    // How many remembered pictures, in the file as it is now and pending, have no file any more.
    std::size_t CountMissing() const;

    // How many different digests are remembered.
    std::size_t Size() const { return m_digests.Size(); }

private:
    enum class LoadResult { Loaded, Missing, Damaged, Failed };

    LoadResult Load(std::string& error);
    bool Rebuild(std::string& error, const Progress& progress, const std::atomic<bool>* stop);
    void RememberPending();

    std::string m_path;
    std::string m_root;
    CDigestSet m_digests;
    std::string m_pending;  // lines added since the last Flush, each ending in a line break
};

// Forgets the deleted pictures of the collection under "images" in the index of the current
// directory (making the index first when it is missing), for the configuration dialog: how many
// were forgotten, or nothing with `error` set for the user.
std::optional<std::size_t> ForgetDeletedPictures(std::string& error);
