// The bookkeeping of pictures being put together, on whatever a damaged or foreign file may
// hold. Beyond memory errors it checks that a record that reads is written back to exactly the
// record read, with any bytes as its parts' sources too, and that a record's text cut anywhere
// short is never believed.

#include <cstdint>
#include <string>

#include "decode/CPendingRecord.h"

namespace {

void Check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::optional<CPendingRecord> record = CPendingRecord::Parse(text);
    if (!record) {
        return 0;
    }
    record->Complete();
    Check(CPendingRecord::Parse(record->Serialize()) == record);
    // Sources of every kind of byte, cut from the input: blanks, line feeds, nothing at all.
    for (std::size_t i = 0; i < record->pieces.size(); ++i) {
        record->pieces[i].source = text.substr(i % size, i % 7);
    }
    const std::string written = record->Serialize();
    Check(CPendingRecord::Parse(written) == record);
    for (std::size_t cut = 0; cut < written.size(); cut += 1 + written.size() / 16) {
        Check(!CPendingRecord::Parse(written.substr(0, cut)));
    }
    return 0;
}
