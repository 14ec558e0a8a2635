// The trash: the folders it makes where they are missing, a trash already there, names taken in
// it, a file on another file system (its top directory's trash, or a copy in the home trash),
// the record beside each file, the question where no trash can be had, and the names it gives.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <string>

#include "platform/CTrash.h"
#include "tests/support/Capture.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using platform::CTrash;
using Deletion = CTrash::Deletion;

const std::string UID = std::to_string(::getuid());

std::optional<std::string> Variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

void SetVariable(const char* name, const char* value) {
    if (value != nullptr) {
        ::setenv(name, value, 1);
    } else {
        ::unsetenv(name);
    }
}

int Permissions(const fs::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<int>(info.st_mode & 07777) : -1;
}

// A fresh folder on /dev/shm, removed with what it holds, where that is another file system
// than the temporary folder's; otherwise an empty path.
struct ShmDir {
    ShmDir() {
        struct stat shm {};
        struct stat temporary {};
        std::string pattern = "/dev/shm/zarvo-test-XXXXXX";
        if (::stat("/dev/shm", &shm) == 0 &&
            ::stat(fs::temp_directory_path().c_str(), &temporary) == 0 &&
            shm.st_dev != temporary.st_dev && ::mkdtemp(pattern.data()) != nullptr) {
            path = pattern;
        }
    }
    ~ShmDir() {
        std::error_code error;
        fs::remove_all(path, error);
    }
    fs::path path;
};

// The Path of a record that has a deletion date (YYYY-MM-DDThh:mm:ss), or "(no record)".
std::string RecordedPath(const std::string& text) {
    const std::size_t date = text.find("\nDeletionDate=");
    const bool dated = text.starts_with("[Trash Info]\nPath=") && date != std::string::npos &&
                       text.size() == date + 14 + 20 && text[date + 14 + 10] == 'T';
    return dated ? text.substr(18, date - 18) : "(no record)";
}

std::map<fs::path, std::string> FilesUnder(const fs::path& folder) {
    std::map<fs::path, std::string> files;
    std::error_code error;
    for (auto entry = fs::recursive_directory_iterator(folder, error);
         entry != fs::recursive_directory_iterator(); ++entry) {
        if (entry->is_regular_file()) {
            files[entry->path()] = test::ReadFile(entry->path());
        }
    }
    return files;
}

