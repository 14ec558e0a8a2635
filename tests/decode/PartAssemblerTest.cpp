// Pictures put together from parts: in every order, across a restart, twice, with a part
// missing or wrong, two at once under one name, uuencoded parts; parts passed over for the
// limits or failing to be written, leaving nothing behind; wholes that fail their CRC set aside,
// and records of the earlier version finished; the record that keeps track of them; and pending
// pictures given up after a week.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <functional>
#include <map>

#include "decode/CPartAssembler.h"
#include "decode/UUDecoder.h"
#include "platform/ProgramFolder.h"
#include "tests/support/Capture.h"
#include "tests/support/TempDir.h"
#include "tests/support/UUEncode.h"

namespace {

namespace fs = std::filesystem;
using Kind = CPendingRecord::Kind;
using State = CPartAssembler::Result::State;
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

    // Every file under tmp_dir/<group>/ but the lock, with its length and CRC.
    std::map<std::string, std::string> Contents() const {
        std::map<std::string, std::string> contents;
        for (const std::string& name : Pending()) {
            const std::string bytes = test::ReadFile(fs::path("tmp_dir") / GROUP / name);
            contents[name] = std::to_string(bytes.size()) + " " + std::to_string(Crc(bytes));
        }
        return contents;
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

TEST_F(PartAssemblerTest, AWholeThatCannotBeFinishedKeepsItsPartsForAnotherTry) {
    const std::string file = test::PictureBytes(5000, 4);
    CPartAssembler failing("tmp_dir", "images");
    failing.SetFinisher([](const std::string&, const std::string&, const std::string&) {
        CCollected collected;
        collected.failed = true;  // as when the picture's folder is on a full disk
        return collected;
    });
    EXPECT_EQ(failing.Add(GROUP, Slice(file, 1, 2)).state, CPartAssembler::Result::State::Waiting);
    EXPECT_EQ(failing.Add(GROUP, Slice(file, 2, 2)).state, CPartAssembler::Result::State::Failed);
    EXPECT_EQ(Pending().size(), 2u);
    // The article that completed it is fetched again (it was not recorded): now it finishes.
    EXPECT_EQ(assembler.AddPart(GROUP, Slice(file, 2, 2)), Path("pic.jpg"));
    EXPECT_EQ(test::ReadFile(Path("pic.jpg")), file);
    EXPECT_THAT(Pending(), IsEmpty());
}

TEST_F(PartAssemblerTest, AWrongWholeIsNeverPublished) {
    const std::string file = test::PictureBytes(4000, 3);
    CPartAssembler::Part first = Slice(file, 1, 2);
    CPartAssembler::Part second = Slice(file, 2, 2);
    first.fileCrc = second.fileCrc = Crc(file) ^ 1;
    EXPECT_EQ(assembler.AddPart(GROUP, first), "");
    EXPECT_EQ(assembler.AddPart(GROUP, second), "");
    EXPECT_FALSE(fs::exists(fs::path("images") / GROUP / "pic.jpg"));
    EXPECT_THAT(Pending(), ::testing::UnorderedElementsAre(::testing::EndsWith(".failed.data"),
                                                           ::testing::EndsWith(".failed.parts")));
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

// Adds the part with the file size limited as a full disk would limit it (0: no limit).
CPartAssembler::Result AddLimited(CPartAssembler& assembler, const CPartAssembler::Part& part,
                                  rlim_t fileLimit) {
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = fileLimit;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    if (fileLimit != 0) {
        setrlimit(RLIMIT_FSIZE, &small);
    }
    const CPartAssembler::Result result = assembler.Add(GROUP, part);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    return result;
}

TEST_F(PartAssemblerTest, PartsPassedOverOrNotWrittenLeaveThePendingFilesAsTheyWere) {
    const std::string file = test::PictureBytes(4000, 8);
    const std::string large = test::PictureBytes(9000, 9);
    const std::string longKey(300, 'k');
    const auto ordered = [&file](std::uint32_t number) {
        CPartAssembler::Part part;
        part.kind = Kind::Ordered;
        part.key = "poster|big.gif|2";
        part.number = number;
        part.total = 2;
        part.data = std::string_view(file).substr(0, 2000);
        return part;
    };
    const auto huge = [](std::uint64_t fileSize, std::uint64_t offset) {
        CPartAssembler::Part part;
        part.key = "huge";
        part.name = "huge.jpg";
        part.number = 2;
        part.total = 2;
        part.fileSize = fileSize;
        part.offset = offset;
        part.data = "sixty bytes or so of a post that says its file is enormous..";
        return part;
    };
    struct Case {
        const char* what;
        std::uint64_t maxPicture;
        rlim_t fileLimit;  // while the part is added; 0 for none
        std::function<void()> before;
        std::function<CPartAssembler::Part()> part;
        State state;
    };
    const std::uint64_t TIB = std::uint64_t{1} << 40;
    const Case cases[] = {
        {"a file larger than a picture may be", 3000, 0, [] {}, [&] { return Slice(file, 1, 2); },
         State::TooLarge},
        {"a begin far into an 8 TiB file", 10000, 0, [] {},
         [&] { return huge(8 * TIB, 8 * TIB - 60); }, State::TooLarge},
        {"a begin far past its small file's end", 10000, 0, [] {},
         [&] { return huge(4000, 8 * TIB); }, State::Unfit},
        {"uuencoded parts growing past the limit", 3000, 0,
         [&] { ASSERT_EQ(assembler.Add(GROUP, ordered(1)).state, State::Waiting); },
         [&] { return ordered(2); }, State::TooLarge},
        {"a group whose pending files would pass four pictures", 10000, 0,
         [] {
             fs::create_directories(fs::path("tmp_dir") / GROUP);
             test::WriteFile(fs::path("tmp_dir") / GROUP / "0123456789abcdef.failed.data",
                             std::string(36000, 'x'));
         },
         [&] { return Slice(large, 2, 2); }, State::TooLarge},
        {"a new data file that cannot be written", 10000, 1000, [] {},
         [&] { return Slice(file, 1, 2); }, State::Failed},
        {"a data file with another part that cannot grow", 10000, 2500,
         [&] { ASSERT_EQ(assembler.Add(GROUP, Slice(file, 1, 2)).state, State::Waiting); },
         [&] { return Slice(file, 2, 2); }, State::Failed},
        {"a record that cannot be written", 10000, 400, [] {},
         [&] {
             CPartAssembler::Part part = Slice(file, 1, 40);
             part.key = longKey;
             return part;
         },
         State::Failed},
        {"a uuencoded part that cannot be written", 10000, 1000, [] {}, [&] { return ordered(1); },
         State::Failed},
    };
    for (const Case& c : cases) {
        fs::remove_all("tmp_dir");
        assembler.SetMaxPictureBytes(c.maxPicture);
        c.before();
        const std::map<std::string, std::string> before = Contents();
        EXPECT_EQ(AddLimited(assembler, c.part(), c.fileLimit).state, c.state) << c.what;
        EXPECT_EQ(Contents(), before) << c.what;
    }
}

TEST_F(PartAssemblerTest, AWholeThatFailsItsCrcIsSetAsideAndTheKeyBeginsAfresh) {
    // Two posts of one poster under one key, of the same size but different bytes.
    const std::string posts[] = {test::PictureBytes(4000, 10), test::PictureBytes(4000, 11)};
    const auto part = [this, &posts](int post, std::uint32_t number) {
        CPartAssembler::Part part = Slice(posts[post], number, 2);
        part.formerKey = part.key;
        part.key += "|poster";
        part.source = "<" + std::to_string(post) + "." + std::to_string(number) + "@x>";
        return part;
    };
    struct Step {
        int post;
        std::uint32_t number;
        State state;
    };
    struct Case {
        const char* what;
        bool formerRecord;  // part 1 of post 0 pending in a record of the earlier version
        std::vector<Step> steps;
        int published;         // the post published, or -1
        std::size_t setAside;  // files under <id>.failed.*
    };
    constexpr State W = State::Waiting, R = State::Refused, F = State::Finished;
    const Case cases[] = {
        {"mixed, then the 2nd again", false, {{0, 1, W}, {1, 2, R}, {1, 1, W}, {1, 2, F}}, 1, 2},
        {"failed twice, last aside", false, {{0, 1, W}, {1, 2, R}, {1, 1, W}, {0, 2, R}}, -1, 2},
        {"an earlier version's record finished", true, {{0, 2, F}}, 0, 0},
        {"an earlier version's record mixed", true, {{1, 2, R}}, -1, 2},
    };
    for (const Case& c : cases) {
        fs::remove_all("tmp_dir");
        fs::remove_all("images");
        if (c.formerRecord) {
            CPartAssembler::Part first = part(0, 1);
            first.key = first.formerKey;
            first.formerKey.clear();
            first.source.clear();
            ASSERT_EQ(assembler.Add(GROUP, first).state, State::Waiting);
            // Written back as that version wrote it: no source after a part.
            const std::vector<std::string> names = Pending();
            const auto record = fs::path("tmp_dir") / GROUP /
                                *std::find_if(names.begin(), names.end(), [](const auto& name) {
                                    return name.ends_with(".parts");
                                });
            std::string text = test::ReadFile(record);
            ASSERT_TRUE(text.starts_with("zarvo pending picture 2")) << text;
            text.replace(22, 1, "1");
            text.replace(text.find(" -\n"), 2, "");
            test::WriteFile(record, text);
        }
        for (const Step& step : c.steps) {
            EXPECT_EQ(assembler.Add(GROUP, part(step.post, step.number)).state, step.state)
                << c.what << ": post " << step.post << " part " << step.number;
        }
        EXPECT_EQ(fs::exists(Path("pic.jpg")), c.published >= 0) << c.what;
        if (c.published >= 0) {
            EXPECT_EQ(test::ReadFile(Path("pic.jpg")), posts[c.published]) << c.what;
        }
        const std::vector<std::string> names = Pending();
        EXPECT_EQ(std::count_if(names.begin(), names.end(),
                                [](const std::string& name) {
                                    return name.find(".failed.") != std::string::npos;
                                }),
                  c.setAside)
            << c.what;
    }
    EXPECT_THAT(console.Text(), ::testing::HasSubstr("set aside, not published (from <0.1@x>, "
                                                     "<1.2@x>)"));
}

TEST_F(PartAssemblerTest, PendingPicturesWithoutNewPartsForAWeekAreGivenUp) {
    const std::string file = test::PictureBytes(2000, 7);
    assembler.AddPart(GROUP, Slice(file, 1, 2, "old.jpg"));
    const auto eightDaysAgo = fs::file_time_type::clock::now() - std::chrono::hours(24 * 8);
    for (const std::string& name : Pending()) {
        fs::last_write_time(fs::path("tmp_dir") / GROUP / name, eightDaysAgo);
    }
    const std::vector<std::string> old = Pending();
    assembler.AddPart(GROUP, Slice(file, 1, 2, "new.jpg"));
    // A whole of new.jpg's key set aside long ago goes too, though the pending one stays.
    std::vector<std::string> now = Pending();
    const std::string fresh = *std::find_if(now.begin(), now.end(), [&old](const auto& name) {
        return std::find(old.begin(), old.end(), name) == old.end();
    });
    const std::string newId = fresh.substr(0, fresh.find('.'));
    const fs::path aside = fs::path("tmp_dir") / GROUP / (newId + ".failed.data");
    test::WriteFile(aside, "x");
    fs::last_write_time(aside, eightDaysAgo);
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
    ASSERT_TRUE(record.Add({2, 0, 10, "<2@x>"}));
    ASSERT_TRUE(record.Add({1, 0, 7, ""}));
    EXPECT_FALSE(record.Add({1, 0, 7, ""}));
    EXPECT_FALSE(record.Add({4, UINT64_MAX, 1, ""}));
    const std::string text = record.Serialize();
    EXPECT_EQ(CPendingRecord::Parse(text), record);
    EXPECT_FALSE(record.Complete());  // part 3 of 3 is missing
    // The earlier version's record, without sources, reads as well.
    const std::string body = text.substr(text.find('\n'), text.find("\npart") - text.find('\n'));
    record.pieces[1].source.clear();
    EXPECT_EQ(CPendingRecord::Parse("zarvo pending picture 1" + body +
                                    "\npart 1 0 7\npart 2 0 10\nend\n"),
              record);
    const std::string open = text.substr(0, text.size() - 4);  // without "end\n"
    for (const std::string& damaged :
         {open, text + "part 9 0 1 -\n", open + "part 9 0 1 \nend\n", open + "part 9 0 1 zz\nend\n",
          "zarvo pending picture 3" + text.substr(text.find('\n')),
          "zarvo pending picture 1" + text.substr(text.find('\n')), std::string()}) {
        EXPECT_EQ(CPendingRecord::Parse(damaged), std::nullopt) << damaged;
    }
}

}  // namespace
