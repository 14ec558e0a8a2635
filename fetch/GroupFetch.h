#pragma once

// One group's articles in a run: the visit plan, then batch by batch the overview, the choice
// of what to fetch, the batch engine, the pictures, and the record of processed articles. It
// neither selects the group (the caller has) nor counts groups.

#include <string>

#include "fetch/CFetchRun.h"
#include "nntp/CNewsGroup.h"

enum class GroupEnd {
    Done,
    Stopped,
    Lost,
    DiskFull,  // pictures could not be written for want of room: the run ends
};

// Fetches the articles of the selected group that this run visits. `tries` counts the tries
// to win the worker's own connection back since an article last got through; `why` says why
// the group was lost, when anything more than the connection can say.
GroupEnd FetchGroupArticles(CFetchRun& run, const std::string& name, const CNewsGroup& group,
                            int& tries, std::string& why);
