// The Shift-JIS and path text helpers, the member-name checks and the name encoding. The
// first byte picks the code page and syntax; the rest (split at the first NUL into two
// paths) is the text. Each helper's promise is checked, not just that it returns.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/name_encoding.h"
#include "common/safe_path.h"
#include "platform/code_page.h"
#include "platform/path.h"

namespace {

using namespace zembrat;

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void CheckCharacters(std::string_view text, platform::CodePage codePage) {
    std::size_t last = std::string_view::npos;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = platform::CharacterLength(text, i, codePage);
        Require(length >= 1 && length <= 4 && i + length <= text.size());
        last = i;
        i += length;
    }
    Require(platform::LastCharacterStart(text, codePage) == last);
    const std::size_t found = platform::FindLastOf(text, "\\/:.", codePage);
    Require(found == std::string_view::npos || found < text.size());
    Require(platform::EqualsIgnoringAsciiCase(text, text, codePage));
}

void CheckPaths(std::string_view path, std::string_view other, const platform::PathSyntax& syntax) {
    const std::size_t start = platform::FileNameStart(path, syntax);
    Require(start <= path.size());
    const std::string folder = platform::ExtractFilePath(path, syntax);
    const std::string name = platform::ExtractFileName(path, syntax);
    Require(folder + name == path);
    const std::string ext = platform::ExtractFileExt(path, syntax);
    Require(ext.size() <= name.size());
    platform::ChangeFileExt(path, ".lzh", syntax);
    const std::string with = platform::IncludeTrailingDelimiter(path, syntax);
    // A path ending in a lone lead byte is no text of its code page: a delimiter added to it
    // becomes its second byte. Only whole text is held to the promise.
    const std::size_t lastStart = platform::LastCharacterStart(path, syntax.codePage);
    const bool endsWhole =
        path.empty() ||
        !platform::IsLeadByte(static_cast<unsigned char>(path[lastStart]), syntax.codePage);
    Require(!endsWhole || path.empty() || platform::HasTrailingDelimiter(with, syntax));
    platform::ExcludeTrailingDelimiter(with, syntax);
    platform::JoinPath(path, other, syntax);
    platform::ExtractRelativePath(path, other, syntax);
}

void CheckMemberName(std::string_view name) {
    std::string reason;
    if (auto relative = common::SafeRelativePath(name, reason)) {
        Require(!relative->empty() && relative->front() != '/');
        Require(*relative != ".." && relative->rfind("../", 0) != 0 &&
                relative->find("/../") == std::string::npos &&
                (relative->size() < 3 || relative->compare(relative->size() - 3, 3, "/..") != 0));
    } else {
        Require(!reason.empty());
    }
    const std::string shown = common::EscapeControlCharacters(name);
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const auto c = static_cast<unsigned char>(shown[i]);
        const auto next = i + 1 < shown.size() ? static_cast<unsigned char>(shown[i + 1]) : 0;
        Require(c >= 0x20 && c != 0x7F && !(c == 0xC2 && next >= 0x80 && next <= 0x9F));
    }
}

// A host name that is valid UTF-8 comes back unchanged after storing and reading, whichever
// header it was stored in.
void CheckNameRoundTrip(std::string_view hostName) {
    if (!common::IsValidUtf8(hostName) || hostName.find('\0') != std::string_view::npos) {
        return;
    }
    const auto stored = common::EncodeStoredName(hostName, platform::kCodePageUtf8);
    for (std::uint8_t osId : {std::uint8_t{'U'}, std::uint8_t{'M'}, std::uint8_t{'w'}}) {
        Require(common::DecodeStoredName(stored.bytes, stored.unicode, osId,
                                         platform::kCodePageUtf8) == hostName ||
                osId != 'U');
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::uint8_t selector = data[0];
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::size_t split = text.find('\0');
    const std::string_view path = text.substr(0, split);
    const std::string_view other =
        split == std::string_view::npos ? std::string_view() : text.substr(split + 1);

    const platform::CodePage codePage =
        (selector & 1) ? platform::kCodePageShiftJis : platform::kCodePageUtf8;
    CheckCharacters(text, codePage);
    const platform::PathSyntax syntax = (selector & 2) ? platform::PathSyntax::Windows(codePage)
                                                       : platform::PathSyntax{"/", false, codePage};
    CheckPaths(path, other, syntax);
    if (selector & 4) {
        const std::string expanded = platform::ExpandFileName(path);
        Require(path.empty() || (!expanded.empty() && expanded.front() == '/' &&
                                 expanded.find("/../") == std::string::npos));
    }
    CheckMemberName(path);
    if (!other.empty()) {
        std::string reason;
        if (auto relative = common::SafeRelativePath(path, reason)) {
            common::LinkTargetStaysInside(*relative, other);
        }
    }
    CheckNameRoundTrip(path);
    common::DecodeStoredName(text, selector & 8, selector >> 4 ? 'U' : 'M', codePage);
    return 0;
}
