#include "platform/path.h"

#include <algorithm>
#include <vector>

#include "platform/file_system.h"

namespace zembrat::platform {

namespace {

// The characters that end a folder or drive part.
std::string Separators(const PathSyntax& syntax) {
    std::string separators(syntax.delimiters);
    if (syntax.drives) {
        separators += ':';
    }
    return separators;
}

bool IsDelimiter(char c, const PathSyntax& syntax) {
    return syntax.delimiters.find(c) != std::string_view::npos;
}

bool IsAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Length of the part that decides whether two paths can be related at all: a drive ("C:")
// or a share ("\\server\share") when the syntax has drives, then a leading delimiter.
std::size_t RootLength(std::string_view path, const PathSyntax& syntax) {
    std::size_t length = 0;
    if (syntax.drives) {
        if (path.size() >= 2 && IsAsciiLetter(path[0]) && path[1] == ':') {
            length = 2;
        } else if (path.size() >= 2 && IsDelimiter(path[0], syntax) &&
                   IsDelimiter(path[1], syntax)) {
            // A share name is server and share: two parts after the leading pair.
            std::size_t offset = 2;
            int parts = 0;
            while (offset < path.size()) {
                const std::size_t characterLength = CharacterLength(path, offset, syntax.codePage);
                if (characterLength == 1 && IsDelimiter(path[offset], syntax) && ++parts == 2) {
                    break;
                }
                offset += characterLength;
            }
            return offset;
        }
    }
    if (length < path.size() && IsDelimiter(path[length], syntax)) {
        ++length;
    }
    return length;
}

// The folder names of a folder part, empty parts left out.
std::vector<std::string_view> SplitFolders(std::string_view folders, const PathSyntax& syntax) {
    std::vector<std::string_view> parts;
    std::size_t partStart = 0;
    for (std::size_t offset = 0; offset < folders.size();) {
        const std::size_t length = CharacterLength(folders, offset, syntax.codePage);
        if (length == 1 && IsDelimiter(folders[offset], syntax)) {
            if (offset > partStart) {
                parts.push_back(folders.substr(partStart, offset - partStart));
            }
            partStart = offset + 1;
        }
        offset += length;
    }
    if (partStart < folders.size()) {
        parts.push_back(folders.substr(partStart));
    }
    return parts;
}

}  // namespace

PathSyntax PathSyntax::Host() {
    return PathSyntax{"/", false, SystemCodePage()};
}

PathSyntax PathSyntax::Windows(CodePage codePage) {
    return PathSyntax{"\\", true, codePage};
}

std::size_t FileNameStart(std::string_view path, const PathSyntax& syntax) {
    const std::size_t last = FindLastOf(path, Separators(syntax), syntax.codePage);
    return last == std::string_view::npos ? 0 : last + 1;
}

std::string ExtractFileName(std::string_view path, const PathSyntax& syntax) {
    return std::string(path.substr(FileNameStart(path, syntax)));
}

std::string ExtractFilePath(std::string_view path, const PathSyntax& syntax) {
    return std::string(path.substr(0, FileNameStart(path, syntax)));
}

std::string ExtractFileExt(std::string_view path, const PathSyntax& syntax) {
    const std::string_view name = path.substr(FileNameStart(path, syntax));
    const std::size_t dot = FindLastOf(name, ".", syntax.codePage);
    return dot == std::string_view::npos ? std::string() : std::string(name.substr(dot));
}

std::string ChangeFileExt(std::string_view path, std::string_view extension,
                          const PathSyntax& syntax) {
    const std::size_t nameStart = FileNameStart(path, syntax);
    const std::size_t dot = FindLastOf(path.substr(nameStart), ".", syntax.codePage);
    std::string result(dot == std::string_view::npos ? path : path.substr(0, nameStart + dot));
    result += extension;
    return result;
}

bool HasTrailingDelimiter(std::string_view path, const PathSyntax& syntax) {
    for (char delimiter : syntax.delimiters) {
        if (LastCharacterIs(path, delimiter, syntax.codePage)) {
            return true;
        }
    }
    return false;
}

std::string IncludeTrailingDelimiter(std::string_view path, const PathSyntax& syntax) {
    std::string result(path);
    if (!path.empty() && !HasTrailingDelimiter(path, syntax)) {
        result += syntax.Delimiter();
    }
    return result;
}

std::string ExcludeTrailingDelimiter(std::string_view path, const PathSyntax& syntax) {
    if (path.size() > 1 && HasTrailingDelimiter(path, syntax)) {
        path.remove_suffix(1);
    }
    return std::string(path);
}

std::string JoinPath(std::string_view folder, std::string_view name, const PathSyntax& syntax) {
    std::string result = IncludeTrailingDelimiter(folder, syntax);
    result += name;
    return result;
}

std::string ExpandFileName(std::string_view path) {
    if (path.empty()) {
        return std::string();
    }
    const PathSyntax syntax = PathSyntax::Host();
    std::string absolute;
    if (!IsDelimiter(path.front(), syntax)) {
        absolute = IncludeTrailingDelimiter(GetCurrentDirectory(), syntax);
    }
    absolute += path;

    std::vector<std::string_view> kept;
    for (std::string_view part : SplitFolders(absolute, syntax)) {
        if (part == ".") {
            continue;
        }
        if (part == "..") {
            if (!kept.empty()) {
                kept.pop_back();
            }
            continue;
        }
        kept.push_back(part);
    }
    std::string result;
    for (std::string_view part : kept) {
        result += syntax.Delimiter();
        result += part;
    }
    // A folder written with its trailing delimiter keeps it.
    if (result.empty() || HasTrailingDelimiter(path, syntax)) {
        result += syntax.Delimiter();
    }
    return result;
}

std::string ExtractRelativePath(std::string_view base, std::string_view path,
                                const PathSyntax& syntax) {
    const std::size_t baseRootLength = RootLength(base, syntax);
    const std::size_t pathRootLength = RootLength(path, syntax);
    if (!EqualsIgnoringAsciiCase(base.substr(0, baseRootLength), path.substr(0, pathRootLength),
                                 syntax.codePage)) {
        return std::string(path);
    }
    const std::size_t baseNameStart = std::max(FileNameStart(base, syntax), baseRootLength);
    const std::size_t pathNameStart = std::max(FileNameStart(path, syntax), pathRootLength);
    const auto baseFolders =
        SplitFolders(base.substr(baseRootLength, baseNameStart - baseRootLength), syntax);
    const auto pathFolders =
        SplitFolders(path.substr(pathRootLength, pathNameStart - pathRootLength), syntax);

    std::size_t shared = 0;
    while (shared < baseFolders.size() && shared < pathFolders.size() &&
           EqualsIgnoringAsciiCase(baseFolders[shared], pathFolders[shared], syntax.codePage)) {
        ++shared;
    }
    std::string result;
    for (std::size_t i = shared; i < baseFolders.size(); ++i) {
        result += "..";
        result += syntax.Delimiter();
    }
    for (std::size_t i = shared; i < pathFolders.size(); ++i) {
        result += pathFolders[i];
        result += syntax.Delimiter();
    }
    result += path.substr(pathNameStart);
    return result;
}

}  // namespace zembrat::platform
