// The configuration readers on a zarvo.cfg of fuzzed bytes. Beyond memory errors it holds the
// file to parse exactly the same read through a tiny stream buffer or a large one, and the same
// as the file's rules give when it is cut into lines in one piece in memory; LoadConfigFile's
// Selected entries to be ReadConfigFile's groups; a view that refuses names with control
// characters to lose exactly those, with one message for them all; and the file never to change.
//
// Input: one byte that chooses the tiny buffer's size (1 to 64), then the file.

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "config/ConfigFile.h"
#include "platform/ErrorBox.h"
#include "tests/config/CFakeConfigView.h"
#include "tests/fuzz/CFuzzScratch.h"

namespace {

using Names = std::vector<std::string>;

// Everything both readers make of the file.
struct Reading {
    std::string server;
    Names selected;
    Names available;
    Names boxes;
    bool readOk = false;
    std::string readServer;
    Names groups;

    bool operator==(const Reading&) const = default;
};

Reading ReadBoth(std::size_t bufferSize, bool refuseControlCharacters) {
    Reading reading;
    SetConfigReadBufferSize(bufferSize);
    platform::SetErrorBoxHandler(
        [&reading](const std::string& text) { reading.boxes.push_back(text); });
    test::CFakeConfigView view;
    view.server = "";
    view.refuseControlCharacters = refuseControlCharacters;
    LoadConfigFile(view);
    reading.server = view.server;
    reading.selected = view.selected;
    reading.available = view.available;
    reading.readOk = ReadConfigFile(CONFIG_FILE_NAME, reading.groups, reading.readServer);
    platform::SetErrorBoxHandler([](const std::string&) {});
    SetConfigReadBufferSize(0);
    return reading;
}

void RemoveTerminator(std::string& line) {
    if (line.ends_with("\r\n")) {
        line.resize(line.size() - 2);
    }
    if (line.ends_with('\n')) {
        line.pop_back();
    }
    if (line.ends_with('\r')) {
        line.pop_back();
    }
}

// The file's lines by its rules, taken from memory in one piece: pieces of at most 511
// characters that end after a line feed, CR LF counting as one line feed; then the terminator
// removed.
Names LinesInOnePiece(std::string_view bytes) {
    Names lines;
    std::string line;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        char c = bytes[i];
        if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            c = '\n';
            ++i;
        }
        line += c;
        if (c == '\n' || line.size() == 511) {
            RemoveTerminator(line);
            lines.push_back(std::move(line));
            line.clear();
        }
    }
    if (!line.empty()) {
        RemoveTerminator(line);
        lines.push_back(std::move(line));
    }
    return lines;
}

bool HoldsControl(const std::string& name) {
    return std::any_of(name.begin(), name.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

Names WithoutControl(Names names) {
    std::erase_if(names, HoldsControl);
    return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const fuzz::CFuzzScratch scratch;
    if (size < 1) {
        return 0;
    }
    const std::size_t tinyBuffer = 1 + data[0] % 64;
    const std::string content(reinterpret_cast<const char*>(data + 1), size - 1);
    {
        std::ofstream file(CONFIG_FILE_NAME, std::ios::binary);
        file.write(content.data(), static_cast<std::streamsize>(content.size()));
    }

    const Reading taking = ReadBoth(0, false);
    if (ReadBoth(tinyBuffer, false) != taking) {
        fuzz::Broken("the file reads differently through a tiny buffer");
    }
    if (!taking.readOk || taking.readServer != taking.server || taking.groups != taking.selected ||
        !taking.boxes.empty()) {
        fuzz::Broken("LoadConfigFile and ReadConfigFile disagree");
    }

    Reading expected;
    const Names lines = LinesInOnePiece(content);
    bool inAvailable = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i == 0) {
            expected.server = lines[0];
        } else if (lines[i] == CONFIG_SEPARATOR) {
            inAvailable = true;
        } else {
            (inAvailable ? expected.available : expected.selected).push_back(lines[i]);
        }
    }
    if (taking.server != expected.server || taking.selected != expected.selected ||
        taking.available != expected.available) {
        fuzz::Broken("the file reads differently from its lines taken in one piece");
    }

    const Reading refusing = ReadBoth(0, true);
    if (ReadBoth(tinyBuffer, true) != refusing) {
        fuzz::Broken("refused lines read differently through a tiny buffer");
    }
    const bool anyRefused = refusing.selected.size() + refusing.available.size() !=
                            taking.selected.size() + taking.available.size();
    if (refusing.selected != WithoutControl(taking.selected) ||
        refusing.available != WithoutControl(taking.available) ||
        refusing.boxes.size() != (anyRefused ? 1u : 0u)) {
        fuzz::Broken("refused lines are not skipped one by one with one message");
    }

    std::ifstream file(CONFIG_FILE_NAME, std::ios::binary);
    if (!file || std::string(std::istreambuf_iterator<char>(file),
                             std::istreambuf_iterator<char>()) != content) {
        fuzz::Broken("reading changed the file");
    }
    scratch.Clear();
    return 0;
}
