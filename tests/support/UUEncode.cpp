#include "tests/support/UUEncode.h"

#include <algorithm>

namespace test {
namespace {

constexpr std::size_t LINE_BYTES = 45;

char Encode(unsigned value) {
    value &= 0x3F;
    return value == 0 ? '`' : static_cast<char>(value + 0x20);
}

}  // namespace

std::string UUEncodeLine(std::string_view bytes) {
    bytes = bytes.substr(0, LINE_BYTES);
    std::string line(1, Encode(static_cast<unsigned>(bytes.size())));
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        // A last group short of three bytes is filled with zeros.
        const unsigned a = static_cast<unsigned char>(bytes[i]);
        const unsigned b = i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) : 0;
        const unsigned c = i + 2 < bytes.size() ? static_cast<unsigned char>(bytes[i + 2]) : 0;
        line += Encode(a >> 2);
        line += Encode((a << 4) | (b >> 4));
        line += Encode((b << 2) | (c >> 6));
        line += Encode(c);
    }
    return line;
}

std::string UUEncodeLines(std::string_view data, std::string_view lineEnd) {
    std::string lines;
    for (std::size_t start = 0; start < data.size(); start += LINE_BYTES) {
        lines += UUEncodeLine(data.substr(start, LINE_BYTES));
        lines += lineEnd;
    }
    return lines;
}

std::string UUEncode(std::string_view data, std::string_view name, std::string_view lineEnd,
                     std::string_view mode) {
    std::string block = "begin ";
    block += mode;
    block += ' ';
    block += name;
    block += lineEnd;
    block += UUEncodeLines(data, lineEnd);
    block += '`';
    block += lineEnd;
    block += "end";
    block += lineEnd;
    return block;
}

std::string PictureBytes(std::size_t size, unsigned seed, bool png) {
    std::string data(size, '\0');
    for (char& byte : data) {
        seed = seed * 1103515245u + 12345u;
        byte = static_cast<char>(seed >> 16);
    }
    // What a picture starts with, so that the collection takes it for one.
    const std::string_view start =
        png ? std::string_view("\x89PNG\r\n\x1a\n", 8) : std::string_view("\xFF\xD8\xFF\xE0", 4);
    data.replace(0, std::min(size, start.size()), start.substr(0, std::min(size, start.size())));
    return data;
}

}  // namespace test
