#include "ui/CSortedNameList.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace {

unsigned char LowerAscii(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte - 'A' + 'a') : byte;
}

bool SortsBefore(std::string_view a, std::string_view b) {
    return CSortedNameList::CompareNoCase(a, b) < 0;
}

}  // namespace

int CSortedNameList::CompareNoCase(std::string_view a, std::string_view b) {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const unsigned char x = LowerAscii(a[i]);
        const unsigned char y = LowerAscii(b[i]);
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    if (a.size() == b.size()) {
        return 0;
    }
    return a.size() < b.size() ? -1 : 1;
}

bool CSortedNameList::CanList(std::string_view name) {
    return std::none_of(name.begin(), name.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

std::size_t CSortedNameList::PlaceOf(std::string_view name) const {
    // After every entry that sorts equal: a duplicate goes below the one already listed.
    return static_cast<std::size_t>(std::upper_bound(m_names.begin(), m_names.end(), name,
                                                     [](std::string_view a, const std::string& b) {
                                                         return SortsBefore(a, b);
                                                     }) -
                                    m_names.begin());
}

std::size_t CSortedNameList::Insert(std::string name) {
    const std::size_t index = PlaceOf(name);
    m_names.insert(m_names.begin() + static_cast<std::ptrdiff_t>(index), std::move(name));
    return index;
}

void CSortedNameList::InsertMany(std::vector<std::string> names, std::size_t* tracked,
                                 Duplicates duplicates) {
    const auto before = [](const std::string& a, const std::string& b) {
        return SortsBefore(a, b);
    };
    std::stable_sort(names.begin(), names.end(), before);
    if (duplicates == Duplicates::Drop) {
        // Copies of a name sort equal, so an earlier copy stands among the equal names just
        // before it.
        const auto listedBefore = [&](std::size_t i) {
            for (std::size_t j = i; j > 0 && CompareNoCase(names[j - 1], names[i]) == 0; --j) {
                if (names[j - 1] == names[i]) {
                    return true;
                }
            }
            return false;
        };
        std::vector<bool> drop(names.size());
        for (std::size_t i = 0; i < names.size(); ++i) {
            drop[i] = Contains(names[i]) || listedBefore(i);
        }
        std::size_t kept = 0;
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (!drop[i]) {
                if (kept != i) {
                    names[kept] = std::move(names[i]);
                }
                ++kept;
            }
        }
        names.resize(kept);
    }
    if (names.empty()) {
        return;
    }
    if (tracked != nullptr && *tracked < m_names.size()) {
        // New names equal to the tracked entry go after it, so only those strictly before it
        // move it down.
        const std::string& entry = m_names[*tracked];
        *tracked += static_cast<std::size_t>(
            std::lower_bound(names.begin(), names.end(), entry, before) - names.begin());
    }
    const auto middle = static_cast<std::ptrdiff_t>(m_names.size());
    m_names.insert(m_names.end(), std::make_move_iterator(names.begin()),
                   std::make_move_iterator(names.end()));
    // inplace_merge is stable: of equal entries, those already listed stay first.
    std::inplace_merge(m_names.begin(), m_names.begin() + middle, m_names.end(), before);
}

void CSortedNameList::Erase(std::size_t index) {
    if (index < m_names.size()) {
        m_names.erase(m_names.begin() + static_cast<std::ptrdiff_t>(index));
    }
}

bool CSortedNameList::Contains(std::string_view name) const {
    auto entry = std::lower_bound(
        m_names.begin(), m_names.end(), name,
        [](const std::string& a, std::string_view b) { return SortsBefore(a, b); });
    for (; entry != m_names.end() && CompareNoCase(*entry, name) == 0; ++entry) {
        if (*entry == name) {
            return true;
        }
    }
    return false;
}

int CSortedNameList::FindPrefix(std::string_view prefix) const {
    for (std::size_t i = 0; i < m_names.size(); ++i) {
        const std::string& name = m_names[i];
        if (name.size() >= prefix.size() &&
            CompareNoCase(std::string_view(name).substr(0, prefix.size()), prefix) == 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}
