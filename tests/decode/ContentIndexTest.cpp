// The content index: its file read back by another object, pictures remembered after they are
// deleted until ForgetMissing, the file made anew when missing or damaged (and not for a line cut
// short), stopped, and written by two objects at once.

#include "decode/CContentIndex.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <iterator>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;

constexpr const char* INDEX = CONTENT_INDEX_FILE_NAME;
const std::string HEADER = "# zarvo content index 1\n";

std::string Hex(const CContentIndex::Digest& digest) {
    std::string text;
    for (const unsigned char byte : digest) {
        static constexpr char DIGITS[] = "0123456789abcdef";
        text += DIGITS[byte >> 4];
        text += DIGITS[byte & 0x0F];
    }
    return text;
}

CContentIndex::Digest D(const std::string& bytes) {
    return CContentIndex::DigestOf(bytes);
}

// The index's line for a picture of these bytes.
std::string Line(const std::string& bytes, const std::string& path) {
    return Hex(D(bytes)) + " " + std::to_string(bytes.size()) + " " + path + "\n";
}

void Picture(const std::string& path, const std::string& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    test::WriteFile(path, bytes);
}

CContentIndex Opened(const CContentIndex::Progress& progress = {}) {
    CContentIndex index;
    std::string error;
    EXPECT_TRUE(index.Open(INDEX, "images", error, progress)) << error;
    return index;
}

