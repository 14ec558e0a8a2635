#pragma once

// Which decoder an article goes to, and the picture it gives: a yEnc post is decoded straight
// from the body; a picture posted in several articles is put together part by part; anything
// else goes the uudecoder's way, through an article file. It fetches nothing.

#include <string>

#include "decode/CPartAssembler.h"
#include "fetch/CArticleFile.h"
#include "nntp/CNewsMessage.h"

// The picture's full path when the article completes one, otherwise "". A part that fails its
// own checks is passed over (the log says so): a repost may bring it whole.
std::string ExtractPicture(CPartAssembler& assembler, const std::string& group,
                           const CNewsMessage& message);
