#pragma once

// The user's trash, laid out as freedesktop.org's desktops share it (Trash, version 1.0). A file
// goes to the home trash, $XDG_DATA_HOME/Trash (~/.local/share/Trash by default), which is made
// with its files/ and info/ folders when missing, beside an info/<name>.trashinfo that says where
// it was and when it went; a file on another file system goes to the trash under that file system's
// top directory ($topdir/.Trash/$uid, or $topdir/.Trash-$uid), or is copied to the home trash and
// then deleted. It makes trash folders nowhere else, keeps no size cache for folders, and never
// lists, restores or empties a trash.

#include <ctime>
#include <functional>
#include <string>

namespace platform {

class CTrash {
public:
    enum class Result {
        Trashed,  // the file lies in a trash
        NoTrash,  // no trash can be had for it; the file stays where it was
        Failed,   // the file could not be moved (gone, or its folder not writable); errno tells
    };
    enum class Deletion { Trashed, Deleted, Kept, Failed };

    // The question asked where no trash can be had.
    static constexpr const char* NO_TRASH_QUESTION =
        "There is no trash for this file. Delete it for good?";

    // The top directory (the mount point) of the file system a path lies on.
    using TopDirectoryFinder = std::function<std::string(const std::string& path)>;

    // The trash of the user the environment names when it is made: under XDG_DATA_HOME when
    // that is an absolute path, otherwise under HOME/.local/share when HOME is a folder; none
    // when neither is. The file systems' top directories are found by `topDirectoryOf`.
    explicit CTrash(TopDirectoryFinder topDirectoryOf = MountPointOf);

    // Moves the file (or the link, not what it points to) to a trash under a name that no
    // trashed file there has, after writing its .trashinfo in one step.
    Result MoveToTrash(const std::string& path);
    // Moves the file to the trash; where no trash can be had, asks NO_TRASH_QUESTION
    // (platform::AskQuestion) and deletes it for good on Yes (Deleted) or leaves it (Kept).
    // Failed (errno tells) when it could be neither trashed nor deleted.
    Deletion Delete(const std::string& path);

    // The home trash's folder, "<data home>/Trash"; empty when there is none.
    std::string HomeTrash() const;

    // The mount point above a path: the highest folder on the path's file system.
    static std::string MountPointOf(const std::string& path);
    // A .trashinfo's text: the path percent-encoded as in a URI (RFC 2396 section 2, "/" kept),
    // the deletion date in local time as YYYY-MM-DDThh:mm:ss.
    static std::string InfoText(const std::string& path, std::time_t deleted);
    // The name a file gets in a trash on the number-th try: the name itself, then
    // "stem (2).ext" and so on; cut so that its .trashinfo's name still fits a file name.
    static std::string TrashName(const std::string& name, unsigned number);

private:
    enum class Placing { Trashed, TrashUnusable, FileFailed };

    // Moves (or copies and then deletes) the file at `path` into the trash folder, its
    // .trashinfo naming `infoPath`.
    Placing PlaceInTrash(const std::string& trash, const std::string& path,
                         const std::string& infoPath, bool copy) const;
    bool MakeHomeTrash() const;

    std::string m_dataHome;
    TopDirectoryFinder m_topDirectoryOf;
};

}  // namespace platform
