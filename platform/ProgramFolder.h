#pragma once

// The program folder: the folder of the running executable, ending in "/". Zarvo keeps all its
// files there. It is worked out once; tests and the headless benchmark front may set it instead.

#include <optional>
#include <string>

namespace platform {

// The program folder, or nothing when the executable's path cannot be had.
std::optional<std::string> GetProgramFolder();

// Makes every later GetProgramFolder() return this folder (a "/" is added when missing).
void SetProgramFolder(const std::string& folder);

}  // namespace platform
