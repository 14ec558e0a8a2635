// The worker on a group built like today's picture groups, against the scripted server with the
// default settings: exactly the distinct pictures land, byte for byte, once (those inside the
// archives and the one under a name that says nothing among them), nothing else does, the
// articles of what is not worth fetching are never asked for, and a second run adds only what
// is new. Then what a picture that cannot be written costs: nothing, and the run says so.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <map>
#include <set>

#include "config/CNewsrc.h"
#include "config/ConfigFile.h"
#include "fetch/CFetchWorker.h"
#include "platform/ProgramFolder.h"
#include "tests/support/Capture.h"
#include "tests/support/FakeFetchDisplay.h"
#include "tests/support/NewsSpool.h"
#include "tests/support/PictureGroup.h"
#include "tests/support/ScriptedNntpServer.h"
#include "tests/support/TempDir.h"
#include "tests/support/UUEncode.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr const char* GROUP = "alt.binaries.pictures.test";

class CollectPostsTest : public ::testing::Test {
protected:
    CollectPostsTest() {
        platform::SetProgramFolder(folder.Folder());
        fs::create_directory("images");
        spool.SetOverview(test::NewsSpool::Overview::Over);
        server.SetHandler(spool.Handler());
        WriteConfigFile(server.Address(), {GROUP}, {});
    }

    // Posts the articles after those posted already.
    void Post(const test::PictureGroup& posts) {
        for (const test::PostedArticle& article : posts.articles) {
            ++m_last;
            spool.AddArticle(GROUP, m_last, article.body, article.subject, article.from);
            if (!article.wanted) {
                m_unwanted.insert(std::to_string(m_last));
            }
        }
        spool.AddGroup(GROUP, 1, m_last);
    }

    void Run() {
        worker.OnStart();
        ASSERT_TRUE(worker.WaitForRuns(++m_runs, 60s));
    }

    // Every file under images/<group>/, by its path there, with its bytes.
    std::map<std::string, std::string> Collected() const {
        std::map<std::string, std::string> files;
        const fs::path root = fs::path("images") / GROUP;
        for (const auto& entry : fs::recursive_directory_iterator(root)) {
            if (entry.is_regular_file()) {
                files[fs::relative(entry.path(), root).string()] = test::ReadFile(entry.path());
            }
        }
        return files;
    }

    // The article numbers that were asked for with HEAD or BODY and should never have been.
    std::vector<std::string> UnwantedAskedFor() const {
        std::vector<std::string> asked;
        for (const std::string& command : server.Commands()) {
            const std::size_t blank = command.find(' ');
            if ((command.starts_with("BODY ") || command.starts_with("HEAD ")) &&
                m_unwanted.count(command.substr(blank + 1)) > 0) {
                asked.push_back(command);
            }
        }
        return asked;
    }

    test::TempDir folder{true};
    test::ErrorBoxRecorder boxes;
    test::ConsoleCapture console;
    test::NewsSpool spool;
    test::ScriptedNntpServer server;
    test::FakeFetchDisplay display;
    CFetchWorker worker{display};
    bool started = worker.InitServer() && worker.StartThread();

private:
    std::uint32_t m_last = 0;
    std::uint64_t m_runs = 0;
    std::set<std::string> m_unwanted;
};

TEST_F(CollectPostsTest, TheDistinctPicturesOfAGroupOfTodayOnceAndNothingElse) {
    ASSERT_TRUE(started);
    const test::PictureGroup today = test::TodaysPictureGroup();
    Post(today);
    Run();
    EXPECT_EQ(Collected(), today.pictures);
    EXPECT_THAT(UnwantedAskedFor(), IsEmpty());
    EXPECT_EQ(display.Pictures().size(), today.pictures.size());
    const std::string summary = display.StatusTexts().back();
    EXPECT_THAT(summary, HasSubstr("(2 more already collected)"));
    EXPECT_THAT(summary, HasSubstr("4 posts passed over: 1 video or audio, 3 PAR2, NFO"));
    EXPECT_THAT(boxes.Texts(), IsEmpty());
    EXPECT_THAT(test::ReadFile(CNewsrc::FileName(server.Address())),
                GROUP + std::string(": 1-") + std::to_string(today.articles.size()) + "\n");
    // No volume of the RAR set waits any more.
    EXPECT_TRUE(fs::is_empty(fs::path("tmp_dir") / GROUP / "archives"));

    // The next day: one new picture and one repost. Only the new one is added.
    const test::PictureGroup next = test::NextDaysPosts();
    Post(next);
    Run();
    std::map<std::string, std::string> expected = today.pictures;
    expected.insert(next.pictures.begin(), next.pictures.end());
    EXPECT_EQ(Collected(), expected);
    EXPECT_EQ(display.Pictures().size(), 1u);
    EXPECT_THAT(display.StatusTexts().back(), HasSubstr("1 picture (1 more already collected)"));
}

TEST_F(CollectPostsTest, APictureThatCannotBeWrittenIsFetchedAgainByTheNextRun) {
    ASSERT_TRUE(started);
    const std::string big = test::PictureBytes(200000, 7);
    spool.AddGroup(GROUP, 1, 2);
    spool.AddArticle(GROUP, 1, test::UUEncode(test::PictureBytes(500, 8), "small.jpg", "\r\n"),
                     "small.jpg");
    spool.AddArticle(GROUP, 2, test::UUEncode(big, "big.jpg", "\r\n"), "big.jpg");
    // Files of this process may grow to 100 kB only: the big picture cannot be written, as on
    // a disk that is full.
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit limit = old;
    limit.rlim_cur = 100000;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    Run();
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_THAT(boxes.Texts(), ::testing::ElementsAre(HasSubstr("The disk is full")));
    EXPECT_EQ(test::ReadFile(CNewsrc::FileName(server.Address())), GROUP + std::string(": 1\n"));
    EXPECT_EQ(Collected().size(), 1u);
    // With room again, the next run brings it.
    Run();
    EXPECT_EQ(Collected()["big.jpg"], big);
    EXPECT_EQ(test::ReadFile(CNewsrc::FileName(server.Address())), GROUP + std::string(": 1-2\n"));
}

}  // namespace
