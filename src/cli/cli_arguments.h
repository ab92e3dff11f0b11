// The command line of zembrat-cli: one command, its options and its files, or a usage
// error with the reason to show.
#pragma once

#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace zembrat::cli {

enum class Command {
    kCompress,
    kDecompress,
    kList,
    kTest,
    kHelp,
    kVersion,
    kInstallFileManagerActions
};

// The LHA methods --method offers, as the value of the option jm.
enum class LhaMethod : int { kLh0 = 0, kLh5 = 5, kLh6 = 6, kLh7 = 7 };

struct CliArguments {
    Command command = Command::kHelp;
    std::vector<std::string> files;   // as given, in order
    std::string outputFolder;         // -o; compress and decompress only
    bool selfExtracting = false;      // --sfx
    bool overwrite = false;           // --overwrite
    bool upperCaseExtension = false;  // --upper
    std::optional<LhaMethod> method;  // --method; none: the library's default
    std::string format = "lzh";       // --format: the extension of the archives compress makes
    std::optional<int> level;         // --level 0-9, for the kinds that have levels
    bool verbose = false;
    bool quiet = false;
};

class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Options may stand anywhere after the command; "--" ends them. -h/--help, --version and
// --install-file-manager-actions win over everything else. Raises UsageError.
CliArguments ParseArguments(std::span<const std::string_view> arguments);

// The help text (Japanese), and the version line.
std::string UsageText();
std::string VersionText();

}  // namespace zembrat::cli
