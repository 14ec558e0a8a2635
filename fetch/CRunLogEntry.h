#pragma once

// One entry of the run log: when, which group, what happened to it and what the user can do
// about it. The worker hands entries to the window, which keeps them; a plain record.

#include <chrono>
#include <string>

struct CRunLogEntry {
    std::chrono::system_clock::time_point time;
    std::string group;
    // Said of the group: "needs a user name and password".
    std::string what;
    // What the user can do: "enter them in Configure"; empty when nothing.
    std::string todo;
};
