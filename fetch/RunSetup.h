#pragma once

// Whether the configuration is ready for a run, read as the worker and the window need it:
// a news server and newsgroups to fetch. A missing zarvo.cfg is no error here, only the first
// start: it shows no box. It fetches nothing.

#include <cstddef>
#include <string>
#include <vector>

enum class RunSetup {
    Unreadable,  // the file is there and could not be read (ReadConfigFile said why)
    NoServer,
    NoGroups,
    Ready,
};

// Reads zarvo.cfg in the current directory, when there is one.
RunSetup CheckRunSetup(std::string& server, std::vector<std::string>& groups);

// What the status line says of the setup while no run is under way: what to do next
// ("No news server yet: press Configure to choose one and pick newsgroups."), or for a ready
// setup what Start does. Nothing for Unreadable, whose message was shown.
std::string DescribeRunSetup(RunSetup setup, const std::string& server, std::size_t groups);
