#include "archives/cmd_opt.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

#include "archives/archiver_errors.h"
#include "archives/archiver_types.h"

namespace zembrat::archives {

namespace {

// Control characters are shown escaped, so that the message itself stays one clean line.
std::string Printable(std::string_view text) {
    std::string shown;
    for (char c : text) {
        if (c == '\r') {
            shown += "\\r";
        } else if (c == '\n') {
            shown += "\\n";
        } else {
            shown += c;
        }
    }
    return shown;
}

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return fd_; }
    // Closes now and reports whether that succeeded.
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

  private:
    int fd_;
};

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t written = ::write(fd, data.data(), data.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

}  // namespace

void RefuseLineBreak(std::string_view name) {
    if (name.find_first_of("\r\n") != std::string_view::npos) {
        throw EArchiver("\"" + Printable(name) +
                        "\" は改行を含むため、書庫ライブラリに渡せません。");
    }
}

void RefuseUnquotableName(std::string_view name) {
    if (name.find_first_of("\"\r\n") != std::string_view::npos) {
        throw EArchiver("\"" + Printable(name) +
                        "\" は二重引用符または改行を含むため、書庫ライブラリに渡せません。");
    }
}

void TCmdOpt::Add(std::string_view item) {
    Text += ' ';
    Text += item;
}

void TCmdOpt::AddSwitch(std::string_view name, bool on) {
    if (on) {
        Add("-" + std::string(name));
    }
}

void TCmdOpt::AddNumber(std::string_view name, int number) {
    if (number >= 0) {
        Add("-" + std::string(name) + std::to_string(number));
    }
}

void TCmdOpt::AddQuoted(std::string_view name, std::string_view value) {
    if (IsNoValue(value)) {
        return;
    }
    RefuseUnquotableName(value);
    if (name.empty()) {
        Add("\"" + std::string(value) + "\"");
        return;
    }
    const std::string switchText =
        name.front() == ' ' ? std::string(name.substr(1)) : "-" + std::string(name);
    if (QuoteSwitch) {
        Add(switchText + " \"" + std::string(value) + "\"");
    } else {
        Add("\"" + switchText + std::string(value) + "\"");
    }
}

void TCmdOpt::AddFolder(std::string_view name, std::string_view folder) {
    if (IsUnsetOrEmpty(folder)) {
        return;
    }
    AddValue(name, platform::IncludeTrailingDelimiter(folder, syntax_));
}

std::string TCmdOpt::Hooked(const std::string& fileName) const {
    return FileNameHook ? FileNameHook(fileName) : fileName;
}

void TCmdOpt::AddFile(std::string_view name, const std::string& fileName) {
    AddValue(name, Hooked(fileName));
}

int TCmdOpt::AddFiles(std::string_view name, FileItems items) {
    const StringList names = ItemsToList(items);
    for (const auto& fileName : names) {
        const std::string hooked = Hooked(fileName);
        RefuseUnquotableName(hooked);
        // The library reads an inline "@name" as a list file, quoted or not; such a name can
        // only travel in a list file of its own.
        if (name.empty() && !hooked.empty() && hooked.front() == '@') {
            throw EArchiver(
                "\"" + Printable(hooked) +
                "\" は @ で始まるため、リストファイルなしでは書庫ライブラリに渡せません。");
        }
    }
    for (const auto& fileName : names) {
        AddFile(name, fileName);
    }
    return static_cast<int>(names.size());
}

int TCmdOpt::WriteListFile(FileItems items, const std::string& path) {
    const StringList names = ItemsToList(items);
    std::string content;
    for (const auto& fileName : names) {
        const std::string hooked = Hooked(fileName);
        RefuseLineBreak(hooked);
        content += '"';
        content += hooked;
        content += "\"\r\n";
    }
    RefuseUnquotableName("@" + path);

    FileDescriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (file.Get() < 0) {
        throw EStreamError("ファイル " + path + " を作成できません。(" + std::strerror(errno) +
                           ")");
    }
    if (!WriteAll(file.Get(), content) || !file.Close()) {
        throw EStreamError("ファイル " + path + " に書き込めません。(" + std::strerror(errno) +
                           ")");
    }
    AddValue("", "@" + path);
    return static_cast<int>(names.size());
}

}  // namespace zembrat::archives
