// The trash: the folders it makes where they are missing, a trash already there, names taken in
// it, a file on another file system (its top directory's trash, or a copy in the home trash),
// the record beside each file, the question where no trash can be had, and the names it gives.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <optional>
#include <string>

#include "platform/CTrash.h"
#include "tests/support/Capture.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using platform::CTrash;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Sets an environment variable, or takes it away for none, for as long as it lives.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const std::optional<std::string>& value) : m_name(name) {
        if (const char* previous = std::getenv(name)) {
            m_previous = previous;
        }
        Set(value);
    }
    ~ScopedVariable() { Set(m_previous); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    void Set(const std::optional<std::string>& value) {
        if (value) {
            ::setenv(m_name, value->c_str(), 1);
        } else {
            ::unsetenv(m_name);
        }
    }
    const char* m_name;
    std::optional<std::string> m_previous;
};

dev_t Device(const fs::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_dev : 0;
}

int Permissions(const fs::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<int>(info.st_mode & 07777) : -1;
}

// A fresh folder under /dev/shm, removed with what it holds; none (an empty path) when /dev/shm
// is not on a file system of its own beside the system's temporary folder.
class ShmDir {
public:
    ShmDir() {
        if (Device("/dev/shm") == 0 || Device("/dev/shm") == Device(fs::temp_directory_path())) {
            return;
        }
        std::string pattern = "/dev/shm/zarvo-test-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) {
            m_path = pattern;
        }
    }
    ~ShmDir() {
        std::error_code error;
        fs::remove_all(m_path, error);
    }
    ShmDir(const ShmDir&) = delete;
    ShmDir& operator=(const ShmDir&) = delete;
    const fs::path& Path() const { return m_path; }

private:
    fs::path m_path;
};

void MakePrivateFolders(const fs::path& trash) {
    for (const fs::path& folder : {trash, trash / "files", trash / "info"}) {
        fs::create_directories(folder);
        fs::permissions(folder, fs::perms::owner_all);
    }
}

const std::string UID = std::to_string(::getuid());

// The Path of a record, or "(not a record)" when it is not one with a deletion date
// (YYYY-MM-DDThh:mm:ss).
std::string RecordedPath(const std::string& text) {
    const std::string head = "[Trash Info]\nPath=";
    const std::size_t date = text.find("\nDeletionDate=");
    const std::string pattern = "dddd-dd-ddTdd:dd:dd\n";
    bool dated = text.compare(0, head.size(), head) == 0 && date != std::string::npos &&
                 text.size() == date + 14 + pattern.size();
    for (std::size_t i = 0; dated && i < pattern.size(); ++i) {
        const char c = text[date + 14 + i];
        dated =
            pattern[i] == 'd' ? std::isdigit(static_cast<unsigned char>(c)) != 0 : c == pattern[i];
    }
    return dated ? text.substr(head.size(), date - head.size()) : "(not a record)";
}