TEST(ContentIndexTest, DigestsAreSha256OfTheBytes) {
    const test::TempDir dir(true);
    EXPECT_EQ(Hex(D("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Hex(D("")), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    // Past one read block, so that the file is hashed in several pieces.
    const std::string large(3 * 1024 * 1024 + 7, 'z');
    test::WriteFile("large", large);
    EXPECT_EQ(CContentIndex::DigestOfFile("large"), D(large));
    EXPECT_EQ(CContentIndex::DigestOfFile("missing"), std::nullopt);
}

TEST(ContentIndexTest, WhatOneObjectFlushesAnotherReads) {
    const test::TempDir dir(true);
    CContentIndex writer = Opened();
    writer.Add(D("a"), 1, "images/g/a b.jpg");
    writer.Add(D("a"), 1, "images/h/a.jpg");  // the same bytes under a second name
    writer.Add(D("n"), 1, "images/g/new\nline.jpg");
    EXPECT_TRUE(writer.Contains(D("a")));
    std::string error;
    ASSERT_TRUE(writer.Flush(error)) << error;
    EXPECT_EQ(test::ReadFile(INDEX),
              HEADER + Line("a", "images/g/a b.jpg") + Line("a", "images/h/a.jpg"));

    const CContentIndex reader = Opened();
    EXPECT_TRUE(reader.Contains(D("a")));
    EXPECT_FALSE(reader.Contains(D("n")));
    EXPECT_EQ(reader.Size(), 1u);

    // Some megabytes, so that lines run across the blocks the file is read in.
    constexpr int MANY = 30000;
    for (int i = 0; i < MANY; ++i) {
        writer.Add(D(std::to_string(i)), 10, "images/g/" + std::string(i % 50, 'n') + ".jpg");
    }
    ASSERT_TRUE(writer.Flush(error)) << error;
    const CContentIndex many = Opened();
    EXPECT_EQ(many.Size(), MANY + 1u);
    for (int i = 0; i < MANY; ++i) {
        ASSERT_TRUE(many.Contains(D(std::to_string(i)))) << i;
    }
}

TEST(ContentIndexTest, DeletedPicturesStayRememberedUntilForgotten) {
    const test::TempDir dir(true);
    Picture("images/g/a.jpg", "a");
    Picture("images/g/b.jpg", "b");
    Picture("images/h/b.jpg", "b");
    Opened();
    fs::remove("images/g/a.jpg");
    fs::remove("images/g/b.jpg");

    CContentIndex index = Opened();
    EXPECT_TRUE(index.Contains(D("a")));
    EXPECT_EQ(index.CountMissing(), 2u);
    std::string error;
    EXPECT_EQ(ForgetDeletedPictures(error), 2u) << error;
    EXPECT_EQ(test::ReadFile(INDEX), HEADER + Line("b", "images/h/b.jpg"));
    EXPECT_EQ(index.ForgetMissing(error), 0u);
    EXPECT_FALSE(index.Contains(D("a")));
    EXPECT_TRUE(index.Contains(D("b")));  // still under h/
    EXPECT_EQ(index.CountMissing(), 0u);
}

TEST(ContentIndexTest, MadeAnewFromTheCollectionWhenMissing) {
    const test::TempDir dir(true);
    Picture("images/g2/archive/y.png", "y");
    Picture("images/g1/x.jpg", "x");
    Picture("images/g1/.zarvo-123-4.part", "half a picture");
    Picture("images/.hidden/z.jpg", "z");
    std::vector<std::pair<std::uint64_t, std::uint64_t>> steps;
    const CContentIndex index =
        Opened([&](std::uint64_t done, std::uint64_t total) { steps.emplace_back(done, total); });
    EXPECT_EQ(test::ReadFile(INDEX),
              HEADER + Line("x", "images/g1/x.jpg") + Line("y", "images/g2/archive/y.png"));
    EXPECT_FALSE(index.Contains(D("half a picture")));
    EXPECT_THAT(steps, ElementsAre(std::pair{0u, 2u}, std::pair{1u, 2u}, std::pair{2u, 2u}));
}

TEST(ContentIndexTest, MadeAnewWhenDamagedButNotForALineCutShort) {
    const std::string old = Line("old", "images/g/old.jpg");
    const std::string digits = Hex(D("bad"));
    const struct {
        const char* what;
        std::string content;
        bool damaged;
    } cases[] = {
        {"empty", "", true},
        {"wrong header", "# zarvo content index 2\n" + old, true},
        {"header cut short", "# zarvo content", true},
        {"upper-case hex", HEADER + old + "A" + digits.substr(1) + " 3 images/g/bad.jpg\n", true},
        {"short hex", HEADER + old + digits.substr(1) + " 3 images/g/bad.jpg\n", true},
        {"size not a number", HEADER + old + digits + " 3x images/g/bad.jpg\n", true},
        {"negative size", HEADER + old + digits + " -3 images/g/bad.jpg\n", true},
        {"size too large", HEADER + old + digits + " 18446744073709551616 images/g/b\n", true},
        {"no path", HEADER + old + digits + " 3\n", true},
        {"empty path", HEADER + old + digits + " 3 \n", true},
        {"empty line", HEADER + "\n" + old, true},
        {"last line cut short", HEADER + old + digits + " 3 images/g/b", false},
        {"only the header", HEADER, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const test::TempDir dir(true);
        Picture("images/g/p.jpg", "p");
        test::WriteFile(INDEX, c.content);
        CContentIndex index = Opened();
        EXPECT_EQ(index.Contains(D("p")), c.damaged);
        EXPECT_FALSE(index.Contains(D("bad")));
        if (c.damaged) {
            EXPECT_EQ(test::ReadFile(INDEX), HEADER + Line("p", "images/g/p.jpg"));
            continue;
        }
        // The next append does not run on from the line cut short.
        index.Add(D("q"), 1, "images/g/q.jpg");
        std::string error;
        ASSERT_TRUE(index.Flush(error)) << error;
        EXPECT_EQ(Opened().Size(), index.Size());
    }
}

TEST(ContentIndexTest, StoppedRebuildWritesNothing) {
    const test::TempDir dir(true);
    Picture("images/g/a.jpg", "a");
    Picture("images/g/b.jpg", "b");
    // Stopped before the first picture, at the first, and with no picture to stop at.
    for (const char* root : {"images", "no-pictures"}) {
        for (const bool beforeStart : {true, false}) {
            std::atomic<bool> stop = beforeStart;
            CContentIndex index;
            std::string error;
            EXPECT_FALSE(index.Open(
                INDEX, root, error, [&](std::uint64_t, std::uint64_t) { stop = true; }, &stop));
            EXPECT_THAT(error, ::testing::HasSubstr("stopped"));
            // No index, and no temporary file either.
            EXPECT_EQ(std::distance(fs::directory_iterator("."), {}), 1);
        }
    }
}

TEST(ContentIndexTest, UnreadableIndexFailsAndFlushKeepsItsPictures) {
    const test::TempDir dir(true);
    fs::create_directory(INDEX);
    CContentIndex index;
    std::string error;
    EXPECT_FALSE(index.Open(INDEX, "images", error));
    EXPECT_THAT(error, ::testing::HasSubstr(INDEX));
    index.Add(D("a"), 1, "images/g/a.jpg");
    EXPECT_FALSE(index.Flush(error));
    fs::remove(INDEX);
    ASSERT_TRUE(index.Open(INDEX, "images", error)) << error;
    ASSERT_TRUE(index.Flush(error)) << error;
    EXPECT_TRUE(Opened().Contains(D("a")));
}

// Two writers append while a third forgets (and so replaces the file): no append may land in a
// file that has just been replaced.
TEST(ContentIndexTest, ConcurrentWritersLoseNothing) {
    const test::TempDir dir(true);
    Picture("images/g/p.jpg", "p");
    Opened();
    constexpr int COUNT = 300;
    std::atomic<bool> writing = true;
    std::thread forgetter([&] {
        CContentIndex index = Opened();
        std::string error;
        while (writing) {
            EXPECT_TRUE(index.ForgetMissing(error)) << error;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));  // leaves the writers a turn
        }
    });
    std::vector<std::thread> writers;
    for (const char* name : {"first", "second"}) {
        writers.emplace_back([name] {
            CContentIndex index = Opened();
            std::string error;
            for (int i = 0; i < COUNT; ++i) {
                index.Add(D(name + std::to_string(i)), 1, "images/g/p.jpg");
                EXPECT_TRUE(index.Flush(error)) << error;
            }
        });
    }
    for (std::thread& writer : writers) {
        writer.join();
    }
    writing = false;
    forgetter.join();
    const CContentIndex index = Opened();
    EXPECT_EQ(index.Size(), 2u * COUNT + 1);
}

}  // namespace
