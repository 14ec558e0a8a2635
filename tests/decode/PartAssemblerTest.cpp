// Pictures put together from parts: in every order, across a restart, twice, with a part
// missing or wrong, two at once under one name, uuencoded parts; the record that keeps track of
// them; and pending pictures given up after a week.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>

#include "decode/CPartAssembler.h"
#include "decode/UUDecoder.h"
#include "platform/ProgramFolder.h"
#include "tests/support/Capture.h"
#include "tests/support/TempDir.h"
#include "tests/support/UUEncode.h"

namespace {

namespace fs = std::filesystem;
using Kind = CPendingRecord::Kind;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const char* GROUP = "alt.pics";

std::uint32_t Crc(std::string_view bytes) {
    return static_cast<std::uint32_t>(
        crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

class PartAssemblerTest : public ::testing::Test {
protected:
    PartAssemblerTest() { platform::SetProgramFolder(folder.Folder()); }

    // Part `number` of `count` equal slices of `file`, as a yEnc posting gives it.
    CPartAssembler::Part Slice(const std::string& file, std::uint32_t number, std::uint32_t count,
                               const std::string& name = "pic.jpg") {
        const std::size_t size = (file.size() + count - 1) / count;
        const std::size_t offset = (number - 1) * size;
        CPartAssembler::Part part;
        part.key = name + "|" + std::to_string(file.size()) + "|" + std::to_string(count);
        part.name = name;
        part.number = number;
        part.total = count;
        part.fileSize = file.size();
        part.offset = offset;
        part.data = std::string_view(file).substr(offset, size);
        part.fileCrc = Crc(file);
        return part;
    }
    std::string Path(const std::string& name) const {
        return folder.Folder() + "images/" + GROUP + "/" + name;
    }
    // The files left under tmp_dir/<group>/, but for the lock.
    std::vector<std::string> Pending() const {
        std::vector<std::string> names;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(fs::path("tmp_dir") / GROUP, error)) {
            if (entry.path().filename() != ".lock") {
                names.push_back(entry.path().filename().string());
            }
        }
        return names;
    }

    test::TempDir folder{true};
    test::ConsoleCapture console;
    CPartAssembler assembler{"tmp_dir", "images"};
};

TEST_F(PartAssemblerTest, ThreePartsInEveryOrderMakeThePicture) {
    const std::string file = test::PictureBytes(30001, 1);
    std::vector<std::uint32_t> order = {1, 2, 3};
    do {
        const std::string name = "p" + std::to_string(order[0]) + std::to_string(order[1]) + ".jpg";
        EXPECT_EQ(assembler.AddPart(GROUP, Slice(file, order[0], 3, name)), "");
        EXPECT_EQ(assembler.AddPart(GROUP, Slice(file, order[1], 3, name)), "");
        // A part that came already changes nothing.
        EXPECT_EQ(assembler.AddPart(GROUP, Slice(file, order[1], 3, name)), "");
        ASSERT_EQ(assembler.AddPart(GROUP, Slice(file, order[2], 3, name)), Path(name));
        EXPECT_EQ(test::ReadFile(Path(name)), file) << name;
    } while (std::next_permutation(order.begin(), order.end()));
    EXPECT_THAT(Pending(), IsEmpty());
}

TEST_F(PartAssemblerTest, PartsKeptAcrossARestartAndMissingOnesPublishNothing) {
    const std::string file = test::PictureBytes(5000, 2);
    EXPECT_EQ(assembler.AddPart(GROUP, Slice(file, 3, 3)), "");
    EXPECT_EQ(assembler.AddPart(GROUP, Slice(file, 1, 3)), "");
    EXPECT_FALSE(fs::exists(Path("pic.jpg")));  // part 2 is missing: a gap, never published
    EXPECT_EQ(Pending().size(), 2u);            // the data and its record
    CPartAssembler afterRestart("tmp_dir", "images");
    EXPECT_EQ(afterRestart.AddPart(GROUP, Slice(file, 2, 3)), Path("pic.jpg"));
    EXPECT_EQ(test::ReadFile(Path("pic.jpg")), file);
}

TEST_F(PartAssemblerTest, AWrongWholeIsNeverPublished) {
    const std::string file = test::PictureBytes(4000, 3);
    CPartAssembler::Part first = Slice(file, 1, 2);
    CPartAssembler::Part second = Slice(file, 2, 2);
    first.fileCrc = second.fileCrc = Crc(file) ^ 1;
    EXPECT_EQ(assembler.AddPart(GROUP, first), "");
    EXPECT_EQ(assembler.AddPart(GROUP, second), "");
    EXPECT_FALSE(fs::exists(fs::path("images") / GROUP / "pic.jpg"));
    EXPECT_THAT(Pending(), IsEmpty());
    EXPECT_THAT(console.Text(), ::testing::HasSubstr("does not match its CRC"));
    // A part that does not fit its file is refused.
    CPartAssembler::Part outside = Slice(file, 2, 2);
    outside.offset = file.size();
    EXPECT_EQ(assembler.AddPart(GROUP, outside), "");
}

TEST_F(PartAssemblerTest, TwoFilesOfOneNameInFlightStayApart) {
    const std::string small = test::PictureBytes(3000, 4);
    const std::string large = test::PictureBytes(6000, 5);
    EXPECT_EQ(assembler.AddPart(GROUP, Slice(small, 1, 2)), "");
    EXPECT_EQ(assembler.AddPart(GROUP, Slice(large, 1, 2)), "");
    EXPECT_EQ(assembler.AddPart(GROUP, Slice(large, 2, 2)), Path("pic.jpg"));
    EXPECT_EQ(assembler.AddPart(GROUP, Slice(small, 2, 2)), Path("pic (2).jpg"));
    EXPECT_EQ(test::ReadFile(Path("pic.jpg")), large);
    EXPECT_EQ(test::ReadFile(Path("pic (2).jpg")), small);
}

TEST_F(PartAssemblerTest, UuencodedPartsAreJoinedInNumberOrder) {
    const std::string file = test::PictureBytes(45 * 30 + 7, 6);
    const std::string encoded = test::UUEncode(file, "cat.gif", "\r\n");
    // Cut the block into three articles at line ends, with chatter around the data.
    std::vector<std::string> articles;
    std::size_t start = 0;
    for (const std::size_t cut :
         {encoded.find("\r\n", 700) + 2, encoded.find("\r\n", 1500) + 2, encoded.size()}) {
        articles.push_back("Part " + std::to_string(articles.size() + 1) + " follows\r\n\r\n" +
                           encoded.substr(start, cut - start) + "-- \r\nposter\r\n");
        start = cut;
    }
    for (const std::uint32_t number : {3u, 1u, 2u}) {
        const CUUPart decoded = UUDecodePart(articles[number - 1]);
        EXPECT_EQ(decoded.begun, number == 1);
        EXPECT_EQ(decoded.ended, number == 3);
        CPartAssembler::Part part;
        part.kind = Kind::Ordered;
        part.key = "poster <p@x>|cat.gif - 3 parts|3";
        part.name = decoded.name;
        part.number = number;
        part.total = 3;
        part.data = decoded.data;
        part.last = decoded.ended;
        const std::string result = assembler.AddPart(GROUP, part);
        EXPECT_EQ(result, number == 2 ? Path("cat.gif") : "") << number;
    }
    EXPECT_EQ(test::ReadFile(Path("cat.gif")), file);
    EXPECT_THAT(Pending(), IsEmpty());
}

TEST_F(PartAssemblerTest, PendingPicturesWithoutNewPartsForAWeekAreGivenUp) {
    const std::string file = test::PictureBytes(2000, 7);
    assembler.AddPart(GROUP, Slice(file, 1, 2, "old.jpg"));
    const auto eightDaysAgo = fs::file_time_type::clock::now() - std::chrono::hours(24 * 8);
    for (const std::string& name : Pending()) {
        fs::last_write_time(fs::path("tmp_dir") / GROUP / name, eightDaysAgo);
    }
    assembler.AddPart(GROUP, Slice(file, 1, 2, "new.jpg"));
    CPartAssembler::RemoveStale("tmp_dir");
    ASSERT_EQ(Pending().size(), 2u);
    EXPECT_EQ(assembler.AddPart(GROUP, Slice(file, 2, 2, "new.jpg")), Path("new.jpg"));
    EXPECT_EQ(assembler.AddPart(GROUP, Slice(file, 2, 2, "old.jpg")), "");
}

TEST(PendingRecordTest, ARecordReadsBackAsWrittenAndNothingElseIsBelieved) {
    CPendingRecord record;
    record.kind = Kind::Ordered;
    record.key = "poster\nwith odd bytes \x01";
    record.name = "a b.jpg";
    record.total = 3;
    record.fileCrc = 0xDEADBEEF;
    record.lastSeen = true;
    ASSERT_TRUE(record.Add({2, 0, 10}));
    ASSERT_TRUE(record.Add({1, 0, 7}));
    EXPECT_FALSE(record.Add({1, 0, 7}));
    EXPECT_FALSE(record.Add({4, UINT64_MAX, 1}));
    const std::string text = record.Serialize();
    EXPECT_EQ(CPendingRecord::Parse(text), record);
    EXPECT_FALSE(record.Complete());  // part 3 of 3 is missing
    for (const std::string& damaged :
         {text.substr(0, text.size() - 4), text + "part 9 0 1\n",
          "zarvo pending picture 2" + text.substr(text.find('\n')), std::string()}) {
        EXPECT_EQ(CPendingRecord::Parse(damaged), std::nullopt) << damaged;
    }
}

}  // namespace