TEST(TrashTest, MovesEachFileToTheTrashItsFileSystemAllowsOrAsksWhereThereIsNone) {
    enum class Place { Home, OtherFileSystem };
    // Paths begin with {root} (the test's folder, also the current one) or {top} (the folder on
    // /dev/shm that stands in for its file system's top directory).
    const struct {
        const char* what;
        const char* dataHome;  // XDG_DATA_HOME, or none
        const char* home;      // HOME, or none
        Place place;
        const char* name;  // the file's, in {root or top}/pics/
        std::function<void(const fs::path& root, const fs::path& top)> prepare;
        bool answer;
        CTrash::Deletion expected;
        const char* trashed;   // where the file lands, or none
        const char* recorded;  // the record's Path
    } cases[] = {
        {"the data home's folders missing", "{root}/a/b/data", "{root}", Place::Home,
         "my cat 100%.jpg", nullptr, false, CTrash::Deletion::Trashed,
         "{root}/a/b/data/Trash/files/my cat 100%.jpg", "{root}/pics/my%20cat%20100%25.jpg"},
        {"no XDG_DATA_HOME: the home's .local/share, made", nullptr, "{root}/home", Place::Home,
         "cat.jpg",
         [](const fs::path& root, const fs::path&) { fs::create_directory(root / "home"); }, false,
         CTrash::Deletion::Trashed, "{root}/home/.local/share/Trash/files/cat.jpg",
         "{root}/pics/cat.jpg"},
        {"a relative XDG_DATA_HOME counts for nothing", "data", "{root}/home", Place::Home,
         "cat.jpg",
         [](const fs::path& root, const fs::path&) { fs::create_directory(root / "home"); }, false,
         CTrash::Deletion::Trashed, "{root}/home/.local/share/Trash/files/cat.jpg",
         "{root}/pics/cat.jpg"},
        {"a trash already there", "{root}/data", nullptr, Place::Home, "cat.jpg",
         [](const fs::path& root, const fs::path&) {
             MakePrivateFolders(root / "data" / "Trash");
             test::WriteFile(root / "data/Trash/files/dog.jpg", "dog");
             test::WriteFile(root / "data/Trash/info/dog.jpg.trashinfo", "[Trash Info]\n");
         },
         false, CTrash::Deletion::Trashed, "{root}/data/Trash/files/cat.jpg",
         "{root}/pics/cat.jpg"},
        // The name with its record, and the next one as a file without a record: neither is
        // replaced.
        {"a name taken in the trash", "{root}/data", nullptr, Place::Home, "cat.jpg",
         [](const fs::path& root, const fs::path&) {
             MakePrivateFolders(root / "data" / "Trash");
             test::WriteFile(root / "data/Trash/files/cat.jpg", "older cat");
             test::WriteFile(root / "data/Trash/info/cat.jpg.trashinfo", "[Trash Info]\n");
             test::WriteFile(root / "data/Trash/files/cat (2).jpg", "left over");
         },
         false, CTrash::Deletion::Trashed, "{root}/data/Trash/files/cat (3).jpg",
         "{root}/pics/cat.jpg"},
        {"another file system: the trash under its top directory", "{root}/data", nullptr,
         Place::OtherFileSystem, "cat.jpg", nullptr, false, CTrash::Deletion::Trashed,
         "{top}/.Trash-{uid}/files/cat.jpg", "pics/cat.jpg"},
        {"another file system: its shared .Trash with the sticky bit", "{root}/data", nullptr,
         Place::OtherFileSystem, "cat.jpg",
         [](const fs::path&, const fs::path& top) {
             fs::create_directory(top / ".Trash");
             fs::permissions(top / ".Trash", fs::perms::all | fs::perms::sticky_bit);
         },
         false, CTrash::Deletion::Trashed, "{top}/.Trash/{uid}/files/cat.jpg", "pics/cat.jpg"},
        // A file where the trash should be: it is no trash, and nothing is put in it.
        {"another file system without a trash: a copy in the home trash", "{root}/data", nullptr,
         Place::OtherFileSystem, "cat.jpg",
         [](const fs::path&, const fs::path& top) {
             test::WriteFile(top / (".Trash-" + UID), "not a folder");
         },
         false, CTrash::Deletion::Trashed, "{root}/data/Trash/files/cat.jpg", "{top}/pics/cat.jpg"},
        {"the data home under a file: asked, deleted", "{root}/file/data", "{root}", Place::Home,
         "cat.jpg",
         [](const fs::path& root, const fs::path&) { test::WriteFile(root / "file", "a file"); },
         true, CTrash::Deletion::Deleted, nullptr, nullptr},
        {"no data home and no home: asked, kept", nullptr, nullptr, Place::Home, "cat.jpg", nullptr,
         false, CTrash::Deletion::Kept, nullptr, nullptr},
        {"a home that is not there is not made: asked, kept", nullptr, "{root}/gone", Place::Home,
         "cat.jpg", nullptr, false, CTrash::Deletion::Kept, nullptr, nullptr},
        {"a file already gone", "{root}/data", nullptr, Place::Home, "cat.jpg",
         [](const fs::path& root, const fs::path&) { fs::remove(root / "pics/cat.jpg"); }, false,
         CTrash::Deletion::Failed, nullptr, nullptr},
    };
    const bool sharedTrashBefore = fs::exists("/dev/shm/.Trash-" + UID);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const test::TempDir root(true);
        const ShmDir shm;
        if (c.place == Place::OtherFileSystem && shm.Path().empty()) {
            std::cout << "skipped (no /dev/shm on a file system of its own): " << c.what << "\n";
            continue;
        }
        const fs::path top = shm.Path();
        const auto expand = [&](std::string text) {
            for (const auto& [token, value] :
                 {std::pair<std::string, std::string>{"{root}", root.Path().string()},
                  {"{top}", top.string()},
                  {"{uid}", UID}}) {
                for (std::size_t at; (at = text.find(token)) != std::string::npos;) {
                    text.replace(at, token.size(), value);
                }
            }
            return text;
        };
        const auto variable = [&](const char* value) {
            return value != nullptr ? std::optional(expand(value)) : std::nullopt;
        };
        const ScopedVariable dataHome("XDG_DATA_HOME", variable(c.dataHome));
        const ScopedVariable home("HOME", variable(c.home));
        const fs::path file = (c.place == Place::Home ? root.Path() : top) / "pics" / c.name;
        fs::create_directories(file.parent_path());
        test::WriteFile(file, "picture");
        fs::permissions(file,
                        fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
        if (c.prepare) {
            c.prepare(root.Path(), top);
        }
        test::ErrorBoxRecorder boxes;
        boxes.AnswerQuestions(c.answer);

        const CTrash::Deletion outcome =
            CTrash([&top](const std::string&) { return top.string(); }).Delete(file.string());

        EXPECT_EQ(outcome, c.expected);
        const bool asked =
            c.expected == CTrash::Deletion::Deleted || c.expected == CTrash::Deletion::Kept;
        if (asked) {
            EXPECT_THAT(boxes.Texts(), ElementsAre(std::string("? ") + CTrash::NO_TRASH_QUESTION));
        } else {
            EXPECT_THAT(boxes.Texts(), IsEmpty());
        }
        EXPECT_EQ(fs::exists(file), c.expected == CTrash::Deletion::Kept);
        if (c.trashed != nullptr) {
            const fs::path trashed = expand(c.trashed);
            EXPECT_EQ(test::ReadFile(trashed), "picture");
            EXPECT_EQ(Permissions(trashed), 0640);
            const fs::path trash = trashed.parent_path().parent_path();
            const std::string text =
                test::ReadFile(trash / "info" / (trashed.filename().string() + ".trashinfo"));
            EXPECT_EQ(RecordedPath(text), expand(c.recorded)) << text;
            for (const fs::path& folder : {trash, trash / "files", trash / "info"}) {
                EXPECT_EQ(Permissions(folder), 0700) << folder;
                for (const auto& entry : fs::directory_iterator(folder)) {
                    EXPECT_FALSE(entry.path().filename().string().starts_with(".zarvo-"))
                        << entry.path();
                }
            }
            // Every record is a file's: none is left for a name that was passed over.
            for (const auto& entry : fs::directory_iterator(trash / "info")) {
                EXPECT_TRUE(fs::exists(trash / "files" / entry.path().stem())) << entry.path();
            }
        }
        // What the trash held is kept.
        for (const auto& [name, content] :
             {std::pair("dog.jpg", "dog"), std::pair("cat.jpg", "older cat"),
              std::pair("cat (2).jpg", "left over")}) {
            const fs::path before = root.Path() / "data/Trash/files" / name;
            if (fs::exists(before) && (c.trashed == nullptr || expand(c.trashed) != before)) {
                EXPECT_EQ(test::ReadFile(before), content) << name;
            }
        }
        // No trash folders anywhere else: not in the current folder, not in the home when the
        // data home says otherwise, not on the other file system unless its trash was used.
        for (const char* stray : {"files", "info", "Trash", ".local", "gone"}) {
            EXPECT_FALSE(fs::exists(root.Path() / stray)) << stray;
        }
        if (c.trashed == nullptr || std::string(c.trashed).find("{top}") == std::string::npos) {
            EXPECT_FALSE(fs::exists(top / (".Trash-" + UID)) &&
                         fs::is_directory(top / (".Trash-" + UID)));
        }
    }
    EXPECT_EQ(fs::exists("/dev/shm/.Trash-" + UID), sharedTrashBefore);
}

