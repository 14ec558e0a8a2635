#pragma once

// The picture browser of the main window: the list of decoded pictures, its lock, the index of
// the picture on show, and Previous, Next and Delete File (which moves the picture to the
// desktop's trash). A picture is shown by writing the one-line page "html_file.html" that
// holds it and navigating the view there. It draws nothing itself (CPictureView does) and knows
// nothing of threads beyond its lock: whoever calls the handlers decides on which thread they
// run.

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "ui/CPictureView.h"

// The index of the picture on show: 0 at start, moved by Previous and Next (and so by the
// worker's call of Next), kept by Delete File and by a new run. The fetch worker reads it
// without the lock, for its counter text.
extern std::atomic<int> g_currentPicture;

class CPictureBrowser {
public:
    // The page's name in the program folder.
    static constexpr const char* PAGE_FILE_NAME = "html_file.html";

    explicit CPictureBrowser(CPictureView& view) : m_view(view) {}

    // The program folder, ending in "/": the page is written there and navigated to there.
    // Until it is set, the page lies in the current directory.
    void SetProgramFolder(const std::string& folder);

    // Shows the entry at the index: writes the page, sets the name and counter boxes and
    // navigates. An empty list shows nothing: an empty name box, the counter "0 / 0" and an
    // empty view. An index that names no entry changes nothing. The caller has set
    // g_currentPicture to the index.
    void ShowPicture(int index);
    // The three buttons. Neither Previous nor Next wraps around; from an index past the end,
    // Previous goes to the first entry and Next to the last. Delete File moves the current
    // entry's file to the trash (where there is no trash to take it, asks before deleting it
    // for good, and told No keeps it on show), removes the entry and shows the entry that takes
    // its place, or the new last one, or nothing.
    void OnPrevious();
    void OnNext();
    void OnDeleteFile();

    // The fetch worker's side, each under the lock: empties the list; appends a path and
    // returns the list's new size.
    void ClearPictures();
    std::size_t AppendPicture(const std::string& path);
    // Drops every entry of the paths (files moved away elsewhere), under the lock. The picture
    // on show stays when its entry stays; when it went, the entry that took its place is
    // shown, or the new last one, or nothing.
    void ForgetPictures(const std::vector<std::string>& paths);
    // A copy of the list, taken under the lock.
    std::vector<std::string> Pictures() const;
    // The list's size, read under the lock.
    std::size_t Count() const;

    // The page that shows the picture: an image element whose address is the picture's file
    // address (see FileAddress), with the alternative text [picture], scaled to 180 by 200.
    static std::string PageContent(const std::string& picturePath);
    // The picture's path as a "file://" address in which every byte but letters, digits,
    // "-", ".", "_", "~" and "/" is percent-encoded: a name from a stranger's article can hold
    // quotes, "<", "&", "#", "%" or blanks, and must neither end the attribute nor be read as
    // part of an address's syntax.
    static std::string FileAddress(const std::string& path);
    // The path that a "file://" address names, percent-decoded: FileAddress undone. Empty for
    // any other address.
    static std::string PathOfAddress(const std::string& address);

private:
    // Writes the page; false, after its message, when it cannot even be opened.
    bool WritePage(const std::string& picturePath);

    CPictureView& m_view;
    std::string m_programFolder;
    // The decoded pictures' full paths in the order they arrived; never empty texts, possibly
    // the same path twice. Used only under m_pictureLock, which is re-entrant because each
    // handler holds it across its call of ShowPicture.
    std::vector<std::string> m_pictureList;
    mutable std::recursive_mutex m_pictureLock;
};