TEST(TrashTest, MovesEachFileToTheTrashItsFileSystemAllowsOrAsksWhereThereIsNone) {
    // Paths begin with {root} (the test's folder, also the current one, where {root}/home is a
    // home) or {top} (a folder on /dev/shm that stands in for its file system's top).
    const auto trashIn = [](const char* trash) {
        return [trash](const fs::path& root, const fs::path&) {
            for (const char* folder : {"", "/files", "/info"}) {
                fs::create_directories(root / (trash + std::string(folder)));
                fs::permissions(root / (trash + std::string(folder)), fs::perms::owner_all);
            }
            test::WriteFile(root / trash / "files/cat.jpg", "older cat");
            test::WriteFile(root / trash / "info/cat.jpg.trashinfo", "[Trash Info]\n");
        };
    };
    const struct {
        const char* what;
        const char* dataHome;  // XDG_DATA_HOME, or none
        const char* home;      // HOME, or none
        const char* file;
        std::function<void(const fs::path& root, const fs::path& top)> prepare;
        bool answer;
        Deletion expected;
        const char* trashed;   // where the file lands, or none
        const char* recorded;  // its record's Path
    } cases[] = {
        {"the data home's folders missing", "{root}/a/b/data", nullptr, "{root}/pics/my cat 1%.jpg",
         nullptr, false, Deletion::Trashed, "{root}/a/b/data/Trash/files/my cat 1%.jpg",
         "{root}/pics/my%20cat%201%25.jpg"},
        {"no XDG_DATA_HOME: the home's .local/share, made", nullptr, "{root}/home",
         "{root}/pics/cat.jpg", nullptr, false, Deletion::Trashed,
         "{root}/home/.local/share/Trash/files/cat.jpg", "{root}/pics/cat.jpg"},
        {"a relative XDG_DATA_HOME counts for nothing", "data", "{root}/home",
         "{root}/pics/cat.jpg", nullptr, false, Deletion::Trashed,
         "{root}/home/.local/share/Trash/files/cat.jpg", "{root}/pics/cat.jpg"},
        // Its record is not replaced, nor a file that lies there without one.
        {"a trash already there, the name taken", "{root}/data", nullptr, "{root}/pics/cat.jpg",
         [&](const fs::path& root, const fs::path& top) {
             trashIn("data/Trash")(root, top);
             test::WriteFile(root / "data/Trash/files/cat (2).jpg", "left over");
         },
         false, Deletion::Trashed, "{root}/data/Trash/files/cat (3).jpg", "{root}/pics/cat.jpg"},
        {"another file system: the trash at its top", "{root}/data", nullptr, "{top}/pics/cat.jpg",
         nullptr, false, Deletion::Trashed, "{top}/.Trash-{uid}/files/cat.jpg", "pics/cat.jpg"},
        {"another file system: its shared .Trash with the sticky bit", "{root}/data", nullptr,
         "{top}/pics/cat.jpg",
         [](const fs::path&, const fs::path& top) {
             fs::create_directory(top / ".Trash");
             fs::permissions(top / ".Trash", fs::perms::all | fs::perms::sticky_bit);
         },
         false, Deletion::Trashed, "{top}/.Trash/{uid}/files/cat.jpg", "pics/cat.jpg"},
        // A file where its trash would be: that is no trash, and is left alone.
        {"another file system without a trash: a copy in the home trash", "{root}/data", nullptr,
         "{top}/pics/cat.jpg",
         [](const fs::path&, const fs::path& top) {
             test::WriteFile(top / (".Trash-" + UID), "not a folder");
         },
         false, Deletion::Trashed, "{root}/data/Trash/files/cat.jpg", "{top}/pics/cat.jpg"},
        {"the data home under a file: asked, deleted", "{root}/file/data", nullptr,
         "{root}/pics/cat.jpg",
         [](const fs::path& root, const fs::path&) { test::WriteFile(root / "file", "a file"); },
         true, Deletion::Deleted, nullptr, nullptr},
        {"no data home and no home: asked, kept", nullptr, nullptr, "{root}/pics/cat.jpg", nullptr,
         false, Deletion::Kept, nullptr, nullptr},
        {"a home that is not there is not made: asked, kept", nullptr, "{root}/gone",
         "{root}/pics/cat.jpg", nullptr, false, Deletion::Kept, nullptr, nullptr},
        {"a file already gone", "{root}/data", nullptr, "{root}/pics/cat.jpg",
         [](const fs::path& root, const fs::path&) { fs::remove(root / "pics/cat.jpg"); }, false,
         Deletion::Failed, nullptr, nullptr},
    };
    const std::optional<std::string> dataHomeBefore = Variable("XDG_DATA_HOME");
    const std::optional<std::string> homeBefore = Variable("HOME");
    const bool sharedTrashBefore = fs::exists("/dev/shm/.Trash-" + UID);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const test::TempDir root(true);
        const ShmDir shm;
        const auto expand = [&](std::string text) {
            for (const auto& [token, value] :
                 {std::pair<std::string, std::string>{"{root}", root.Path().string()},
                  {"{top}", shm.path.string()},
                  {"{uid}", UID}}) {
                for (std::size_t at; (at = text.find(token)) != std::string::npos;) {
                    text.replace(at, token.size(), value);
                }
            }
            return text;
        };
        const fs::path file = expand(c.file);
        if (std::string(c.file).starts_with("{top}") && shm.path.empty()) {
            std::cout << "skipped (no /dev/shm on a file system of its own): " << c.what << "\n";
            continue;
        }
        SetVariable("XDG_DATA_HOME", c.dataHome != nullptr ? expand(c.dataHome).c_str() : nullptr);
        SetVariable("HOME", c.home != nullptr ? expand(c.home).c_str() : nullptr);
        fs::create_directories(root.Path() / "home");
        fs::create_directories(file.parent_path());
        test::WriteFile(file, "picture");
        fs::permissions(file,
                        fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
        if (c.prepare) {
            c.prepare(root.Path(), shm.path);
        }
        const auto before = FilesUnder(root.Path() / "data");
        test::ErrorBoxRecorder boxes;
        boxes.AnswerQuestions(c.answer);

        EXPECT_EQ(
            CTrash([&shm](const std::string&) { return shm.path.string(); }).Delete(file.string()),
            c.expected);

        const bool asked = c.expected == Deletion::Deleted || c.expected == Deletion::Kept;
        EXPECT_EQ(boxes.Texts(),
                  asked ? std::vector<std::string>{std::string("? ") + CTrash::NO_TRASH_QUESTION}
                        : std::vector<std::string>{});
        EXPECT_EQ(fs::exists(file), c.expected == Deletion::Kept);
        if (c.trashed != nullptr) {
            const fs::path trashed = expand(c.trashed);
            EXPECT_EQ(test::ReadFile(trashed), "picture");
            EXPECT_EQ(Permissions(trashed), 0640);
            const fs::path trash = trashed.parent_path().parent_path();
            const fs::path record = trash / "info" / (trashed.filename().string() + ".trashinfo");
            EXPECT_EQ(RecordedPath(test::ReadFile(record)), expand(c.recorded));
            for (const fs::path& folder : {trash, trash / "files", trash / "info"}) {
                EXPECT_EQ(Permissions(folder), 0700) << folder;
            }
            // Nothing of the work is left: no temporary file, no record for a name passed over.
            for (const auto& [path, content] : FilesUnder(trash)) {
                EXPECT_FALSE(path.filename().string().starts_with(".zarvo-")) << path;
                EXPECT_TRUE(path.parent_path().filename() == "files" ||
                            fs::exists(trash / "files" / path.stem()))
                    << path;
            }
        }
        for (const auto& [path, content] : before) {
            EXPECT_EQ(test::ReadFile(path), content) << path;
        }
        // No trash folders anywhere else: not in the current folder, not in a home that was not
        // there, not at the other file system's top unless its trash was used.
        for (const char* stray : {"files", "info", "Trash", "home/.local", "gone"}) {
            EXPECT_EQ(fs::exists(root.Path() / stray),
                      stray == std::string("home/.local") && c.trashed != nullptr &&
                          std::string(c.trashed).starts_with("{root}/home/.local"))
                << stray;
        }
        EXPECT_EQ(fs::is_directory(shm.path / (".Trash-" + UID)),
                  c.trashed != nullptr && std::string(c.trashed).starts_with("{top}/.Trash-"));
    }
    SetVariable("XDG_DATA_HOME", dataHomeBefore ? dataHomeBefore->c_str() : nullptr);
    SetVariable("HOME", homeBefore ? homeBefore->c_str() : nullptr);
    EXPECT_EQ(fs::exists("/dev/shm/.Trash-" + UID), sharedTrashBefore);
}

