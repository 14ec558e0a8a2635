// The yEnc data-line decoder on every path this processor has: encoded data back byte for byte,
// the escaping rules at every position of a vector block, the stop before "=y" lines, and the
// vectorised paths against the byte loop on inputs thick with special characters.

#include "decode/YEncLines.h"

#include <gtest/gtest.h>

#include "decode/Crc32.h"

#include <random>
#include <string>
#include <vector>

#include "tests/support/UUEncode.h"
#include "tests/support/YEncEncode.h"

namespace {

struct Decoded {
    std::string bytes;
    std::size_t consumed = 0;
    bool keywordLine = false;
    std::uint32_t crc = 0;
    bool operator==(const Decoded&) const = default;
};

Decoded Decode(std::string_view in, YEncPath path, std::uint32_t previousCrc = 0) {
    std::string out(in.size(), '\0');
    const YEncLinesResult result =
        DecodeYEncLines(in, reinterpret_cast<unsigned char*>(out.data()), previousCrc, path);
    out.resize(result.written);
    return {out, result.consumed, result.keywordLine, result.crc};
}

class YEncLinesTest : public ::testing::TestWithParam<YEncPath> {};

TEST_P(YEncLinesTest, EncodedDataDecodesByteForByte) {
    const std::string everyValue = [] {
        std::string bytes;
        for (int round = 0; round < 3; ++round) {
            for (int value = 0; value < 256; ++value) {
                bytes += static_cast<char>(value);
            }
        }
        return bytes;
    }();
    // Every character a poster may escape: all but those whose escaped form is CR or LF, and
    // the one whose escaped form "=y" would pass for a keyword line at a line start.
    std::string everyEncoded;
    for (int c = 1; c < 256; ++c) {
        if (c != '\r' + 0xC0 && c != '\n' + 0xC0 && c != 'y' - 0x40) {
            everyEncoded += static_cast<char>(c);
        }
    }
    const struct {
        const char* what;
        test::YEncOptions options;
    } knobs[] = {
        {"128 a line, CR LF", {}},
        {"LF only", {.lineEnd = "\n"}},
        {"one a line", {.lineLength = 1}},
        {"31 a line", {.lineLength = 31}},
        {"998 a line", {.lineLength = 998}},
        {"every character escaped", {.lineLength = 64, .extraEscapes = everyEncoded}},
        {"no escapes at line edges", {.escapeLineEdges = false}},
    };
    for (const auto& knob : knobs) {
        for (const std::size_t size : {0, 1, 15, 16, 17, 33, 5000}) {
            const std::string data = test::PictureBytes(size, static_cast<unsigned>(size)) +
                                     (size == 5000 ? everyValue : std::string());
            const std::string lines = test::YEncEncodeLines(data, knob.options);
            const Decoded decoded = Decode(lines, GetParam());
            EXPECT_TRUE(decoded.bytes == data) << knob.what << ", " << size << " bytes";
            EXPECT_EQ(decoded.crc, Crc32(data)) << knob.what << ", " << size << " bytes";
            EXPECT_EQ(decoded.consumed, lines.size()) << knob.what;
            EXPECT_FALSE(decoded.keywordLine) << knob.what;
        }
    }
}

TEST_P(YEncLinesTest, EscapesAndKeywordLinesAtEveryPositionOfABlock) {
    // Each case is placed after `lead` plain characters ("*" decodes to 0), so that it meets
    // the block edges of 16 and 32 bytes in every way.
    const struct {
        std::string in;
        std::string out;
        std::size_t stop;  // where a "=y" line starts, or npos
    } cases[] = {
        {"=}=@=J=M", "\x13\xD6\xE0\xE3", std::string::npos},
        {"==x", std::string(1, '\xD3') + "N", std::string::npos},  // "=" escapes "="
        {"===}", "\xD3\x13", std::string::npos},
        {"a=\r\nb", "\x37\x38", std::string::npos},  // "=" before a line end escapes nothing
        {"a=\nb", "\x37\x38", std::string::npos},
        {"a=\n=yend size=1", "\x37", 3},
        {"a\r\n=ypart begin=1", "\x37", 3},
        {"a\n=y", "\x37", 2},
        {"a=y\n=x", "\x37\x0F\x0E", std::string::npos},  // "=y" inside a line is data
        {"a\r=y", "\x37\x0F", std::string::npos},        // CR alone starts no line
        {"a\n\n=z", "\x37\x10", std::string::npos},
        {"a=", "\x37", std::string::npos},                    // "=" as the very last byte
        {".a\r\n..", "\x04\x37\x04\x04", std::string::npos},  // dots a line starts with
    };
    for (std::size_t lead = 0; lead < 40; ++lead) {
        for (const auto& c : cases) {
            // The lead ends in a line feed when it is long enough, so "=y" can also start the
            // line a block begins with.
            std::string in(lead, '*');
            if (lead > 0) {
                in.back() = '\n';
            }
            in += c.in;
            const Decoded decoded = Decode(in, GetParam());
            const std::string expected = std::string(lead == 0 ? 0 : lead - 1, '\0') + c.out;
            EXPECT_EQ(decoded.bytes, expected) << "lead " << lead << ": " << c.in;
            EXPECT_EQ(decoded.consumed, c.stop == std::string::npos ? in.size() : lead + c.stop)
                << "lead " << lead << ": " << c.in;
            EXPECT_EQ(decoded.keywordLine, c.stop != std::string::npos) << c.in;
        }
    }
    // A body that starts with the keyword line stops at once.
    EXPECT_EQ(Decode("=yend size=0\r\n", GetParam()), (Decoded{"", 0, true, 0}));
}

TEST_P(YEncLinesTest, SameAsTheByteLoopOnAnyInput) {
    // Mostly plain bytes, with "=", CR, LF and "y" common enough to meet each other often.
    const std::string alphabet = "==\r\n\nyy*a.\t ";
    std::mt19937 random(7);
    for (int round = 0; round < 3000; ++round) {
        std::string in(random() % 400, '\0');
        for (char& c : in) {
            c = random() % 3 == 0 ? alphabet[random() % alphabet.size()]
                                  : static_cast<char>(random());
        }
        // The CRC goes on from one given, as for the later pieces of a block.
        EXPECT_EQ(Decode(in, GetParam(), round), Decode(in, YEncPath::Scalar, round))
            << "round " << round;
    }
}

INSTANTIATE_TEST_SUITE_P(EveryPath, YEncLinesTest, ::testing::ValuesIn(AvailableYEncPaths()),
                         [](const ::testing::TestParamInfo<YEncPath>& info) {
                             return std::string(info.param == YEncPath::Scalar  ? "Scalar"
                                                : info.param == YEncPath::Sse41 ? "Sse41"
                                                                                : "Avx2");
                         });

}  // namespace
