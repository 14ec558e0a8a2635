#include "config/ConfigFile.h"

#include <stdio.h>   // getc_unlocked, fileno
#include <unistd.h>  // fsync

#include <cerrno>
#include <cstdio>
#include <memory>

#include "platform/ErrorBox.h"

namespace {

// Lines are taken as a 512-byte fgets takes them: at most 511 characters, terminator included.
constexpr std::size_t CONFIG_LINE_PIECE = 511;

// The new content is written here and renamed onto the file once it is complete. It lies in the
// same folder so that the rename replaces the file in one step.
constexpr const char* CONFIG_TEMP_NAME = "zarvo.cfg.tmp";

// The streams' buffer: a server's full list is some 100,000 lines, a few megabytes, and reading
// or writing it in 64 KiB blocks keeps the number of system calls low.
constexpr std::size_t STREAM_BUFFER_SIZE = std::size_t{64} << 10;

using FilePtr = std::unique_ptr<std::FILE, decltype([](std::FILE* file) { std::fclose(file); })>;

// Opens a file for reading through `buffer`, which must outlive the stream.
FilePtr OpenForReading(const char* name, std::vector<char>& buffer) {
    FilePtr file(std::fopen(name, "r"));
    if (file) {
        buffer.resize(STREAM_BUFFER_SIZE);
        // A failure only leaves the stream's default buffer in place.
        std::setvbuf(file.get(), buffer.data(), _IOFBF, buffer.size());
    }
    return file;
}

// Reads the next line the way a 512-byte fgets does: up to and including its line feed, but
// never more than 511 characters, so a longer line arrives as several. CR LF counts as a single
// line feed, as a text-mode stream on Windows delivers it, so a file with CR LF line ends cuts
// its long lines at the same places as one with LF line ends (a 510-character name stays one
// line). The stream's own buffer keeps this to one read call per block, not per line. False
// when nothing was read: at the end of the file, or on a read error, which std::ferror tells.
bool ReadLinePiece(std::FILE* file, std::string& line) {
    line.clear();
    while (line.size() < CONFIG_LINE_PIECE) {
        int character = getc_unlocked(file);
        if (character == EOF) {
            break;
        }
        if (character == '\r') {
            const int next = getc_unlocked(file);
            if (next == '\n') {
                character = '\n';
            } else if (next != EOF) {
                std::ungetc(next, file);
            }
        }
        line.push_back(static_cast<char>(character));
        if (character == '\n') {
            break;
        }
    }
    return !line.empty();
}

// Cuts CR LF, then LF, then CR, each step on what the one before left: "name\r\r\n" becomes
// "name" too. A line holding only a terminator becomes empty.
void RemoveTerminator(std::string& line) {
    if (line.ends_with("\r\n")) {
        line.resize(line.size() - 2);
    }
    if (line.ends_with('\n')) {
        line.pop_back();
    }
    if (line.ends_with('\r')) {
        line.pop_back();
    }
}

// Reads the next line without its terminator.
bool ReadConfigLine(std::FILE* file, std::string& line) {
    if (!ReadLinePiece(file, line)) {
        return false;
    }
    RemoveTerminator(line);
    return true;
}

// Writes the new configuration through one buffered stream and shows "fputs failed" for each
// write that fails, including a failure that only surfaces when the buffer reaches the disk at
// Finish. It does not decide what becomes of the file; WriteConfigFile renames or removes it.
class CConfigWriter {
public:
    explicit CConfigWriter(std::FILE* file) : m_file(file) {
        // A failure only leaves the stream's default buffer in place.
        std::setvbuf(m_file.get(), m_buffer.data(), _IOFBF, m_buffer.size());
    }

    void Write(std::string_view text) {
        // fwrite rather than fputs: a name is written whole, whatever bytes it holds.
        if (std::fwrite(text.data(), 1, text.size(), m_file.get()) != text.size()) {
            Fail();
        }
    }

