#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "config/ConfigFile.h"
#include "tests/config/CFakeConfigView.h"
#include "tests/support/Capture.h"
#include "tests/support/TempDir.h"

namespace {

using Names = std::vector<std::string>;
namespace fs = std::filesystem;

const std::string SEPARATOR(CONFIG_SEPARATOR);
// The name the writer gives its new file before renaming it onto zarvo.cfg.
const char* const TEMP_NAME = "zarvo.cfg.tmp";
const std::string OLD_CONTENT = "old.example.com\nalt.old\n" + SEPARATOR + "\nalt.cached\n";

class ConfigFileWriteTest : public ::testing::Test {
protected:
    // The folder's entries by name, to show that nothing but zarvo.cfg is left.
    static Names Entries() {
        Names names;
        for (const fs::directory_entry& entry : fs::directory_iterator(".")) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }

    // Makes the writer's temporary file a link to /dev/full, where every write fails with
    // "no space left", as on a full disk.
    static bool FillDisk() {
        if (!fs::exists("/dev/full")) {
            return false;
        }
        fs::create_symlink("/dev/full", TEMP_NAME);
        return true;
    }

    test::TempDir m_dir{true};
    test::ErrorBoxRecorder m_boxes;
};

TEST_F(ConfigFileWriteTest, RoundTripKeepsLongNamesWhole) {
    // Names longer than 99 characters are written whole (up to 511 characters they also read
    // back whole).
    const std::string long300 = "alt." + std::string(296, 'n');
    const Names selected{"alt.a", long300, ""};
    const Names available{"alt.a", "alt.b", long300, "comp.lang.c++"};
    test::WriteFile(CONFIG_FILE_NAME, OLD_CONTENT);
    // A run that died while saving may have left its temporary file behind.
    test::WriteFile(TEMP_NAME, std::string(10000, 'g'));
    WriteConfigFile("news.example.com", selected, available);
    EXPECT_TRUE(m_boxes.Texts().empty());
    EXPECT_EQ(test::ReadFile(CONFIG_FILE_NAME), "news.example.com\nalt.a\n" + long300 + "\n\n" +
                                                    SEPARATOR + "\nalt.a\nalt.b\n" + long300 +
                                                    "\ncomp.lang.c++\n");
    EXPECT_EQ(Entries(), (Names{"zarvo.cfg"}));

    test::CFakeConfigView view;
    LoadConfigFile(view);
    EXPECT_EQ(view.server, "news.example.com");
    EXPECT_EQ(view.selected, selected);
    EXPECT_EQ(view.available, available);
    Names groups;
    std::string server;
    EXPECT_TRUE(ReadConfigFile(CONFIG_FILE_NAME, groups, server));
    EXPECT_EQ(server, "news.example.com");
    EXPECT_EQ(groups, selected);
}

TEST_F(ConfigFileWriteTest, NoSelectedGroupsIsSaidAndWrittenAllTheSame) {
    WriteConfigFile("host", {}, {"alt.b"});
    EXPECT_EQ(m_boxes.Texts(), (Names{"No Newsgroups selected"}));
    EXPECT_EQ(test::ReadFile(CONFIG_FILE_NAME), "host\n" + SEPARATOR + "\nalt.b\n");

    WriteConfigFile("host", {}, {});
    EXPECT_EQ(test::ReadFile(CONFIG_FILE_NAME), "host\n" + SEPARATOR + "\n");
    Names groups{"stale"};
    std::string server;
    EXPECT_TRUE(ReadConfigFile(CONFIG_FILE_NAME, groups, server));
    EXPECT_EQ(server, "host");
    EXPECT_TRUE(groups.empty());
}

TEST_F(ConfigFileWriteTest, UncreatableFileLeavesTheOldOne) {
    test::WriteFile(CONFIG_FILE_NAME, OLD_CONTENT);
    fs::create_directory(TEMP_NAME);
    WriteConfigFile("host", {}, {"alt.b"});
    // Nothing is written, so nothing is said about the empty selection either.
    EXPECT_EQ(m_boxes.Texts(), (Names{"Couldn't create the configuration file"}));
    EXPECT_EQ(test::ReadFile(CONFIG_FILE_NAME), OLD_CONTENT);
}

TEST_F(ConfigFileWriteTest, FailedWritesLeaveTheOldFile) {
    if (!FillDisk()) {
        GTEST_SKIP() << "no /dev/full";
    }
    test::WriteFile(CONFIG_FILE_NAME, OLD_CONTENT);
    // A small file fails only when its buffer reaches the disk at the end; that is a failed
    // write all the same, not a saved configuration.
    WriteConfigFile("host", {"alt.a"}, {"alt.b"});
    // Renamed onto zarvo.cfg, the link would make it endless: stop before reading it.
    ASSERT_FALSE(fs::is_symlink(CONFIG_FILE_NAME));
    EXPECT_EQ(m_boxes.Texts(), (Names{"fputs failed"}));
    EXPECT_EQ(test::ReadFile(CONFIG_FILE_NAME), OLD_CONTENT);
    EXPECT_EQ(Entries(), (Names{"zarvo.cfg"}));

    // A whole server list fails along the way, once for each write that fails.
    ASSERT_TRUE(FillDisk());
    Names available;
    for (int i = 0; i < 20000; ++i) {
        available.push_back("alt.binaries.pictures.group" + std::to_string(i));
    }
    WriteConfigFile("host", {"alt.a"}, available);
    ASSERT_FALSE(fs::is_symlink(CONFIG_FILE_NAME));
    const Names texts = m_boxes.Texts();
    EXPECT_GT(texts.size(), 2u);
    EXPECT_LT(texts.size(), available.size());
    for (const std::string& text : texts) {
        EXPECT_EQ(text, "fputs failed");
    }
    EXPECT_EQ(test::ReadFile(CONFIG_FILE_NAME), OLD_CONTENT);
    EXPECT_EQ(Entries(), (Names{"zarvo.cfg"}));
}

}  // namespace
