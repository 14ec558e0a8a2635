// The fetch worker end to end against the real news server (INN), with the default settings (two
// connections, requests in flight, the overview): thirty articles posted, one run, and every
// picture compared byte for byte with what was posted; then the record of processed articles
// keeps a second run to what was posted since.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "config/CNewsrc.h"
#include "config/ConfigFile.h"
#include "decode/CContentIndex.h"
#include "fetch/CFetchWorker.h"
#include "platform/ProgramFolder.h"
#include "tests/support/Capture.h"
#include "tests/support/FakeFetchDisplay.h"
#include "tests/support/InnServer.h"
#include "tests/support/PictureGroup.h"
#include "tests/support/TempDir.h"
#include "tests/support/UUEncode.h"
#include "tests/support/YEncEncode.h"

namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAreArray;

std::string Article(const std::string& name, const std::string& data) {
    return "Posted by the end-to-end test.\r\n\r\n" + test::UUEncode(data, name, "\r\n") +
           "-- \r\nsig\r\n";
}

std::vector<std::string> FolderNames(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

// A fetch worker with the default settings in a fresh program folder, configured for one group.
struct CWorkerInFolder {
    CWorkerInFolder(const std::string& server, const std::string& group) {
        platform::SetProgramFolder(folder.Folder());
        std::filesystem::create_directory("images");
        WriteConfigFile(server, {group}, {});
        started = worker.InitServer() && worker.StartThread();
    }
    // Presses Start and waits until `runs` runs have ended.
    bool Run(std::uint64_t runs) {
        worker.OnStart();
        return worker.WaitForRuns(runs, 120s);
    }

    test::TempDir folder{true};
    test::ConsoleCapture console;
    test::ErrorBoxRecorder boxes;
    test::FakeFetchDisplay display;
    CFetchWorker worker{display};
    bool started = false;
};

TEST(FetchWorkerAgainstInnTest, OneRunDecodesEveryPicturePostedAndLeavesNothingElse) {
    test::InnServer inn;
    if (!inn.Available()) {
        GTEST_SKIP() << test::InnServer::SkipReason();
    }
    const std::string group = inn.CreateGroup();
    ASSERT_FALSE(group.empty()) << inn.Error();

    // What is posted, in order, and the picture (base name and bytes) each article should give.
    struct Posting {
        std::string body;
        std::string picture;  // empty: no picture expected
        std::string data;
    };
    std::vector<Posting> postings;
    postings.push_back({"No picture here, only words.\r\n", "", ""});
    const std::string torn = test::PictureBytes(2000, 1);
    std::string firstPartOnly = "part 1 of 2\r\n" + test::UUEncode(torn, "torn.jpg", "\r\n");
    firstPartOnly.resize(firstPartOnly.find("\r\n", firstPartOnly.size() / 2) + 2);
    postings.push_back({firstPartOnly, "", ""});
    const std::string spaced = test::PictureBytes(3000, 2);
    postings.push_back({Article("my cat.jpg", spaced), "my_cat.jpg", spaced});
    const std::string foldered = test::PictureBytes(4000, 3);
    postings.push_back({Article("../../etc/dog.png", foldered), "dog.png", foldered});
    const std::string dotted =
        test::PictureBytes(45 * 30 + 14, 4);  // last data line begins with "."
    postings.push_back({Article("dotted.gif", dotted), "dotted.gif", dotted});
    for (int i = 5; i < 29; ++i) {
        const std::string data =
            test::PictureBytes(static_cast<std::size_t>(1 + i * i * 97), 10u + i);
        const std::string name = "pic" + std::to_string(i) + ".jpg";
        postings.push_back({Article(name, data), name, data});
    }
    const std::string again = test::PictureBytes(777, 99);
    // Another picture under a name already taken is kept beside the first.
    postings.push_back({Article("pic5.jpg", again), "pic5 (2).jpg", again});
    ASSERT_EQ(postings.size(), 30u);
    for (std::size_t i = 0; i < postings.size(); ++i) {
        ASSERT_FALSE(inn.Post(group, "posting " + std::to_string(i), postings[i].body).empty())
            << inn.Error();
    }
    ASSERT_TRUE(inn.WaitForArticles(group, 30)) << inn.Error();

    CWorkerInFolder run(inn.Address(), group);
    ASSERT_TRUE(run.started);
    ASSERT_TRUE(run.Run(1));
    auto& [folder, console, boxes, display, worker, started] = run;

    EXPECT_THAT(boxes.Texts(), IsEmpty());
    const std::string prefix = folder.Folder() + "images/" + group + "/";
    std::vector<std::string> expectedList;
    std::map<std::string, std::string> expectedFiles;
    for (const Posting& posting : postings) {
        if (!posting.picture.empty()) {
            expectedList.push_back(prefix + posting.picture);
            expectedFiles[posting.picture] = posting.data;
        }
    }
    EXPECT_THAT(display.Pictures(), ElementsAreArray(expectedList));
    std::vector<std::string> expectedNames;
    for (const auto& [name, data] : expectedFiles) {
        expectedNames.push_back(name);
        EXPECT_EQ(test::ReadFile(folder.Path() / "images" / group / name), data) << name;
    }
    // No partial picture and no article file is left.
    EXPECT_THAT(FolderNames(folder.Path() / "images" / group),
                UnorderedElementsAreArray(expectedNames));
    const std::string record = CNewsrc::FileName(inn.Address());
    EXPECT_THAT(FolderNames(folder.Path()),
                UnorderedElementsAreArray(
                    {"images", "tmp_dir", "zarvo.cfg", record.c_str(), CONTENT_INDEX_FILE_NAME}));
    EXPECT_THAT(FolderNames(folder.Path() / "tmp_dir"), IsEmpty());
    EXPECT_EQ(test::ReadFile(folder.Path() / record), group + ": 1-30\n");

    // Two more postings: the next run fetches those and nothing it fetched before.
    const std::string later = test::PictureBytes(5000, 77);
    ASSERT_FALSE(inn.Post(group, "later", "no picture\r\n").empty()) << inn.Error();
    ASSERT_FALSE(inn.Post(group, "later", Article("later.jpg", later)).empty()) << inn.Error();
    ASSERT_TRUE(inn.WaitForArticles(group, 32)) << inn.Error();
    ASSERT_TRUE(run.Run(2));
    EXPECT_TRUE(worker.EndRun(5s));
    EXPECT_THAT(display.Pictures(), ElementsAreArray({prefix + "later.jpg"}));
    EXPECT_EQ(test::ReadFile(folder.Path() / "images" / group / "later.jpg"), later);
    EXPECT_EQ(test::ReadFile(folder.Path() / record), group + ": 1-32\n");
}

TEST(FetchWorkerAgainstInnTest, YEncAndPicturesInSeveralPartsComeOutByteForByte) {
    test::InnServer inn;
    if (!inn.Available()) {
        GTEST_SKIP() << test::InnServer::SkipReason();
    }
    const std::string group = inn.CreateGroup();
    ASSERT_FALSE(group.empty()) << inn.Error();
    const std::map<std::string, std::string> files = {
        {"one.jpg", test::PictureBytes(9000, 21)},
        {"three.jpg", test::PictureBytes(30000, 22)},
        {"ten.png", test::PictureBytes(100000, 23)},
        {"duo.gif", test::PictureBytes(45 * 60 + 8, 24)},
    };
    const std::string bad = test::PictureBytes(5000, 25);
    const std::string duo = test::UUEncode(files.at("duo.gif"), "duo.gif", "\r\n");
    const std::size_t cut = duo.find("\r\n", duo.size() / 2) + 2;
    std::vector<std::pair<std::string, std::string>> postings;  // subject, body
    postings.emplace_back("words", "Only words here.\r\n");
    for (const std::uint32_t n : {5u, 1u, 10u, 2u, 9u, 3u, 8u, 4u, 7u, 6u}) {
        postings.emplace_back("ten.png (" + std::to_string(n) + "/10)",
                              test::YEncPart(files.at("ten.png"), "ten.png", n, 10));
        if (n == 10) {
            postings.emplace_back("three.jpg (2/3)",
                                  test::YEncPart(files.at("three.jpg"), "three.jpg", 2, 3));
            postings.emplace_back("duo.gif (2/2)", "Second half:\r\n" + duo.substr(cut));
            postings.emplace_back("bad.jpg (1/2)", test::YEncPart(bad, "bad.jpg", 1, 2, true));
        }
    }
    postings.emplace_back("one.jpg", test::YEncEncode(files.at("one.jpg"), "one.jpg"));
    postings.emplace_back("three.jpg (3/3)",
                          test::YEncPart(files.at("three.jpg"), "three.jpg", 3, 3));
    postings.emplace_back("bad.jpg (2/2)", test::YEncPart(bad, "bad.jpg", 2, 2));
    postings.emplace_back("duo.gif (1/2)", duo.substr(0, cut));
    postings.emplace_back("three.jpg (1/3)",
                          test::YEncPart(files.at("three.jpg"), "three.jpg", 1, 3));
    for (const auto& [subject, body] : postings) {
        ASSERT_FALSE(inn.Post(group, subject, body).empty()) << inn.Error();
    }
    ASSERT_TRUE(inn.WaitForArticles(group, static_cast<std::uint32_t>(postings.size())))
        << inn.Error();

    CWorkerInFolder run(inn.Address(), group);
    ASSERT_TRUE(run.started);
    ASSERT_TRUE(run.Run(1));
    auto& [folder, console, boxes, display, worker, started] = run;
    EXPECT_TRUE(worker.EndRun(5s));
    EXPECT_THAT(boxes.Texts(), IsEmpty());
    std::vector<std::string> names;
    for (const auto& [name, data] : files) {
        names.push_back(name);
        EXPECT_EQ(test::ReadFile(folder.Path() / "images" / group / name), data) << name;
    }
    // Nothing that failed a check, and nothing partial, reached the picture folder.
    EXPECT_THAT(FolderNames(folder.Path() / "images" / group), UnorderedElementsAreArray(names));
    EXPECT_EQ(display.Pictures().size(), files.size());
}

// A group as today's picture groups look, posted to INN: one run with the default settings keeps
// exactly its distinct pictures, those inside its archives and the one under a name that says
// nothing among them, byte for byte; the next run keeps only the new picture of the next day's
// posts, not the repost beside it.
TEST(FetchWorkerAgainstInnTest, AGroupOfTodayGivesItsDistinctPicturesOnce) {
    test::InnServer inn;
    if (!inn.Available()) {
        GTEST_SKIP() << test::InnServer::SkipReason();
    }
    const std::string group = inn.CreateGroup();
    ASSERT_FALSE(group.empty()) << inn.Error();
    std::uint32_t posted = 0;
    const auto post = [&](const test::PictureGroup& posts) {
        for (const test::PostedArticle& article : posts.articles) {
            ASSERT_FALSE(inn.Post(group, article.subject, article.body).empty()) << inn.Error();
            ++posted;
        }
        ASSERT_TRUE(inn.WaitForArticles(group, posted)) << inn.Error();
    };
    const auto collected = [&group](const std::filesystem::path& folder) {
        std::map<std::string, std::string> files;
        const std::filesystem::path root = folder / "images" / group;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
            if (entry.is_regular_file()) {
                files[std::filesystem::relative(entry.path(), root).string()] =
                    test::ReadFile(entry.path());
            }
        }
        return files;
    };
    const test::PictureGroup today = test::TodaysPictureGroup();
    post(today);
    CWorkerInFolder run(inn.Address(), group);
    ASSERT_TRUE(run.started);
    ASSERT_TRUE(run.Run(1));
    EXPECT_THAT(run.boxes.Texts(), IsEmpty());
    EXPECT_EQ(collected(run.folder.Path()), today.pictures);

    const test::PictureGroup next = test::NextDaysPosts();
    post(next);
    ASSERT_TRUE(run.Run(2));
    EXPECT_TRUE(run.worker.EndRun(5s));
    std::map<std::string, std::string> expected = today.pictures;
    expected.insert(next.pictures.begin(), next.pictures.end());
    EXPECT_EQ(collected(run.folder.Path()), expected);
    EXPECT_EQ(run.display.Pictures().size(), 1u);
}

}  // namespace