    // Puts everything on the disk and closes the file. True when no write failed at any point.
    bool Finish() {
        std::FILE* file = m_file.get();
        bool flushed = std::fflush(file) == 0;
        // A rename after a crash must not find an empty file: the data has to be on the disk
        // first. A file system that cannot sync (EINVAL) has nothing more to offer.
        if (flushed && ::fsync(::fileno(file)) != 0 && errno != EINVAL) {
            flushed = false;
        }
        if (std::fclose(m_file.release()) != 0) {
            flushed = false;
        }
        if (!flushed) {
            Fail();
        }
        return !m_failed;
    }

private:
    void Fail() {
        m_failed = true;
        platform::ShowErrorBox("fputs failed");
    }

    // Declared before the file so that it outlives the stream that uses it.
    std::vector<char> m_buffer = std::vector<char>(STREAM_BUFFER_SIZE);
    FilePtr m_file;
    bool m_failed = false;
};

}  // namespace

void WriteConfigFile(const std::string& server, const std::vector<std::string>& selected,
                     const std::vector<std::string>& available) {
    std::FILE* file = std::fopen(CONFIG_TEMP_NAME, "w");
    if (file == nullptr) {
        platform::ShowErrorBox("Couldn't create the configuration file");
        return;
    }
    CConfigWriter writer(file);
    // A line's text and its line feed are two writes, each reported on its own.
    writer.Write(server);
    writer.Write("\n");
    if (selected.empty()) {
        platform::ShowErrorBox("No Newsgroups selected");
    }
    for (const std::string& name : selected) {
        writer.Write(name);
        writer.Write("\n");
    }
    writer.Write(CONFIG_SEPARATOR);
    writer.Write("\n");
    for (const std::string& name : available) {
        writer.Write(name);
        writer.Write("\n");
    }
    if (!writer.Finish()) {
        // The old configuration stays as it was.
        std::remove(CONFIG_TEMP_NAME);
        return;
    }
    if (std::rename(CONFIG_TEMP_NAME, CONFIG_FILE_NAME) != 0) {
        std::remove(CONFIG_TEMP_NAME);
        platform::ShowErrorBox("Couldn't create the configuration file");
    }
}

void LoadConfigFile(CConfigView& view) {
    std::vector<char> buffer;
    FilePtr file = OpenForReading(CONFIG_FILE_NAME, buffer);
    if (!file) {
        // No configuration saved yet: the dialog opens empty, and that needs no message.
        return;
    }
    view.BeginWaitCursor();
    std::string line;
    // The first line is the server name whatever it holds, even the separator text.
    if (ReadConfigLine(file.get(), line)) {
        view.SetServerText(line);
        bool inAvailable = false;
        while (ReadConfigLine(file.get(), line)) {
            if (line == CONFIG_SEPARATOR) {
                inAvailable = true;
                continue;
            }
            if (!(inAvailable ? view.AddAvailable(line) : view.AddSelected(line))) {
                platform::ShowErrorBox("Corrupt\tconfiguration file");
                // Deleted, so that the next opening starts afresh instead of failing again.
                file.reset();
                std::remove(CONFIG_FILE_NAME);
                break;
            }
        }
    }
    file.reset();
    view.EndWaitCursor();
}

bool ReadConfigFile(const char* configFileName, std::vector<std::string>& newsGroups,
                    std::string& newsServer) {
    newsGroups.clear();
    if (configFileName == nullptr) {
        platform::ShowErrorBox("configFileName is NULL");
        return false;
    }
    const std::string cannotRead = std::string("Couldn't open file '") + configFileName + "'";
    std::vector<char> buffer;
    FilePtr file = OpenForReading(configFileName, buffer);
    if (!file) {
        platform::ShowErrorBox(cannotRead);
        return false;
    }
    // Read into locals: a read error must not pass a cut-off list to the worker as the whole one.
    std::string server;
    std::vector<std::string> groups;
    std::string line;
    if (ReadConfigLine(file.get(), line)) {
        server = line;
        // The cached server list after the separator is never read.
        while (ReadConfigLine(file.get(), line) && line != CONFIG_SEPARATOR) {
            groups.push_back(line);
        }
    }
    // A folder of that name opens but cannot be read; it is no more a configuration than a
    // missing file is.
    if (std::ferror(file.get()) != 0) {
        platform::ShowErrorBox(cannotRead);
        return false;
    }
    newsServer = std::move(server);
    newsGroups = std::move(groups);
    return true;
}
