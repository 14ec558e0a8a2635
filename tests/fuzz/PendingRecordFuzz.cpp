// The bookkeeping of pictures being put together, on whatever a damaged or foreign file may
// hold. Beyond memory errors it checks that a record that reads is written back to exactly the
// record read, and that a record's text cut anywhere short is never believed.

#include <cstdint>
#include <string>

#include "decode/CPendingRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::optional<CPendingRecord> record = CPendingRecord::Parse(text);
    if (!record) {
        return 0;
    }
    record->Complete();
    const std::string written = record->Serialize();
    if (CPendingRecord::Parse(written) != record) {
        __builtin_trap();
    }
    for (std::size_t cut = 0; cut < written.size(); cut += 1 + written.size() / 16) {
        if (CPendingRecord::Parse(written.substr(0, cut))) {
            __builtin_trap();
        }
    }
    return 0;
}
