#include "fetch/PostDecision.h"

#include <algorithm>

#include "nntp/Wildmat.h"

namespace {

constexpr std::uint64_t MEGABYTE = 1 << 20;

bool MatchesAny(const std::vector<std::string>& patterns, const std::string& text) {
    return std::any_of(patterns.begin(), patterns.end(), [&text](const std::string& pattern) {
        return WildmatMatches(pattern, text, true);
    });
}

PassReason ReasonForKind(FileKind kind) {
    switch (kind) {
        case FileKind::Video:
        case FileKind::Audio:
            return PassReason::VideoOrAudio;
        case FileKind::Parity:
        case FileKind::Info:
            return PassReason::SetFiles;
        default:
            return PassReason::OtherFile;
    }
}

CPostVerdict Pass(PassReason reason, FileKind kind) {
    return {PostAction::PassOver, reason, kind};
}

}  // namespace

CCollectPolicy CCollectPolicy::FromSettings(const CServerSettings& settings) {
    CCollectPolicy policy;
    policy.pictures = settings.collectPictures;
    policy.archives = settings.collectArchives;
    policy.maxPostBytes = std::uint64_t{settings.maxPostMegabytes} * MEGABYTE;
    policy.maxUnnamedBytes = std::uint64_t{settings.maxUnnamedMegabytes} * MEGABYTE;
    policy.skipPosters = settings.skipPosters;
    policy.skipSubjects = settings.skipSubjects;
    return policy;
}

CPostVerdict DecidePost(const CPost& post, const CCollectPolicy& policy, std::uint64_t bytes) {
    FileKind kind = KindOfName(post.name);
    if (MatchesAny(policy.skipPosters, post.poster) ||
        MatchesAny(policy.skipSubjects, post.subject)) {
        return Pass(PassReason::Skipped, kind);
    }
    const bool tooLarge = policy.maxPostBytes > 0 && bytes > policy.maxPostBytes;
    switch (kind) {
        case FileKind::Picture:
            if (!policy.pictures) {
                return Pass(PassReason::TurnedOff, kind);
            }
            return tooLarge ? Pass(PassReason::TooLarge, kind)
                            : CPostVerdict{PostAction::Fetch, PassReason::None, kind};
        case FileKind::Archive: {
            // An archive named for what it holds ("film.mkv.part01.rar") holds no pictures.
            const std::optional<CArchiveVolume> volume = ArchiveVolumeOf(post.name);
            const FileKind inner =
                volume && !volume->inner.empty() ? KindOfName("x." + volume->inner) : kind;
            if (inner != FileKind::Archive && inner != FileKind::Picture &&
                inner != FileKind::Unknown) {
                return Pass(ReasonForKind(inner), kind);
            }
            if (!policy.archives) {
                return Pass(PassReason::TurnedOff, kind);
            }
            return tooLarge ? Pass(PassReason::TooLarge, kind)
                            : CPostVerdict{PostAction::Fetch, PassReason::None, kind};
        }
        case FileKind::Unknown:
            // A name that says nothing (an obfuscated post, a reply without a file): its bytes
            // will tell, when it is small enough to look at.
            if ((policy.maxUnnamedBytes > 0 && bytes > policy.maxUnnamedBytes) || tooLarge) {
                return Pass(PassReason::TooLarge, kind);
            }
            return {PostAction::Look, PassReason::None, kind};
        default:
            return Pass(ReasonForKind(kind), kind);
    }
}
