#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "config/ConfigFile.h"
#include "tests/config/CFakeConfigView.h"
#include "tests/support/Capture.h"
#include "tests/support/TempDir.h"

namespace {

using Names = std::vector<std::string>;
using test::CFakeConfigView;

const std::string SEP(CONFIG_SEPARATOR);

// Each test works in a fresh current directory and records the error boxes.
class ConfigFileReadTest : public ::testing::Test {
protected:
    // Writes the file (unless there is no content) and loads it into a fresh fake dialog.
    static CFakeConfigView Load(const std::optional<std::string>& content,
                                const Names& refuse = {}) {
        if (content) {
            test::WriteFile(CONFIG_FILE_NAME, *content);
        }
        CFakeConfigView view;
        view.refuse = refuse;
        LoadConfigFile(view);
        return view;
    }

    // What the fetch worker gets; the server starts as "unset" to show whether it was replaced.
    bool Read() {
        m_groups = {"stale"};
        m_server = "unset";
        return ReadConfigFile(CONFIG_FILE_NAME, m_groups, m_server);
    }

    test::TempDir m_dir{true};
    test::ErrorBoxRecorder m_boxes;
    Names m_groups;
    std::string m_server;
};

TEST_F(ConfigFileReadTest, MissingEmptyOrUnreadableFile) {
    // No file yet is the normal first opening: no box, no wait cursor, nothing filled.
    EXPECT_EQ(Load(std::nullopt).cursor, "");
    EXPECT_FALSE(Read());
    EXPECT_EQ(m_server, "unset");
    EXPECT_TRUE(m_groups.empty());
    EXPECT_FALSE(ReadConfigFile(nullptr, m_groups, m_server));

    CFakeConfigView view = Load("");
    EXPECT_EQ(view.cursor, "begin;end;");
    EXPECT_EQ(view.server, "unset");
    EXPECT_TRUE(Read());
    EXPECT_EQ(m_server, "");
    EXPECT_TRUE(m_groups.empty());

    // A folder of that name opens on this platform but cannot be read: no configuration either.
    std::filesystem::remove(CONFIG_FILE_NAME);
    std::filesystem::create_directory(CONFIG_FILE_NAME);
    EXPECT_FALSE(Read());
    EXPECT_EQ(m_server, "unset");
    EXPECT_TRUE(m_groups.empty());
    EXPECT_EQ(m_boxes.Texts(), (Names{"Couldn't open file 'zarvo.cfg'", "configFileName is NULL",
                                      "Couldn't open file 'zarvo.cfg'"}));
}

TEST_F(ConfigFileReadTest, UnreadableFileIsKeptUnderAFreeBadName) {
    // An older kept file is never replaced: the next free name is taken.
    test::WriteFile("zarvo.cfg.bad", "older");
    for (const std::string kept : {"zarvo.cfg.bad.2", "zarvo.cfg.bad.3"}) {
        std::filesystem::create_directory(CONFIG_FILE_NAME);
        std::filesystem::create_directory(std::filesystem::path(CONFIG_FILE_NAME) / "inside");
        EXPECT_EQ(Load(std::nullopt).server, "unset");
        EXPECT_FALSE(std::filesystem::exists(CONFIG_FILE_NAME));
        EXPECT_TRUE(std::filesystem::is_directory(kept + "/inside"));
    }
    EXPECT_EQ(test::ReadFile("zarvo.cfg.bad"), "older");
    const std::string text =
        "zarvo.cfg could not be read (Is a directory). It was kept as zarvo.cfg.bad.%; set the "
        "configuration up again and press Done to save a new one.";
    Names expected;
    for (const char number : {'2', '3'}) {
        expected.push_back(text);
        expected.back()[expected.back().find('%')] = number;
    }
    EXPECT_EQ(m_boxes.Texts(), expected);
}

TEST_F(ConfigFileReadTest, SectionsAroundNoneOneOrTwoSeparators) {
    // Without a separator every line after the first is a selected group.
    CFakeConfigView view = Load("news.example.com\nalt.a\nalt.b\n");
    EXPECT_EQ(view.server, "news.example.com");
    EXPECT_EQ(view.selected, (Names{"alt.a", "alt.b"}));
    EXPECT_TRUE(view.available.empty());
    EXPECT_TRUE(Read());
    EXPECT_EQ(m_server, "news.example.com");
    EXPECT_EQ(m_groups, (Names{"alt.a", "alt.b"}));

    // A second separator is dropped too; the worker stops at the first.
    view = Load("host\nalt.a\n" + SEP + "\nalt.b\n" + SEP + "\nalt.c\n");
    EXPECT_EQ(view.selected, (Names{"alt.a"}));
    EXPECT_EQ(view.available, (Names{"alt.b", "alt.c"}));
    EXPECT_TRUE(Read());
    EXPECT_EQ(m_groups, (Names{"alt.a"}));

    // The first line is the server whatever it holds; only exact copies of the separator count;
    // an empty line is an empty name.
    const std::string lower = "------------ separator (DON'T REMOVE)----------------";
    view = Load(SEP + "\n\n" + SEP + " \n" + lower + "\n" + SEP + "\n\n");
    EXPECT_EQ(view.server, SEP);
    EXPECT_EQ(view.selected, (Names{"", SEP + " ", lower}));
    EXPECT_EQ(view.available, (Names{""}));
    EXPECT_TRUE(Read());
    EXPECT_EQ(m_server, SEP);
    EXPECT_EQ(m_groups, view.selected);
    EXPECT_TRUE(m_boxes.Texts().empty());
}

TEST_F(ConfigFileReadTest, LineEndsAndLongLines) {
    for (const std::string end : {"\n", "\r\n", "\r\r\n"}) {
        SCOPED_TRACE(testing::PrintToString(end));
        CFakeConfigView view = Load("host" + end + "alt.a" + end + SEP + end + "alt.b" + end);
        EXPECT_EQ(view.server, "host");
        EXPECT_EQ(view.selected, (Names{"alt.a"}));
        EXPECT_EQ(view.available, (Names{"alt.b"}));
        EXPECT_TRUE(Read());
        EXPECT_EQ(m_server, "host");
        EXPECT_EQ(m_groups, (Names{"alt.a"}));
    }
    // Lines end at a line feed; a CR is cut only where a line ends: before its LF, at the end of
    // the file. A line holding only a terminator is an empty name; the last line needs none.
    CFakeConfigView view = Load("host\r\n\r\nalt.a\ralt.b\n" + SEP + "\nalt.c\r");
    EXPECT_EQ(view.selected, (Names{"", "alt.a\ralt.b"}));
    EXPECT_EQ(view.available, (Names{"alt.c"}));

    // Lines are read in pieces of at most 511 characters. 510 characters and their line end fit
    // one piece, CR LF included (it counts as one character, as on Windows); 511 leave the line
    // end to a piece of its own, an empty line.
    const std::string x600(600, 'x'), y510(510, 'y'), z511(511, 'z');
    for (const std::string end : {"\n", "\r\n"}) {
        SCOPED_TRACE(testing::PrintToString(end));
        view = Load("host" + end + x600 + end + y510 + end + z511 + end + SEP + end);
        const Names expected{x600.substr(0, 511), x600.substr(511), y510, z511, ""};
        EXPECT_EQ(view.selected, expected);
        EXPECT_TRUE(Read());
        EXPECT_EQ(m_groups, expected);
    }
}

TEST_F(ConfigFileReadTest, RefusedLinesAreSkippedNamedAndTheFileKept) {
    const std::string reason =
        "skipped: a newsgroup name cannot hold a TAB or another control character. The rest of "
        "the file was read; Done saves the configuration without th";
    const std::string x520(520, 'x');
    const struct {
        const char* what;
        std::string content;
        Names refuse;
        Names selected;
        Names available;
        std::string box;
    } cases[] = {
        {"a TAB in Selected",
         "host\nalt.a\nalt\tbad\nalt.c\n" + SEP + "\nalt.d\n",
         {"alt\tbad"},
         {"alt.a", "alt.c"},
         {"alt.d"},
         "Line 3 of zarvo.cfg was " + reason + "at line."},
        {"a stray CR in Available, CR LF line ends",
         "host\r\nalt.a\r\n" + SEP + "\r\nalt\rb\r\nalt.c\r\nalt.e\x7f\r\n",
         {"alt\rb", "alt.e\x7f"},
         {"alt.a"},
         {"alt.c"},
         "Lines 4 and 6 of zarvo.cfg were " + reason + "ose lines."},
        {"more lines than are listed",
         "host\n\x01\n\x02\na\n\x03\n\x04\n\x05\n",
         {"\x01", "\x02", "\x03", "\x04", "\x05"},
         {"a"},
         {},
         "Lines 2, 3, 5 and 2 more of zarvo.cfg were " + reason + "ose lines."},
        // The pieces of a long line carry its line number, and count once.
        {"pieces of long lines",
         "host\n\x01" + x520 + "\x01\nalt.a\n" + x520 + "\x02\n",
         {"\x01" + x520.substr(0, 510), x520.substr(510) + "\x01", x520.substr(511) + "\x02"},
         {"alt.a", x520.substr(0, 511)},
         {},
         "Lines 2 and 4 of zarvo.cfg were " + reason + "ose lines."},
        {"a refusal for another reason",
         "host\nalt.bad\n",
         {"alt.bad"},
         {},
         {},
         "Line 2 of zarvo.cfg was skipped: the configuration dialog's lists did not take it. The "
         "rest of the file was read; Done saves the configuration without that line."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::ErrorBoxRecorder boxes;
        const CFakeConfigView view = Load(c.content, c.refuse);
        EXPECT_EQ(view.server, "host");
        EXPECT_EQ(view.selected, c.selected);
        EXPECT_EQ(view.available, c.available);
        EXPECT_EQ(view.cursor, "begin;end;");
        EXPECT_EQ(boxes.Texts(), Names{c.box});
        EXPECT_EQ(test::ReadFile(CONFIG_FILE_NAME), c.content);
    }
}

TEST_F(ConfigFileReadTest, WholeServerListWithCrLfAcrossReadBlocks) {
    // Some 3 MB: line ends fall on every position of the stream's read blocks.
    std::string content = "host\r\nalt.chosen\r\n" + SEP + "\r\n";
    Names names;
    for (int i = 0; i < 100000; ++i) {
        names.push_back("alt.binaries.group" + std::to_string(i));
        content += names.back() + "\r\n";
    }
    EXPECT_EQ(Load(content).available, names);
    EXPECT_TRUE(Read());
    EXPECT_EQ(m_groups, (Names{"alt.chosen"}));
}

}  // namespace
