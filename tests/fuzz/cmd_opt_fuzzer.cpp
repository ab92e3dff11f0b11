// The component's command-line builder (file-name quoting, folders, list files) against the
// library's parser: whatever names the builder accepts, the library must read back exactly
// the archive, folder and names that were meant. The input is NUL-separated: flags byte,
// archive, folder, then file names.
#include <unistd.h>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "archives/archiver_errors.h"
#include "archives/archiver_options.h"
#include "drivers/lha32.h"
#include "platform/path.h"
#include "unlha32/request.h"

namespace {

using namespace zembrat;

// A driver without a library: only its command line is wanted.
class LineOnlyDriver final : public archives::TArchiver {
  public:
    int Unpack(archives::WindowHandle, const std::string&, const archives::TArchiverOptions&,
               const std::string&, archives::FileItems, bool, std::string&) override {
        return 0;
    }
};

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

std::vector<std::string> SplitAtNul(std::string_view text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find('\0', start);
        parts.emplace_back(text.substr(start, end - start));
        if (end == std::string_view::npos) {
            return parts;
        }
        start = end + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const std::uint8_t flags = data[0];
    auto parts = SplitAtNul(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
    if (parts.size() < 2 || parts.size() > 64) {
        return 0;
    }
    const std::string archive = parts[0];
    const std::string folder = parts[1];
    const std::vector<std::string> files(parts.begin() + 2, parts.end());

    archives::TArchiverOptions options;
    options.jso = 1;
    options.jse = 0;
    options.m = static_cast<std::int8_t>(flags & 3);
    const bool useListFile = (flags & 4) != 0;
    const std::string listPath =
        "/tmp/zembrat-fuzz-names-" + std::to_string(static_cast<long>(::getpid()));
    options.ResFileName = listPath;
    if (flags & 8) {
        options.w = folder;  // the work folder switch carries a quoted path too
    }
    LineOnlyDriver driver;
    std::vector<archives::FileItem> items(files.begin(), files.end());
    const char* command = (flags & 16) ? "u" : "x";
    std::string line;
    try {
        line = drivers::TLha32::BuildCommand(driver, command, archive, options, folder,
                                             archives::FileItems(items.data(), items.size()),
                                             useListFile);
    } catch (const archives::EArchiver&) {
        return 0;  // a name the line cannot carry is refused, and that is all
    } catch (const archives::EStreamError&) {
        return 0;
    }

    // What the library reads back.
    unlha32::Request request;
    try {
        request = unlha32::ParseCommandLine(line, true);
    } catch (const unlha32::Failure&) {
        // The archive (or the folder as a switch value) was not understood; only an empty
        // or switch-like archive name may cause that.
        Require(archive.empty() || archive.front() == '-' || folder.front() == '-' || (flags & 8));
        return 0;
    }
    if (archive.empty() || archive.front() == '-') {
        return 0;  // the component always passes full paths; see docs/reliability.md
    }
    Require(request.archive == archive);
    std::vector<std::string> expected;
    for (const auto& name : files) {
        if (!name.empty()) {
            expected.push_back(name);
        }
    }
    const std::string expectedFolder =
        folder.empty() ? std::string() : platform::IncludeTrailingDelimiter(folder);
    if (!expectedFolder.empty()) {
        Require(request.folder == expectedFolder);
    } else if (!request.folder.empty()) {
        // No folder given: the first name ending in '/' was taken as the destination.
        Require(!expected.empty() && expected.front() == request.folder);
        expected.erase(expected.begin());
    }
    bool listSyntax = false;
    for (const auto& name : expected) {
        listSyntax = listSyntax || name.front() == '@';
    }
    if (!listSyntax && !(useListFile && !expected.empty())) {
        Require(request.names == expected);
    }
    if (useListFile) {
        ::unlink(listPath.c_str());
    }
    return 0;
}