TEST(TrashTest, NamesFitTheTrashAndRecordsEncodeThePath) {
    const std::string e = "\xC3\xA9";  // two bytes of UTF-8
    std::string accents;
    for (int i = 0; i < 150; ++i) {
        accents += e;
    }
    std::string kept;  // 118 whole characters: 236 bytes and " (2).png" stay within 245
    for (int i = 0; i < 118; ++i) {
        kept += e;
    }
    const struct {
        std::string name;
        unsigned number;
        std::string expected;
    } cases[] = {
        {"cat.jpg", 1, "cat.jpg"},
        {"cat.jpg", 2, "cat (2).jpg"},
        {"archive.tar.gz", 12, "archive.tar (12).gz"},
        {"README", 3, "README (3)"},
        {".hidden", 2, ".hidden (2)"},
        {std::string(300, 'a') + ".jpg", 1, std::string(241, 'a') + ".jpg"},
        {accents + ".png", 2, kept + " (2).png"},
        {"x." + std::string(100, 'b'), 2, ("x." + std::string(100, 'b')) + " (2)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CTrash::TrashName(c.name, c.number), c.expected) << c.name;
    }
    const std::string text = CTrash::InfoText("/x/a b#?\xC3\xA9+(1)'.jpg", 0);
    EXPECT_EQ(text.substr(0, text.find("DeletionDate=")),
              "[Trash Info]\nPath=/x/a%20b%23%3F%C3%A9%2B%281%29%27.jpg\n");

    // The top directory is the mount point above the file.
    const ShmDir shm;
    if (!shm.Path().empty() && Device("/dev") != Device("/dev/shm")) {
        fs::create_directory(shm.Path() / "a");
        test::WriteFile(shm.Path() / "a/b.jpg", "picture");
        EXPECT_EQ(CTrash::MountPointOf((shm.Path() / "a/b.jpg").string()), "/dev/shm");
    }
}

}  // namespace
