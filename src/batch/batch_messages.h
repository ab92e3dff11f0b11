// Every text the batch run shows or reports: the count lines, the reasons of its own, the
// notes, the final message in full (the command line) and in short (the window), and the
// Japanese words for what a library reports in English.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zembrat::batch {

struct BatchResult;

namespace text {

inline constexpr const char* kRemaining = "残り：";
inline constexpr const char* kProcessed = "個のファイルを処理しました";
inline constexpr const char* kInterrupted = "処理を中断しました　";
inline constexpr const char* kProcessedSoFar = "個のファイルが処理済みです";
inline constexpr const char* kFailedFiles = "次のファイルは処理できませんでした：";
inline constexpr const char* kSkippedVolumes =
    "次のファイルは分割書庫の続きなのでスキップしました（最初の巻が書庫全体を展開します）：";
inline constexpr const char* kMore = "ほか ";
inline constexpr const char* kItems = " 件";
inline constexpr const char* kNoWorkFolder = "作業フォルダを作成できません: ";
inline constexpr const char* kNotFound = "ファイルが見つかりません";
inline constexpr const char* kPathTooLong = "パスが長すぎます";
inline constexpr const char* kCannotExamine = "ファイルを調べられません: ";
inline constexpr const char* kIsFolder = "フォルダです。ファイルを指定してください";
inline constexpr const char* kAborted = "中断しました";
inline constexpr const char* kNoOutput = "出力ファイルができませんでした";
inline constexpr const char* kUnquotableName =
    "名前に改行が含まれているため、書庫ライブラリに渡せません";
inline constexpr const char* kQuoteWithoutListFile =
    "名前に二重引用符が含まれています。この形式の書庫ライブラリにはリストファイルで名前を渡せないた"
    "め、"
    "扱えません";
inline constexpr const char* kUnquotableFolder =
    "出力フォルダの名前に二重引用符または改行が含まれているため、書庫ライブラリに渡せません: ";
inline constexpr const char* kNoOutputFolder = "出力フォルダがありません: ";
inline constexpr const char* kNotAFolder =
    "出力フォルダとして指定されたものはフォルダではありません: ";
inline constexpr const char* kCannotWriteFolder = "出力フォルダに書き込めません: ";
inline constexpr const char* kSameRunCollision =
    "この実行で先に作った書庫と同じ名前になるため、作りませんでした: ";
inline constexpr const char* kCannotName = "できた書庫に名前を付けられませんでした: ";
inline constexpr const char* kCannotKeep = "書庫を展開中の上書きから守れませんでした: ";
inline constexpr const char* kLaterInput =
    "後で処理する選択ファイルと同じ名前になるため、作りませんでした: ";
inline constexpr const char* kRestoredLater =
    "後で処理する書庫を置き換えるファイルは展開せず、書庫を元に戻しました: ";
inline constexpr const char* kCannotRestore =
    "後で処理する書庫が置き換えられ、元に戻せませんでした: ";
inline constexpr const char* kReplacedEarlier = "この実行で先に展開したファイルを置き換えました: ";
inline constexpr const char* kCannotWriteList = "名前のリストファイルを書けません: ";

}  // namespace text

// The library's result code and the first line of its text, as the reason of a failed file:
// "結果 0x8004: damaged archive: ...".
std::string LibraryReason(int result, const std::string& libraryText);

// The same in Japanese only, for the window: what the code means, then what the known phrases
// of the library's text say. A phrase not in the table is left out rather than shown in
// English; the command line keeps the library's own words.
std::string JapaneseLibraryReason(int result, std::string_view libraryText);

// The final message: the count with its text, then the files that failed, if any, each
// with its reason, then the later volumes skipped, if any.
std::string CompletionMessage(const BatchResult& result);

// The final message for a box on the screen: the same count line, at most `shown` files of
// each list (reasons in Japanese) and "ほか N 件" for the rest; details holds both lists in
// full when anything was left out, else nothing.
struct ShortCompletion {
    std::string text;
    std::string details;
};
ShortCompletion ShortCompletionMessage(const BatchResult& result, std::size_t shown = 10);

}  // namespace zembrat::batch
