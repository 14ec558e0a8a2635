#pragma once

// The configuration file "zarvo.cfg" in the current directory: line 1 the news server's host
// name, then the selected newsgroups one per line, the separator line, and the cached list of
// every newsgroup of the server. There is no header, comment or escape syntax.
//
// Lines are read as through a 512-byte buffer: a line longer than 511 characters arrives as
// several lines. CR LF, LF and CR line ends are all accepted, so files written on Windows load
// unchanged; the writer writes LF. Failures are shown with platform::ShowErrorBox.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "config/CConfigView.h"

// Ends the selected newsgroups and starts the cached server list. Compared with whole lines,
// byte for byte, once their terminators are gone.
inline constexpr std::string_view CONFIG_SEPARATOR =
    "------------ SEPARATOR (DON'T REMOVE)----------------";

// The file's bare name; every operation works in the current directory.
inline constexpr const char* CONFIG_FILE_NAME = "zarvo.cfg";

// Writes the whole file: the server name, the selected names, the separator, the available
// names, each on a line of its own. The new content goes to a temporary file beside it that
// replaces "zarvo.cfg" only when every write succeeded, so a full disk never leaves a half
// written configuration behind. Shows "Couldn't create the configuration file" when the file
// cannot be created, "fputs failed" for every write that fails (the old file then stays), and
// "No Newsgroups selected" when `selected` is empty (the file is written all the same).
void WriteConfigFile(const std::string& server, const std::vector<std::string>& selected,
                     const std::vector<std::string>& available);

// Fills the view from the file: the first line becomes the server text, the lines up to the
// first separator go to Selected, the rest to Available (further separator lines are dropped).
// Without a file it does nothing. A line the view refuses is skipped and reading goes on; once
// the file is read, one message names the skipped lines by their line numbers in the file. A
// file that cannot be read is renamed to the first free name of zarvo.cfg.bad, zarvo.cfg.bad.2,
// ... and the user is told; the view keeps what was read. The file is never deleted.
void LoadConfigFile(CConfigView& view);

// The most the readers take from the system in one read (64 KiB; 0 restores that). Only tests
// and fuzzing change it, to cut the file into small reads.
void SetConfigReadBufferSize(std::size_t size);

// Reads what the fetch worker needs: the server name and the selected newsgroups (the lines
// before the first separator); the cached server list is never read. `newsGroups` is emptied
// first. False, with a message, when the name is null or the file cannot be opened or read;
// `newsServer` is then left as it was. True otherwise, even for an empty file.
bool ReadConfigFile(const char* configFileName, std::vector<std::string>& newsGroups,
                    std::string& newsServer);
