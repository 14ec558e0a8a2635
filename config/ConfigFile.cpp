#include "config/ConfigFile.h"

#include <stdio.h>   // getc_unlocked, fileno
#include <unistd.h>  // fsync

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <system_error>

#include "config/CSkippedConfigLines.h"
#include "platform/ErrorBox.h"
#include "platform/RenameNoReplace.h"

namespace {

// Lines are taken as a 512-byte fgets takes them: at most 511 characters, terminator included.
constexpr std::size_t CONFIG_LINE_PIECE = 511;

// The new content is written here and renamed onto the file once it is complete. It lies in the
// same folder so that the rename replaces the file in one step.
constexpr const char* CONFIG_TEMP_NAME = "zarvo.cfg.tmp";

// The streams' buffer: a server's full list is some 100,000 lines, a few megabytes, and reading
// or writing it in 64 KiB blocks keeps the number of system calls low.
constexpr std::size_t STREAM_BUFFER_SIZE = std::size_t{64} << 10;
std::atomic<std::size_t> g_readBufferSize{STREAM_BUFFER_SIZE};

// How many names zarvo.cfg.bad, zarvo.cfg.bad.2, ... are tried for a file that cannot be read.
constexpr unsigned BAD_NAME_LIMIT = 1000;

using FilePtr = std::unique_ptr<std::FILE, decltype([](std::FILE* file) { std::fclose(file); })>;

// Opens a file for reading through `buffer`, which must outlive the stream.
FilePtr OpenForReading(const char* name, std::vector<char>& buffer) {
    FilePtr file(std::fopen(name, "r"));
    if (file) {
        buffer.resize(g_readBufferSize.load());
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

// A configuration file that cannot be read (a folder of that name, a file without read
// permission) would stand in the way of the new one for good. It is set aside under the first
// free name of zarvo.cfg.bad, zarvo.cfg.bad.2, ..., never over an older one, and the user is told.
void KeepUnreadableFile(int readError) {
    const std::string why = std::generic_category().message(readError != 0 ? readError : EIO);
    const std::string name(CONFIG_FILE_NAME);
    int renameError = 0;
    for (unsigned number = 1; number <= BAD_NAME_LIMIT && renameError == 0; ++number) {
        std::string kept = name + ".bad";
        if (number > 1) {
            kept += '.';
            kept += std::to_string(number);
        }
        switch (platform::RenameNoReplace(name, kept)) {
            case platform::RenameResult::Renamed:
                platform::ShowErrorBox(name + " could not be read (" + why + "). It was kept as " +
                                       kept +
                                       "; set the configuration up again and press Done to save "
                                       "a new one.");
                return;
            case platform::RenameResult::NameTaken:
                break;
            case platform::RenameResult::Failed:
                renameError = errno;
                break;
        }
    }
    platform::ShowErrorBox(
        name + " could not be read (" + why + ") and could not be renamed to " + name + ".bad (" +
        std::generic_category().message(renameError != 0 ? renameError : EEXIST) +
        "). Move it out of the program's folder, then set the configuration up again and press "
        "Done to save a new one.");
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

void SetConfigReadBufferSize(std::size_t size) {
    g_readBufferSize = size > 0 ? size : STREAM_BUFFER_SIZE;
}

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
        // No configuration saved yet is the normal first opening: the dialog opens empty, and
        // that needs no message. Any other failure is a file that cannot be read.
        if (errno != ENOENT) {
            KeepUnreadableFile(errno);
        }
        return;
    }
    view.BeginWaitCursor();
    CSkippedConfigLines skipped;
    // The physical line of the file that the next piece starts on: a line longer than a piece
    // gives several pieces, all of one line.
    std::size_t lineNumber = 1;
    std::size_t pieceLine = 1;
    std::string line;
    const auto readLine = [&] {
        if (!ReadLinePiece(file.get(), line)) {
            return false;
        }
        pieceLine = lineNumber;
        if (line.ends_with('\n')) {
            ++lineNumber;
        }
        RemoveTerminator(line);
        return true;
    };
    // The first line is the server name whatever it holds, even the separator text.
    if (readLine()) {
        view.SetServerText(line);
        bool inAvailable = false;
        while (readLine()) {
            if (line == CONFIG_SEPARATOR) {
                inAvailable = true;
                continue;
            }
            if (!(inAvailable ? view.AddAvailable(line) : view.AddSelected(line))) {
                skipped.Add(pieceLine, line);
            }
        }
    }
    const bool readFailed = std::ferror(file.get()) != 0;
    const int readError = errno;
    file.reset();
    view.EndWaitCursor();
    if (!skipped.Empty()) {
        platform::ShowErrorBox(skipped.Message());
    }
    if (readFailed) {
        KeepUnreadableFile(readError);
    }
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
