#include "cli_arguments.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace zembrat::cli {

namespace {

constexpr std::string_view kProgram = "zembrat-cli";

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::ranges::transform(lower, lower.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

std::optional<Command> CommandNamed(std::string_view word) {
    if (word == "compress")
        return Command::kCompress;
    if (word == "decompress")
        return Command::kDecompress;
    if (word == "list")
        return Command::kList;
    if (word == "test")
        return Command::kTest;
    return std::nullopt;
}

// The kinds compress makes, by the extension of their archives, with what each takes.
struct FormatRule {
    std::string_view name;
    bool level;           // --level: the library takes a compression level
    bool selfExtracting;  // --sfx: the kind has a self-extracting program
};
constexpr std::array<FormatRule, 9> kFormats = {{
    {"lzh", false, true},
    {"zip", true, true},
    {"tar", false, true},
    {"tgz", true, true},
    {"tar.gz", true, true},
    {"tar.bz2", true, false},
    {"cab", false, true},
    {"gza", true, true},
    {"bza", true, true},
}};

const FormatRule* RuleOf(std::string_view format) {
    const auto found = std::ranges::find(kFormats, format, &FormatRule::name);
    return found == kFormats.end() ? nullptr : &*found;
}

// "lzh, zip, ..." of the kinds that pass the test.
std::string FormatNames(bool (*test)(const FormatRule&)) {
    std::string names;
    for (const FormatRule& rule : kFormats) {
        if (test(rule)) {
            names += (names.empty() ? "" : ", ") + std::string(rule.name);
        }
    }
    return names;
}

std::string FormatNamed(std::string_view value) {
    const std::string lower = Lower(value);
    if (RuleOf(lower) == nullptr) {
        throw UsageError("--format には " + FormatNames([](const FormatRule&) { return true; }) +
                         " のどれかを指定してください: " + std::string(value));
    }
    return lower;
}

int LevelNamed(std::string_view value) {
    if (value.size() != 1 || value[0] < '0' || value[0] > '9') {
        throw UsageError("--level には 0 から 9 の数を指定してください: " + std::string(value));
    }
    return value[0] - '0';
}

LhaMethod MethodNamed(std::string_view value) {
    const std::string name = Lower(value);
    if (name == "lh0")
        return LhaMethod::kLh0;
    if (name == "lh5")
        return LhaMethod::kLh5;
    if (name == "lh6")
        return LhaMethod::kLh6;
    if (name == "lh7")
        return LhaMethod::kLh7;
    throw UsageError("--method には lh0, lh5, lh6, lh7 のどれかを指定してください: " +
                     std::string(value));
}

// Reads the arguments one by one; an option's value is either glued to it ("-oDIR",
// "--output=DIR") or the next argument.
class ArgumentReader {
  public:
    explicit ArgumentReader(std::span<const std::string_view> arguments) : arguments_(arguments) {}

    CliArguments Read() {
        CliArguments result;
        std::optional<Command> command;
        bool optionsEnded = false;
        for (index_ = 0; index_ < arguments_.size(); ++index_) {
            const std::string_view argument = arguments_[index_];
            if (optionsEnded || argument == "-" || !argument.starts_with('-')) {
                if (!command) {
                    command = CommandNamed(argument);
                    if (!command) {
                        throw UsageError("不明なコマンドです: " + std::string(argument));
                    }
                } else {
                    result.files.emplace_back(argument);
                }
            } else if (argument == "--") {
                optionsEnded = true;
            } else {
                ReadOption(argument, result);
            }
        }
        if (!command) {
            throw UsageError("コマンド (compress, decompress, list, test) を指定してください。");
        }
        result.command = *command;
        Check(result);
        return result;
    }

  private:
    void ReadOption(std::string_view argument, CliArguments& result) {
        if (argument == "-v" || argument == "--verbose") {
            result.verbose = true;
        } else if (argument == "-q" || argument == "--quiet") {
            result.quiet = true;
        } else if (argument == "--sfx") {
            result.selfExtracting = true;
            compressOnly_.emplace_back(argument);
        } else if (argument == "--overwrite") {
            result.overwrite = true;
            writingOnly_.emplace_back(argument);
        } else if (argument == "--upper") {
            result.upperCaseExtension = true;
            compressOnly_.emplace_back(argument);
        } else if (argument == "-o" || argument.starts_with("--output") ||
                   (argument.starts_with("-o") && !argument.starts_with("--"))) {
            if (outputGiven_) {
                throw UsageError("-o が二度指定されています。");
            }
            outputGiven_ = true;
            result.outputFolder = Value(argument, argument.starts_with("--") ? "--output" : "-o");
            if (result.outputFolder.empty()) {
                throw UsageError("-o には出力先フォルダを指定してください。");
            }
        } else if (argument.starts_with("--format")) {
            result.format = FormatNamed(Value(argument, "--format"));
            compressOnly_.emplace_back("--format");
        } else if (argument.starts_with("--level")) {
            result.level = LevelNamed(Value(argument, "--level"));
            compressOnly_.emplace_back("--level");
        } else if (argument.starts_with("--method")) {
            result.method = MethodNamed(Value(argument, "--method"));
            compressOnly_.emplace_back("--method");
        } else {
            throw UsageError("不明なオプションです: " + std::string(argument));
        }
    }

    // The value of an option named by its long or short spelling.
    std::string Value(std::string_view argument, std::string_view name) {
        if (argument == name) {
            if (index_ + 1 >= arguments_.size()) {
                throw UsageError(std::string(name) + " には値が必要です。");
            }
            return std::string(arguments_[++index_]);
        }
        std::string_view rest = argument.substr(name.size());
        if (name.starts_with("--")) {
            if (!rest.starts_with('=')) {
                throw UsageError("不明なオプションです: " + std::string(argument));
            }
            rest.remove_prefix(1);
        }
        return std::string(rest);
    }

    void Check(const CliArguments& result) const {
        if (result.verbose && result.quiet) {
            throw UsageError("-v と -q は同時に指定できません。");
        }
        const bool writes =
            result.command == Command::kCompress || result.command == Command::kDecompress;
        if (result.command != Command::kCompress && !compressOnly_.empty()) {
            throw UsageError(compressOnly_.front() + " は compress でだけ使えます。");
        }
        if (result.method && result.format != "lzh") {
            throw UsageError("--method は lzh の書庫でだけ使えます。");
        }
        const FormatRule& rule = *RuleOf(result.format);
        if (result.level && !rule.level) {
            throw UsageError("--level は " +
                             FormatNames([](const FormatRule& r) { return r.level; }) +
                             " の書庫でだけ使えます (lzh では --method)。");
        }
        if (result.selfExtracting && !rule.selfExtracting) {
            throw UsageError("--sfx は " +
                             FormatNames([](const FormatRule& r) { return r.selfExtracting; }) +
                             " の書庫でだけ使えます。");
        }
        if (!writes && !writingOnly_.empty()) {
            throw UsageError(writingOnly_.front() + " は compress と decompress でだけ使えます。");
        }
        if (writes && !outputGiven_) {
            throw UsageError("-o で出力先フォルダを指定してください。");
        }
        if (!writes && outputGiven_) {
            throw UsageError("-o は compress と decompress でだけ使えます。");
        }
        if (result.files.empty()) {
            throw UsageError(result.command == Command::kCompress ? "ファイルを指定してください。"
                                                                  : "書庫を指定してください。");
        }
    }

    std::span<const std::string_view> arguments_;
    std::size_t index_ = 0;
    bool outputGiven_ = false;
    std::vector<std::string> compressOnly_;
    std::vector<std::string> writingOnly_;  // compress and decompress
};

}  // namespace

CliArguments ParseArguments(std::span<const std::string_view> arguments) {
    // Help, version and the file-manager actions answer whatever else the line holds, up to "--".
    for (const std::string_view argument : arguments) {
        if (argument == "--") {
            break;
        }
        if (argument == "-h" || argument == "--help") {
            CliArguments help;
            help.command = Command::kHelp;
            return help;
        }
        if (argument == "--version") {
            CliArguments version;
            version.command = Command::kVersion;
            return version;
        }
        if (argument == "--install-file-manager-actions") {
            CliArguments install;
            install.command = Command::kInstallFileManagerActions;
            return install;
        }
    }
    return ArgumentReader(arguments).Read();
}

std::string UsageText() {
    std::string text;
    text += "使い方: " + std::string(kProgram) + " <コマンド> [オプション] ファイル...\n";
    text += R"(
ファイルを 1 つずつ LHA 書庫にまとめ、または書庫を 1 つずつ展開します。
処理はウィンドウ版 (zembrat) と同じです。

コマンド:
  compress [--format lzh|zip|tar|tgz|tar.gz|tar.bz2|cab|gza|bza] [--sfx] [--overwrite] [--upper]
           [--method lh0|lh5|lh6|lh7] [--level 0-9] -o フォルダ ファイル...
      ファイルごとに書庫 (名前.lzh、--sfx では自己解凍形式の 名前.exe) をフォルダに作ります。
  decompress [--overwrite] -o フォルダ 書庫...
      書庫を 1 つずつフォルダに展開します (LHA のほか、読み込める形式の書庫)。
      既にあるファイルは残し、そのことを表示します (--overwrite で上書き)。
  list 書庫...
      書庫の中身 (名前、元のサイズ、圧縮後のサイズ、圧縮率、日時、方式) を表示します。
  test 書庫...
      書庫のすべてのファイルを展開して CRC を確かめます (ディスクには書きません)。

オプション:
  -o, --output フォルダ  出力先フォルダ (なければ作ります)
      --sfx              自己解凍形式 (.exe) で作ります (lzh, zip, tar, tgz, tar.gz, cab, gza, bza)
      --overwrite        同名ファイルの場合は上書きします (指定しなければそのファイルは飛ばします。
                         decompress ではウィンドウ版と同じく上書きして展開します)
      --upper            拡張子は大文字にします (.LZH / .EXE)
      --format 形式      作る書庫の形式 lzh (指定しなければ), zip, tar, tgz, tar.gz, tar.bz2,
                         cab, gza, bza
      --method 方式      lzh の圧縮方式 lh0 (無圧縮), lh5, lh6, lh7 (指定しなければライブラリの既定)
      --level 数         zip, tgz, tar.gz, tar.bz2, gza, bza の圧縮レベル 0 から 9
                         (指定しなければライブラリの既定)
  -v, --verbose          ライブラリに渡したコマンドラインとその出力を表示します
  -q, --quiet            進行状況と結果のメッセージを表示しません (エラーは表示します)
  -h, --help             この説明を表示します
      --version          バージョンを表示します
      --install-file-manager-actions
                         Nautilus の右クリックメニュー (スクリプト) に「一つずつ圧縮 (Zembrat)」と
                         「ここに解凍 (Zembrat)」を加えます (今のユーザーだけ)

終了ステータス:
  0    すべてのファイルを処理しました
  1    処理できなかったファイルがあります (残りのファイルは処理しています)
  2    コマンドラインの誤り
  3    書庫コンポーネントのエラーで処理を中止しました
  130  中断されました (Ctrl+C)
)";
    return text;
}

std::string VersionText() {
    return std::string(kProgram) + " " + ZEMBRAT_VERSION + "\n";
}

}  // namespace zembrat::cli
