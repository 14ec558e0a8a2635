// Posts made of whatever overview lines and subjects may hold. The input's first line gives the
// span (its first byte) and where to cut (the bits of the others); each further line is an
// overview line, or else the subject of the next article. Beyond memory errors it checks that
// every entry comes out in exactly one post, that a post's parts are sorted, unique and within
// its count, that Complete() agrees with Missing(), that Completes() says whether an entry joins
// a post, that a subject read with another part number gives the same post, and that taking
// posts in steps takes out the same entries as one final step.

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fetch/CPostList.h"
#include "fetch/PostSubject.h"

namespace {

// Missing() lists every absent part; beyond this many it is not asked for.
constexpr std::uint32_t kMostMissingChecked = 10000;

void Check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

// The subject with its part marker's number replaced by another of 0 .. N reads the same.
void CheckOtherPart(const std::string& subject, std::size_t seed) {
    const CPostSubject parsed = ParseSubject(subject);
    if (parsed.parts == 0) {
        return;
    }
    // The number stands where the rest first differs from the subject, up to the slash.
    const std::size_t at = static_cast<std::size_t>(
        std::mismatch(subject.begin(), subject.end(), parsed.rest.begin(), parsed.rest.end())
            .first -
        subject.begin());
    const std::size_t slash = subject.find('/', at);
    Check(slash != std::string::npos);
    const auto part = static_cast<std::uint32_t>(seed % (parsed.parts + 1ULL));
    const CPostSubject other =
        ParseSubject(subject.substr(0, at) + std::to_string(part) + subject.substr(slash));
    Check(other.part == part && other.parts == parsed.parts && other.name == parsed.name &&
          other.rest == parsed.rest && other.file == parsed.file && other.files == parsed.files &&
          other.size == parsed.size && other.yenc == parsed.yenc);
}

// Checks the posts taken in one step and collects the message ids of the entries they list.
void Collect(const std::vector<CPost>& posts, std::vector<std::string>& ids) {
    std::uint32_t oldest = 0;
    for (const CPost& post : posts) {
        Check(post.parts >= 1 && !post.listed.empty() && post.Oldest() >= oldest &&
              post.Oldest() <= post.Newest() &&
              (post.declaredSize || post.EstimatedBytes() >= post.Bytes()));
        oldest = post.Oldest();
        for (std::size_t i = 0; i < post.listed.size(); ++i) {
            const CPost::Part& part = post.listed[i];
            Check(part.number >= 1 && part.number <= post.parts &&
                  (i == 0 || post.listed[i - 1].number < part.number));
            ids.push_back(part.messageId);
        }
        if (post.parts <= kMostMissingChecked) {
            const std::vector<std::uint32_t> missing = post.Missing();
            Check(post.Complete() == missing.empty() &&
                  missing.size() + post.listed.size() == post.parts);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::size_t controlEnd = text.find('\n');
    if (controlEnd == std::string_view::npos) {
        return 0;
    }
    const std::string_view control = text.substr(0, controlEnd);
    const std::uint32_t span = control.empty() ? 0 : static_cast<std::uint8_t>(control[0]);
    const auto cutAfter = [&](std::size_t index) {
        if (control.size() < 2) {
            return false;
        }
        const auto byte = static_cast<std::uint8_t>(control[1 + index / 8 % (control.size() - 1)]);
        return ((byte >> (index % 8)) & 1) != 0;
    };

    std::vector<COverviewEntry> entries;
    std::uint32_t number = 0;
    for (std::size_t start = controlEnd + 1; start <= text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        std::optional<COverviewEntry> entry = COverviewEntry::Parse(line);
        if (!entry) {
            entry =
                COverviewEntry{number + 1, std::string(line), "P <p@x>", "", "", line.size(), 2};
        }
        number = entry->number;
        entry->messageId = std::to_string(entries.size());
        CheckOtherPart(entry->subject, entries.size());
        entries.push_back(std::move(*entry));
    }

    CPostList whole;
    CPostList steps;
    std::vector<std::string> once;
    std::vector<std::string> stepped;
    std::uint32_t frontier = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        whole.Add(entries[i]);
        const std::size_t waiting = steps.Waiting();
        const bool completes = steps.Completes(entries[i]);
        steps.Add(entries[i]);
        Check(completes == (steps.Waiting() == waiting));
        frontier = std::max(frontier, entries[i].number);
        if (cutAfter(i)) {
            Collect(steps.TakeSettled(frontier, span, false), stepped);
        }
    }
    Collect(whole.TakeSettled(frontier, span, true), once);
    Collect(steps.TakeSettled(frontier, span, true), stepped);
    Check(whole.Waiting() == 0 && steps.Waiting() == 0);
    std::vector<std::string> expected;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        expected.push_back(std::to_string(i));
    }
    std::sort(expected.begin(), expected.end());
    std::sort(once.begin(), once.end());
    std::sort(stepped.begin(), stepped.end());
    Check(once == expected && stepped == expected);
    return 0;
}
