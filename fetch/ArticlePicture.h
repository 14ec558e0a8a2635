#pragma once

// What an article gives the collection: a yEnc post is decoded straight from the body; a
// picture posted in several articles is put together part by part; anything else is uudecoded
// from the body. Whole files go to the collector, which keeps the pictures (and the pictures of
// archives) once. It fetches nothing.

#include <optional>
#include <string>

#include "decode/CCollected.h"
#include "decode/CPartAssembler.h"
#include "decode/CPictureCollector.h"
#include "fetch/CGroupPlan.h"
#include "nntp/CNewsMessage.h"

struct CArticleOutcome {
    // What the collection made of the files this article completed.
    CCollected collected;
    // The first bytes of the file, when the article holds its beginning: what a post whose name
    // says nothing is.
    std::optional<std::string> firstBytes;
};

// Extracts what the article holds for the group; `target` is the post it belongs to, when the
// overview told (it may be null). A part that fails its own checks is passed over (the log says
// so): a repost may bring it whole.
CArticleOutcome ExtractArticle(CPartAssembler& assembler, CPictureCollector& collector,
                               const std::string& group, const CNewsMessage& message,
                               const CPostTarget* target);
