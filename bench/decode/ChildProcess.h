#pragma once

// Runs a benchmark's contender as a child process of its own, so that only its own memory and
// time are counted, and reads the peak memory of the calling process. It judges no output.

#include <string>
#include <vector>

struct ChildRun {
    bool ok = false;
    double wallSeconds = 0;
    double cpuSeconds = 0;   // user and system time of the child
    long peakKilobytes = 0;  // the child's peak resident set (ru_maxrss)
    std::string output;      // what the child wrote to standard output
};

// Runs a program as a child process, timing it from spawn to exit.
ChildRun RunChild(const std::vector<std::string>& arguments);

// This process's peak resident set in kB (VmHWM), or -1.
long PeakKilobytesOfThisProcess();
