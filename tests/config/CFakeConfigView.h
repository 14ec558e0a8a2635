#pragma once

// A configuration dialog for the tests: it keeps entries in the order they came (a real list
// sorts them) and logs the wait cursor. It refuses chosen entries, or like the real lists every
// name with a control character, standing in for a list box whose add fails; it shows nothing.

#include <algorithm>
#include <string>
#include <vector>

#include "config/CConfigView.h"

namespace test {

class CFakeConfigView : public CConfigView {
public:
    void SetServerText(const std::string& text) override { server = text; }
    bool AddSelected(const std::string& name) override { return Add(selected, name); }
    bool AddAvailable(const std::string& name) override { return Add(available, name); }
    void BeginWaitCursor() override { cursor += "begin;"; }
    void EndWaitCursor() override { cursor += "end;"; }

    std::vector<std::string> refuse;       // refused in either list
    bool refuseControlCharacters = false;  // refuse names holding codes 0 to 31 or 127
    std::string server = "unset";
    std::vector<std::string> selected;
    std::vector<std::string> available;
    std::string cursor;

private:
    bool Add(std::vector<std::string>& list, const std::string& name) const {
        const bool control = std::any_of(name.begin(), name.end(), [](char c) {
            return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
        });
        if ((refuseControlCharacters && control) ||
            std::find(refuse.begin(), refuse.end(), name) != refuse.end()) {
            return false;
        }
        list.push_back(name);
        return true;
    }
};

}  // namespace test
