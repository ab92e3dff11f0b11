#include "batch/batch_messages.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "archiver_api.h"
#include "batch/batch_run.h"

namespace zembrat::batch {

namespace {

struct CodeText {
    int result;
    const char* text;
};

// What each result code of the library contract means.
constexpr CodeText kCodeTexts[] = {
    {ARC_WARNING_SKIPPED, "一部のファイルを処理せずに残しました"},
    {ARC_ERROR_BAD_COMMAND, "書庫ライブラリへの指示が正しくありません"},
    {ARC_ERROR_NOT_ARCHIVE, "この形式の書庫ではありません"},
    {ARC_ERROR_BROKEN_ARCHIVE, "書庫が壊れています"},
    {ARC_ERROR_CRC, "ファイルが壊れています（CRC が一致しません）"},
    {ARC_ERROR_UNKNOWN_METHOD, "対応していない圧縮方式です"},
    {ARC_ERROR_CANNOT_READ, "ファイルを読み込めません"},
    {ARC_ERROR_CANNOT_WRITE, "ファイルを書き込めません"},
    {ARC_ERROR_UNSAFE_PATH, "展開先フォルダの外を指すファイルがあるため、展開しませんでした"},
    {ARC_ERROR_NO_FILES, "対象のファイルがありません"},
    {ARC_ERROR_TOO_LARGE, "この書庫形式で扱える大きさや長さを超えています"},
    {ARC_ERROR_NOT_REGULAR, "通常のファイルではありません"},
    {ARC_ERROR_BUFFER_TOO_SMALL, "出力の領域が足りません"},
    {ARC_ERROR_NO_MEMORY, "メモリが足りません"},
    {ARC_ERROR_ABORTED, "中断しました"},
    {ARC_ERROR_INTERNAL, "書庫ライブラリの内部エラーです"},
};

struct Phrase {
    std::string_view english;
    const char* japanese;
};

// The phrases the libraries put in their one-line reasons, longest first where one holds
// another, so that the most precise one is found first.
constexpr Phrase kPhrases[] = {
    {"compressed data ends early", "圧縮データが途中で終わっています"},
    {"no member could be read", "読み出せるファイルがありません"},
    {"archive ends inside member data", "ファイルのデータの途中で書庫が終わっています"},
    {"archive ends inside a header", "ヘッダーの途中で書庫が終わっています"},
    {"the member fails its CRC check", "CRC が一致しません"},
    {"header CRC mismatch", "ヘッダーの CRC が一致しません"},
    {"checksum error", "チェックサムが一致しません"},
    {"unreadable header", "ヘッダーを読めません"},
    {"no end of central directory record", "書庫の末尾の目録がありません"},
    {"the central directory lies outside the file", "書庫の目録がファイルの外を指しています"},
    {"truncated gzip data", "gzip データが途中で終わっています"},
    {"gzip data is cut short", "gzip データが途中で終わっています"},
    {"gzip data is damaged", "gzip データが壊れています"},
    {"bzip2 data is cut short", "bzip2 データが途中で終わっています"},
    {"bzip2 data is damaged", "bzip2 データが壊れています"},
    {"data is cut short", "データが途中で終わっています"},
    {"data is shorter than its declared size", "データが記録された大きさより短くなっています"},
    {"damaged compressed data", "圧縮データが壊れています"},
    {"damaged cabinet data", "キャビネットのデータが壊れています"},
    {"the cabinet ends early", "キャビネットが途中で終わっています"},
    {"damaged data", "データが壊れています"},
    {"encrypted", "暗号化されたファイルには対応していません"},
    {"unsupported method", "対応していない圧縮方式です"},
    {"not a cabinet", "キャビネット書庫ではありません"},
    {"not a GZA or BZA archive", "GZA/BZA 書庫ではありません"},
    {"unknown format", "形式が分かりません"},
    {"No space left on device", "ディスクの空きが足りません"},
    {"Permission denied", "アクセスが許可されていません"},
    {"No such file or directory", "ファイルまたはフォルダがありません"},
    {"Read-only file system", "読み取り専用のファイルシステムです"},
    {"file changed while it was being read", "読み込み中にファイルが変更されました"},
    {"changed while it was read", "読み込み中にファイルが変更されました"},
    {"became shorter while it was read", "読み込み中にファイルが短くなりました"},
    {"cannot create", "ファイルを作成できません"},
    {"cannot write", "書き込めません"},
    {"cannot open", "開けません"},
    {"cannot read", "読み込めません"},
    {"cannot find", "見つかりません"},
    {"the archive does not exist", "書庫がありません"},
    {"kept the existing file", "既存のファイルを残しました"},
    {"refused (symbolic link leads outside)", "フォルダの外を指すシンボリックリンクを拒否しました"},
    {"the archive took more than the CPU time limit", "書庫の処理が CPU 時間の上限を超えました"},
    {"the archive expands to more than", "書庫を展開すると上限を超える大きさになります"},
    {"the helper ended by signal", "書庫を読む補助プロセスがシグナルで終了しました"},
    {"the decoder failed on this archive", "この書庫の復号に失敗しました"},
    {"out of memory", "メモリが足りません"},
    {"stopped at the owner window's request", "中断しました"},
    {"nothing matches", "一致するファイルがありません"},
    {"no member matches the names given", "指定した名前に一致するファイルがありません"},
};

std::string CodeText(int result) {
    for (const auto& [code, text] : kCodeTexts) {
        if (code == result) {
            return text;
        }
    }
    char code[16];
    std::snprintf(code, sizeof code, "0x%04X", static_cast<unsigned>(result));
    return std::string("書庫ライブラリがエラーを返しました（") + code + "）";
}

std::string FailureLine(const std::string& path, const std::string& reason) {
    return reason.empty() ? path : path + " (" + reason + ")";
}

// Lists: up to `shown` lines, then how many more there are.
std::string ShortList(const char* heading, const std::vector<std::string>& lines,
                      std::size_t shown) {
    std::string text = std::string("\n\n") + heading;
    for (std::size_t i = 0; i < lines.size() && i < shown; ++i) {
        text += "\n" + lines[i];
    }
    if (lines.size() > shown) {
        text +=
            "\n" + std::string(text::kMore) + std::to_string(lines.size() - shown) + text::kItems;
    }
    return text;
}

std::string FullList(const char* heading, const std::vector<std::string>& lines) {
    std::string text = heading;
    for (const std::string& line : lines) {
        text += "\n" + line;
    }
    return text;
}

}  // namespace

std::string LibraryReason(int result, const std::string& libraryText) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%04X", static_cast<unsigned>(result));
    std::string reason = "結果 " + std::string(code);
    const std::string firstLine = libraryText.substr(0, libraryText.find('\n'));
    if (!firstLine.empty()) {
        reason += ": " + firstLine;
    }
    return reason;
}

