#include "ui/CPictureBrowser.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string_view>
#include <system_error>

#include "platform/CTrash.h"
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

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
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

std::string CPictureBrowser::PathOfAddress(const std::string& address) {
    static constexpr std::string_view SCHEME = "file://";
    if (address.compare(0, SCHEME.size(), SCHEME) != 0) {
        return {};
    }
    std::string path;
    path.reserve(address.size() - SCHEME.size());
    for (std::size_t i = SCHEME.size(); i < address.size(); ++i) {
        const int high = i + 2 < address.size() ? HexValue(address[i + 1]) : -1;
        const int low = high >= 0 ? HexValue(address[i + 2]) : -1;
        if (address[i] == '%' && low >= 0) {
            path += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            path += address[i];
        }
    }
    return path;
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
        m_view.SetPictureName({});
        m_view.SetPictureCounter(Counter(0, 0));
        m_view.ClearView();
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
        // Nothing is current: the list is empty, or the index is one an earlier run left.
        return;
    }
    const auto index = static_cast<std::size_t>(current);
    const std::string path = m_pictureList[index];
    // To the trash, so that a picture deleted by mistake can be had back; where there is none,
    // the user is asked, and a picture kept stays on show. The boxes are shown under the lock:
    // a worker about to add a picture waits until they are dismissed.
    const platform::CTrash::Deletion deletion =
        path.empty() ? platform::CTrash::Deletion::Deleted : platform::CTrash().Delete(path);
    if (deletion == platform::CTrash::Deletion::Kept) {
        return;
    }
    if (deletion == platform::CTrash::Deletion::Failed) {
        platform::ShowErrorBox("DeleteFile Failed");
    }
    // Removed whether or not the file went. The box's event loop may have run the worker's
    // Next meanwhile, which moves the index but never the list; check the entry all the same.
    if (index < m_pictureList.size() && m_pictureList[index] == path) {
        m_pictureList.erase(m_pictureList.begin() + static_cast<std::ptrdiff_t>(index));
    }
    // The entry that followed the deleted one takes its place; after the last entry the new
    // last one is shown, and an empty list shows nothing, so that no deleted file stays on show.
    const auto size = static_cast<int>(m_pictureList.size());
    if (g_currentPicture.load() >= size) {
        g_currentPicture.store(size > 0 ? size - 1 : 0);
    }
    ShowPicture(g_currentPicture.load());
}

void CPictureBrowser::ForgetPictures(const std::vector<std::string>& paths) {
    std::lock_guard lock(m_pictureLock);
    const auto gone = [&paths](const std::string& entry) {
        return std::find(paths.begin(), paths.end(), entry) != paths.end();
    };
    // The index moves down by the entries dropped before it.
    int current = g_currentPicture.load();
    const int before = std::min(current, static_cast<int>(m_pictureList.size()));
    current -= static_cast<int>(
        std::count_if(m_pictureList.begin(), m_pictureList.begin() + std::max(before, 0), gone));
    const auto kept = std::remove_if(m_pictureList.begin(), m_pictureList.end(), gone);
    if (kept == m_pictureList.end()) {
        return;
    }
    m_pictureList.erase(kept, m_pictureList.end());
    const auto size = static_cast<int>(m_pictureList.size());
    g_currentPicture.store(std::clamp(current, 0, std::max(size - 1, 0)));
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

std::size_t CPictureBrowser::Count() const {
    std::lock_guard lock(m_pictureLock);
    return m_pictureList.size();
}
