#include "ui/CPictureBrowser.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "platform/ErrorBox.h"

std::atomic<int> g_currentPicture{0};

namespace {

constexpr const char* PAGE_HEAD = "<HTML><BODY><img src=\"";
constexpr const char* PAGE_TAIL =
    "\" alt=\"[picture]\" width=\"180\" height=\"200\"></BODY></HTML>";

std::string Counter(long long position, long long count) {
    return std::to_string(position) + " / " + std::to_string(count);
}

bool IsUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

}  // namespace

void CPictureBrowser::SetProgramFolder(const std::string& folder) {
    std::lock_guard lock(m_pictureLock);
    m_programFolder = folder;
}

std::string CPictureBrowser::FileAddress(const std::string& path) {
    static constexpr char HEX[] = "0123456789ABCDEF";
    std::string address = "file://";
    address.reserve(address.size() + path.size() * 3);
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (IsUnreserved(byte) || byte == '/') {
            address += c;
        } else {
            address += '%';
            address += HEX[byte >> 4];
            address += HEX[byte & 0x0F];
        }
    }
    return address;
}

std::string CPictureBrowser::PageContent(const std::string& picturePath) {
    return PAGE_HEAD + FileAddress(picturePath) + PAGE_TAIL;
}

bool CPictureBrowser::WritePage(const std::string& picturePath) {
    const std::string page = m_programFolder + PAGE_FILE_NAME;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(page.c_str(), "w"),
                                                         std::fclose);
    if (!file) {
        platform::ShowErrorBox("fopen in CZarvoDlg::ShowPicture failed");
        return false;
    }
    // Three pieces, each checked on its own: a failing one is reported and the rest is still
    // written.
    const std::string address = FileAddress(picturePath);
    for (const char* piece : {PAGE_HEAD, address.c_str(), PAGE_TAIL}) {
        if (std::fputs(piece, file.get()) == EOF) {
            platform::ShowErrorBox("fputs failed in CZarvoDlg::ShowPicture");
        }
    }
    if (std::fclose(file.release()) != 0) {
        platform::ShowErrorBox("fclose failed in CZarvoDlg::ShowPicture");
    }
    return true;
}

void CPictureBrowser::ShowPicture(int index) {
    std::lock_guard lock(m_pictureLock);
    if (m_pictureList.empty()) {
        // The name box and the view keep what they show.
        m_view.SetPictureCounter(Counter(0, 0));
        return;
    }
    if (index < 0 || static_cast<std::size_t>(index) >= m_pictureList.size()) {
        return;
    }
    try {
        const std::string path = m_pictureList[static_cast<std::size_t>(index)];
        if (path.empty() || !WritePage(path)) {
            return;
        }
        std::string page = m_programFolder + PAGE_FILE_NAME;
        if (m_programFolder.empty()) {
            std::error_code ignored;
            page = std::filesystem::absolute(page, ignored).string();
        }
        const std::size_t slash = path.rfind('/');
        m_view.SetPictureName(slash == std::string::npos ? path : path.substr(slash + 1));
        m_view.SetPictureCounter(
            Counter(g_currentPicture.load() + 1LL, static_cast<long long>(m_pictureList.size())));
        m_view.Navigate(page);
    } catch (...) {
        // A failed navigation (or allocation) costs the picture its showing, nothing more.
    }
}

void CPictureBrowser::OnPrevious() {
    std::unique_lock lock(m_pictureLock);
    if (m_pictureList.empty()) {
        lock.unlock();
        platform::ShowErrorBox("No pictures available yet...");
        return;
    }
    const int current = g_currentPicture.load();
    const auto size = static_cast<long long>(m_pictureList.size());
    g_currentPicture.store(current >= 1 && current <= size - 1 ? current - 1 : 0);
    try {
        ShowPicture(g_currentPicture.load());
    } catch (...) {
    }
}

void CPictureBrowser::OnNext() {
    std::unique_lock lock(m_pictureLock);
    if (m_pictureList.empty()) {
        lock.unlock();
        platform::ShowErrorBox("No pictures available yet...");
        return;
    }
    const int current = g_currentPicture.load();
    const auto last = static_cast<long long>(m_pictureList.size()) - 1;
    g_currentPicture.store(current >= 0 && current < last ? current + 1 : static_cast<int>(last));
    try {
        ShowPicture(g_currentPicture.load());
    } catch (...) {
    }
}

void CPictureBrowser::OnDeleteFile() {
    std::lock_guard lock(m_pictureLock);
    const int current = g_currentPicture.load();
    if (current < 0 || static_cast<std::size_t>(current) >= m_pictureList.size()) {
        // Nothing is current: an empty list, or the last entry was just deleted.
        return;
    }
    const auto index = static_cast<std::size_t>(current);
    const std::string path = m_pictureList[index];
    // unlink, not remove: a folder that somehow stands at the path is not deleted.
    if (!path.empty() && ::unlink(path.c_str()) != 0) {
        // Shown under the lock: a worker about to add a picture waits until it is dismissed.
        platform::ShowErrorBox("DeleteFile Failed");
    }
    // Removed whether or not the file went. The box's event loop may have run the worker's
    // Next meanwhile, which moves the index but never the list; check the entry all the same.
    if (index < m_pictureList.size() && m_pictureList[index] == path) {
        m_pictureList.erase(m_pictureList.begin() + static_cast<std::ptrdiff_t>(index));
    }
    // The index stays: the entry that followed the deleted one is shown in its place.
    ShowPicture(g_currentPicture.load());
}

void CPictureBrowser::ClearPictures() {
    std::lock_guard lock(m_pictureLock);
    m_pictureList.clear();
}

std::size_t CPictureBrowser::AppendPicture(const std::string& path) {
    std::lock_guard lock(m_pictureLock);
    m_pictureList.push_back(path);
    return m_pictureList.size();
}

std::vector<std::string> CPictureBrowser::Pictures() const {
    std::lock_guard lock(m_pictureLock);
    return m_pictureList;
}