TEST(TrashTest, NamesFitTheTrashAndRecordsEncodeThePath) {
    std::string accents;  // 150 characters of two bytes
    for (int i = 0; i < 150; ++i) {
        accents += "\xC3\xA9";
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
        {"x." + std::string(100, 'b'), 2, "x." + std::string(100, 'b') + " (2)"},
        // Within 245 bytes, so that the record's name is a file name too; no character cut.
        {std::string(300, 'a') + ".jpg", 1, std::string(241, 'a') + ".jpg"},
        {accents + ".png", 2, accents.substr(0, 236) + " (2).png"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CTrash::TrashName(c.name, c.number), c.expected) << c.name;
    }
    const std::string text = CTrash::InfoText("/x/a b#?\xC3\xA9+(1)'.jpg", 0);
    EXPECT_EQ(text.substr(0, text.find("DeletionDate=")),
              "[Trash Info]\nPath=/x/a%20b%23%3F%C3%A9%2B%281%29%27.jpg\n");

    // The top directory is the mount point above the file.
    const ShmDir shm;
    struct stat dev {};
    struct stat devShm {};
    if (!shm.path.empty() && ::stat("/dev", &dev) == 0 && ::stat("/dev/shm", &devShm) == 0 &&
        dev.st_dev != devShm.st_dev) {
        fs::create_directory(shm.path / "a");
        test::WriteFile(shm.path / "a/b.jpg", "picture");
        EXPECT_EQ(CTrash::MountPointOf((shm.path / "a/b.jpg").string()), "/dev/shm");
    }
}

}  // namespace
