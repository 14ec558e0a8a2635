#include "fetch/CFetchRun.h"

#include <atomic>
#include <thread>

#include "fetch/CArticleFile.h"
#include "fetch/CGroupPlan.h"
#include "platform/Console.h"

namespace {

constexpr std::uint64_t MEGABYTE = 1 << 20;

}  // namespace

CFetchRun::CFetchRun(ThreadArg& arg_, CRunStatus& status_)
    : arg(arg_), status(status_), assembler(CArticleFile::FOLDER, "images") {}

void CFetchRun::SaveRecord() {
    std::string error;
    if (recordUsable && !record.Save(recordPath, error)) {
        platform::WriteConsole(error + "\n");
    }
    if (collector) {
        collector->FlushIndex();
    }
}

bool CFetchRun::OpenCollection(std::string& error) {
    // Stop ends a long rebuild of the index: the stop event is mirrored into the flag it reads.
    std::atomic<bool> stopped{false};
    const auto progress = [this, &stopped](std::uint64_t done, std::uint64_t total) {
        stopped = StopRequested();
        if (total == 0) {
            return;
        }
        status.Show("Indexing the pictures collected so far: " + std::to_string(done) + " of " +
                    std::to_string(total) + "...");
    };
    if (!index.Open(CONTENT_INDEX_FILE_NAME, "images", error, progress, &stopped)) {
        return false;
    }
    CCollectOptions options;
    options.pictures = settings.collectPictures;
    options.archives = settings.collectArchives;
    options.archiveLimits.maxBytes = std::uint64_t{settings.archiveMaxMegabytes} * MEGABYTE;
    options.archiveLimits.maxFiles = settings.archiveMaxFiles;
    collector = std::make_unique<CPictureCollector>("images", CArticleFile::FOLDER, index, options);
    assembler.SetMaxPictureBytes(std::uint64_t{settings.maxPictureMegabytes} * MEGABYTE);
    assembler.SetFinisher(
        [this](const std::string& data, const std::string& name, const std::string& group) {
            return collector->CollectFile(data, name, group,
                                          target != nullptr ? target->volume : std::nullopt);
        });
    return true;
}
