#pragma once

// What one run of the fetch worker carries from group to group: the thread's shared state, the
// run's settings and server address, the extra connections, the pictures being put together and
// the record of processed articles. It fetches nothing itself; it only saves the record.

#include <future>
#include <memory>
#include <string>
#include <vector>

#include "config/CNewsrc.h"
#include "config/ServerSettings.h"
#include "decode/CContentIndex.h"
#include "decode/CPartAssembler.h"
#include "decode/CPictureCollector.h"
#include "fetch/CRunStatus.h"
#include "fetch/ThreadArg.h"

struct CPostTarget;

struct CFetchRun {
    CFetchRun(ThreadArg& arg_, CRunStatus& status_);

    // Writes the record of processed articles, when it could be read at the start of the run,
    // and what the collection's index learnt; a failure goes to the log.
    void SaveRecord();
    // Reads the collection's index (made anew from the picture folders when it is missing or
    // damaged, which the status line shows) and sets the collector up with the settings. False,
    // with `error` for the user, when the index can neither be read nor made.
    bool OpenCollection(std::string& error);

    bool StopRequested() const { return arg.stop.IsSet(); }

    ThreadArg& arg;
    CRunStatus& status;
    CServerSettings settings;
    CServerAddress address;
    // The connections besides arg.server: made with the run, connected when a group first
    // needs them; one the server refuses, or that cannot be won back, is given up.
    struct Extra {
        std::unique_ptr<CNewsServer> session;
        bool connected = false;
        bool usable = true;
        std::string group;  // the group it has selected
        // How often it was cut while connecting: a batch ended first.
        int cuts = 0;
        static constexpr int CUTS = 3;
        // The connection made while the worker's own selects the first group, when the run
        // has one: true when it is ready for use.
        std::future<bool> early;
    };
    std::vector<Extra> extras;
    CPartAssembler assembler;
    CContentIndex index;
    std::unique_ptr<CPictureCollector> collector;
    // The post of the article being extracted, for the picture the assembler finishes with it.
    const CPostTarget* target = nullptr;
    CNewsrc record;
    std::string recordPath;
    bool recordUsable = false;
    // Whether the server gives overviews: asked on the first batch.
    bool overview = true;
};
