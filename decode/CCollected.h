#pragma once

// What the collection made of one decoded file (or of the files an article completed): the
// pictures it took, the pictures it had already, the files it dropped, and whether writing
// failed. A plain record.

#include <string>
#include <vector>

struct CCollected {
    // Full paths (the program folder, then images/...) of the pictures published.
    std::vector<std::string> pictures;
    // Pictures whose bytes the collection held already (under any name, in any group): not
    // stored again.
    unsigned recognised = 0;
    // Files that were neither a picture nor an archive of pictures, and pictures of a kind the
    // settings leave out: not kept.
    unsigned dropped = 0;
    // Writing failed, so what came may come again: the articles are not to be recorded as
    // processed. `diskFull` when the disk or the quota is full: more articles would fail alike.
    bool failed = false;
    bool diskFull = false;

    void Add(const CCollected& other) {
        pictures.insert(pictures.end(), other.pictures.begin(), other.pictures.end());
        recognised += other.recognised;
        dropped += other.dropped;
        failed = failed || other.failed;
        diskFull = diskFull || other.diskFull;
    }
};
