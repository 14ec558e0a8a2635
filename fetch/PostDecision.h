#pragma once

// Whether a post is worth fetching for a picture collector, decided from the overview alone (its
// name, its size, its poster and its subject) and the settings: pictures and archives of
// pictures are fetched; a post whose name says nothing is fetched to look at its bytes when it
// is small; everything else is passed over, with its reason. It fetches nothing and looks at no
// article body.

#include <cstdint>
#include <string>
#include <vector>

#include "config/ServerSettings.h"
#include "decode/FileKind.h"
#include "fetch/CPostList.h"
#include "fetch/PassReason.h"

enum class PostAction {
    Fetch,     // a picture, or an archive of pictures
    Look,      // a name without a known extension: fetched, kept only if its bytes say picture
    PassOver,  // not fetched
};

struct CPostVerdict {
    PostAction action = PostAction::PassOver;
    PassReason reason = PassReason::None;
    FileKind kind = FileKind::Unknown;  // by the post's name
};

// What the settings say to collect.
struct CCollectPolicy {
    bool pictures = true;
    bool archives = true;
    std::uint64_t maxPostBytes = 0;     // 0: no limit
    std::uint64_t maxUnnamedBytes = 0;  // 0: no limit
    std::vector<std::string> skipPosters;
    std::vector<std::string> skipSubjects;

    static CCollectPolicy FromSettings(const CServerSettings& settings);
};

// The verdict on a post; `bytes` is its size, or for a volume of an archive set the size of the
// whole set. Whether the post is complete is not looked at here.
CPostVerdict DecidePost(const CPost& post, const CCollectPolicy& policy, std::uint64_t bytes);
