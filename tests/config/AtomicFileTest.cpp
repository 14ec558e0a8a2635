// Files replaced in one step (the settings, the .newsrc record, the password file and the
// pending pictures' records): two writers of one file at once, and the permissions asked for.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/AtomicFile.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;

TEST(AtomicFileTest, TwoWritersAtOnceLeaveOneWholeFileOfEitherAndNoTemporary) {
    const test::TempDir folder;
    const std::string path = (folder.Path() / "record").string();
    // Each writer's own content, long enough that a write takes a while.
    const std::string contents[] = {std::string(20000, 'a'), std::string(30000, 'b')};
    std::vector<std::thread> writers;
    for (const std::string& content : contents) {
        writers.emplace_back([&path, &contents, &content] {
            for (int round = 0; round < 200; ++round) {
                std::string error;
                EXPECT_TRUE(platform::WriteFileAtomically(path, content, 0600, error)) << error;
                const std::string now = test::ReadFile(path);
                EXPECT_TRUE(now == contents[0] || now == contents[1]) << now.size() << " bytes";
            }
        });
    }
    for (std::thread& writer : writers) {
        writer.join();
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.Path()), {}), 1);
}

TEST(AtomicFileTest, TheFileHasThePermissionsAskedForLessTheUmaskAndAFailureLeavesNothing) {
    const test::TempDir folder;
    const mode_t umask = ::umask(022);
    std::string error;
    for (const mode_t mode : {0600, 0644, 0640}) {
        ASSERT_TRUE(
            platform::WriteFileAtomically((folder.Path() / "file").string(), "x", mode, error));
        EXPECT_EQ(fs::status(folder.Path() / "file").permissions(),
                  static_cast<fs::perms>(mode & ~022u));
    }
    // A folder that is not empty under the name: the rename fails, and the temporary goes.
    fs::create_directories(folder.Path() / "taken" / "inside");
    EXPECT_FALSE(
        platform::WriteFileAtomically((folder.Path() / "taken").string(), "x", 0600, error));
    ::umask(umask);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.Path()), {}), 2);
}

}  // namespace
