#pragma once

// The batch engine: the articles of one batch of a group are fetched by every usable connection
// of the run at once, each with requests in flight, and handed to the caller one by one in the
// batch's order, on the caller's thread, while later ones are still arriving. Extra connections
// are connected when a batch first needs them; one the server refuses, or that cannot be won
// back, is given up for the rest of the run. What to do with an article is the caller's.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fetch/CArticleQueue.h"
#include "fetch/CFetchRun.h"
#include "nntp/CNewsMessage.h"

enum class BatchEnd {
    Done,
    Stopped,
    Lost,
    Ended,  // the handler ended it
};

// Called for every article of the batch in order: its item, and its message (none for an
// article passed over, refused or missing). False ends the batch.
using ArticleHandler =
    std::function<bool(const CArticleQueue::Item& item, std::unique_ptr<CNewsMessage> message)>;

// Connects a session for an extra connection: true when the server serves it.
bool ConnectForUse(CNewsServer& session);

// Fetches the batch. `sentAhead` BODY requests for its first articles went out already on the
// worker's own connection. Lost: the articles not handed over could not be fetched (`why` may
// say why); Stopped: Stop was pressed.
BatchEnd FetchBatch(CFetchRun& run, const std::string& group,
                    std::vector<CArticleQueue::Item> items, std::size_t sentAhead,
                    const ArticleHandler& handle, std::string& why);
