#pragma once

// What a decoded file becomes in the collection under images/: a picture is published once
// into images/<group>/ (bytes the collection holds already are recognised and not stored again,
// whatever their name), a picture posted under a name without a picture's extension gets the
// extension its bytes call for, the pictures inside an archive are published into
// images/<group>/<archive name>/, the volumes of an archive set wait under the pending folder
// until the set is whole, and anything else is dropped with a log line. It decodes nothing and
// fetches nothing; it remembers what it published in the content index.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "decode/CArchiveExtractor.h"
#include "decode/CCollected.h"
#include "decode/CContentIndex.h"

struct CCollectOptions {
    bool pictures = true;  // keep pictures posted as they are
    bool archives = true;  // open archives and keep the pictures in them
    CArchiveLimits archiveLimits;
};

// Where a volume of an archive set stands in its set, as the posts of the overview tell: the
// set's name, the volume's place and how many volumes the set has.
struct CVolumeHint {
    std::string stem;
    unsigned index = 0;
    unsigned count = 1;
};

class CPictureCollector {
public:
    // `pictureRoot` holds the groups' picture folders (images), `pendingRoot` what waits for more
    // (tmp_dir), both relative to the current directory, which is the program folder. The index
    // must outlive the collector.
    CPictureCollector(std::string pictureRoot, std::string pendingRoot, CContentIndex& index,
                      CCollectOptions options);

    // A decoded file held in memory, posted under `name` in `group`.
    CCollected CollectBytes(std::string_view bytes, const std::string& name,
                            const std::string& group,
                            const std::optional<CVolumeHint>& volume = std::nullopt);
    // A decoded file on disk. The file is left where it is, whatever becomes of it: the caller
    // removes it once the result says nothing failed.
    CCollected CollectFile(const std::string& path, const std::string& name,
                           const std::string& group,
                           const std::optional<CVolumeHint>& volume = std::nullopt);

    // Writes what the content index learnt to its file; false (the log says why) on failure.
    bool FlushIndex();

    // Removes the volumes of archive sets under the pending folder that got no new volume for
    // `age`: the rest of such a set is not coming.
    static void RemoveStale(const std::string& pendingRoot, std::chrono::hours age);

private:
    enum class Kind { Picture, Archive, Neither };
    // What the file is, from its first bytes and its name; a picture's name may gain an
    // extension.
    Kind Classify(std::string_view firstBytes, std::string& name) const;
    CCollected CollectPicture(const std::string& source, std::string_view bytes,
                              const CContentIndex::Digest& digest, const std::string& name,
                              const std::string& folder);
    CCollected CollectArchive(const std::string& source, std::string_view bytes,
                              const std::string& name, const std::string& group,
                              const std::optional<CVolumeHint>& volume);
    CCollected ExtractArchive(const std::vector<std::string>& volumes, const std::string& stem,
                              const std::string& group);

    std::string m_pictureRoot;
    std::string m_pendingRoot;
    CContentIndex& m_index;
    CCollectOptions m_options;
};
