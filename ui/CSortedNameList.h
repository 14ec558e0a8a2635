#pragma once

// The entries of one sorted list box, kept in the order a Windows sorted list box keeps them:
// alphabetical without regard to case, duplicates allowed, a new entry placed after the entries
// that compare equal to it. It knows nothing of widgets; CNameListModel shows it.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class CSortedNameList {
public:
    // What InsertMany does with a name that is listed already, or given more than once: keep
    // every copy (as a list box does), or list each name once.
    enum class Duplicates { Keep, Drop };

    // Negative, zero or positive as `a` sorts before, with or after `b`: byte by byte with the
    // letters A-Z taken as a-z, a shorter text before a longer one that begins with it.
    static int CompareNoCase(std::string_view a, std::string_view b);
    // Whether a list takes the name: any text without control characters (codes 0 to 31 and
    // 127), the empty text included. A name holding them is no newsgroup name and cannot be
    // shown on one line, so a configuration file line or a server's list entry that holds one
    // is skipped.
    static bool CanList(std::string_view name);

    // Where Insert would put the name.
    std::size_t PlaceOf(std::string_view name) const;
    // Sorts the name into place; returns its index.
    std::size_t Insert(std::string name);
    // Sorts many names in at once: one sort and one merge instead of a search and a move per
    // name, so that a server's whole list of some 100,000 groups goes in quickly. Names that
    // compare equal keep the order in which they were given, after the entries already there,
    // exactly as if each had been inserted in turn. When `tracked` names an entry's index, it
    // is updated to where that entry stands afterwards (for keeping a selection). With
    // Duplicates::Drop a name goes in only when no entry is that very name (case counts) and
    // only the first time it is given.
    void InsertMany(std::vector<std::string> names, std::size_t* tracked = nullptr,
                    Duplicates duplicates = Duplicates::Keep);
    void Erase(std::size_t index);
    void Clear() { m_names.clear(); }

    // The index of the first entry, from the start, that begins with `prefix` without regard
    // to case (the list box's LB_FINDSTRING from -1), or -1 when there is none.
    int FindPrefix(std::string_view prefix) const;
    // Whether an entry is exactly the name, case and all.
    bool Contains(std::string_view name) const;

    std::size_t Size() const { return m_names.size(); }
    const std::string& At(std::size_t index) const { return m_names.at(index); }
    const std::vector<std::string>& Names() const { return m_names; }

private:
    std::vector<std::string> m_names;
};
