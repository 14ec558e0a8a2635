#include "tests/support/YEncEncode.h"

#include <algorithm>

#include <cstdio>

#include "decode/Crc32.h"

namespace test {
namespace {

std::string Hex(std::uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

}  // namespace

std::string YEncEncodeLines(std::string_view data, const YEncOptions& options) {
    std::string lines;
    std::size_t column = 0;
    for (std::size_t i = 0; i < data.size(); ++i) {
        const char c = static_cast<char>(static_cast<unsigned char>(data[i]) + 42);
        const bool lineStart = column == 0;
        const bool lineEnd = column + 1 >= options.lineLength || i + 1 == data.size();
        bool escape = c == '\0' || c == '\n' || c == '\r' || c == '=' ||
                      options.extraEscapes.find(c) != std::string::npos;
        if (options.escapeLineEdges) {
            escape = escape || ((lineStart || lineEnd) && (c == '\t' || c == ' ')) ||
                     (lineStart && c == '.');
        }
        if (escape) {
            lines += '=';
            lines += static_cast<char>(static_cast<unsigned char>(c) + 64);
            column += 2;
        } else {
            lines += c;
            ++column;
        }
        if (column >= options.lineLength || i + 1 == data.size()) {
            lines += options.lineEnd;
            column = 0;
        }
    }
    return lines;
}

std::string YEncEncode(std::string_view file, std::string_view name, const YEncOptions& options) {
    const std::uint64_t end = options.end == 0 ? file.size() : options.end;
    const std::string_view data = file.substr(options.begin - 1, end - options.begin + 1);
    const std::string& blanks = options.trailingBlanks;
    const std::uint32_t wrong = options.badCrc ? 1 : 0;
    const auto field = [&](const char* key, const std::string& value) {
        return std::string(key) + "=" + value + blanks + " ";
    };
    std::string block = "=ybegin ";
    if (options.part != 0) {
        block += field("part", std::to_string(options.part));
    }
    if (options.total != 0) {
        block += field("total", std::to_string(options.total));
    }
    block += field("line", std::to_string(options.lineLength));
    block += field("size", std::to_string(file.size()));
    block += "name=" + std::string(name) + options.lineEnd;
    if (options.part != 0) {
        block += "=ypart " + field("begin", std::to_string(options.begin)) +
                 "end=" + std::to_string(end) + blanks + options.lineEnd;
    }
    block += YEncEncodeLines(data, options);
    block += "=yend " + field("size", std::to_string(data.size()));
    if (options.part != 0) {
        block += field("part", std::to_string(options.part));
        block += field("pcrc32", Hex(Crc32(data) ^ wrong));
    }
    block += "crc32=" + Hex(Crc32(file) ^ wrong) + blanks + options.lineEnd;
    return block;
}

std::string YEncPart(const std::string& file, const std::string& name, std::uint32_t number,
                     std::uint32_t count, bool badCrc) {
    const std::uint64_t size = (file.size() + count - 1) / count;
    YEncOptions options;
    options.part = number;
    options.total = count;
    options.begin = (number - 1) * size + 1;
    options.end = std::min<std::uint64_t>(number * size, file.size());
    options.badCrc = badCrc;
    return YEncEncode(file, name, options);
}

}  // namespace test
