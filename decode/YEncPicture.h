#pragma once

// Saves a decoded single-part yEnc picture into the picture folder: through a hidden temporary
// file and PublishPicture, so a picture never replaces another and nothing partial is ever seen
// under a picture's name. It decodes nothing and checks nothing beyond the part's own checks.

#include <string>

#include "decode/YEncArticle.h"

// Writes `part`'s data to images/<group>/<safe name> (images/<safe name> for an empty group),
// relative to the current directory, which the caller makes the program folder; the folder
// must exist. The name is the posted one made safe (SafePictureName); a taken name moves the
// picture on to "name (2).ext" and so on. Returns the picture's full path as published (the
// program folder, then images/, the group, "/" and the name used), or "" when the part does not
// pass its checks, is not the whole file, has no usable name, or cannot be written.
std::string SaveYEncPicture(const CYEncPart& part, const std::string& group);