std::string JapaneseLibraryReason(int result, std::string_view libraryText) {
    const std::string_view line = libraryText.substr(0, libraryText.find('\n'));
    const std::string base = CodeText(result);
    // Each known phrase where it stands in the line, in the line's order; a phrase inside a
    // longer one already found is not taken again.
    std::vector<std::pair<std::size_t, std::size_t>> taken;  // position, phrase index
    std::vector<std::pair<std::size_t, std::size_t>> spans;
    for (std::size_t i = 0; i < std::size(kPhrases); ++i) {
        const std::size_t at = line.find(kPhrases[i].english);
        if (at == std::string_view::npos) {
            continue;
        }
        const std::size_t end = at + kPhrases[i].english.size();
        const bool inside = std::any_of(spans.begin(), spans.end(), [&](const auto& span) {
            return at < span.second && end > span.first;
        });
        if (!inside) {
            taken.emplace_back(at, i);
            spans.emplace_back(at, end);
        }
    }
    std::sort(taken.begin(), taken.end());
    std::vector<std::string> details;
    for (const auto& [at, index] : taken) {
        const std::string japanese = kPhrases[index].japanese;
        if (base.find(japanese) == std::string::npos &&
            std::find(details.begin(), details.end(), japanese) == details.end()) {
            details.push_back(japanese);
        }
    }
    if (details.empty()) {
        return base;
    }
    std::string reason = base + "（";
    for (std::size_t i = 0; i < details.size(); ++i) {
        reason += (i == 0 ? "" : "、") + details[i];
    }
    return reason + "）";
}

std::string CompletionMessage(const BatchResult& result) {
    std::string message = result.cancelled ? text::kInterrupted + std::to_string(result.processed) +
                                                 text::kProcessedSoFar
                                           : std::to_string(result.processed) + text::kProcessed;
    if (!result.failed.empty()) {
        message += "\n\n";
        message += text::kFailedFiles;
        for (const auto& file : result.failed) {
            message += "\n" + FailureLine(file.path, file.reason);
        }
    }
    if (!result.skippedVolumes.empty()) {
        message += "\n\n";
        message += text::kSkippedVolumes;
        for (const std::string& path : result.skippedVolumes) {
            message += "\n" + path;
        }
    }
    return message;
}

ShortCompletion ShortCompletionMessage(const BatchResult& result, std::size_t shown) {
    ShortCompletion message;
    message.text = result.cancelled ? text::kInterrupted + std::to_string(result.processed) +
                                          text::kProcessedSoFar
                                    : std::to_string(result.processed) + text::kProcessed;
    std::vector<std::string> failed;
    for (const auto& file : result.failed) {
        failed.push_back(FailureLine(
            file.path,
            file.result != 0 ? JapaneseLibraryReason(file.result, file.libraryText) : file.reason));
    }
    if (!failed.empty()) {
        message.text += ShortList(text::kFailedFiles, failed, shown);
    }
    if (!result.skippedVolumes.empty()) {
        message.text += ShortList(text::kSkippedVolumes, result.skippedVolumes, shown);
    }
    if (failed.size() > shown || result.skippedVolumes.size() > shown) {
        if (!failed.empty()) {
            message.details = FullList(text::kFailedFiles, failed);
        }
        if (!result.skippedVolumes.empty()) {
            message.details += (message.details.empty() ? "" : "\n\n") +
                               FullList(text::kSkippedVolumes, result.skippedVolumes);
        }
    }
    return message;
}

}  // namespace zembrat::batch
