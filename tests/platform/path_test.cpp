#include "platform/path.h"

#include <gtest/gtest.h>

#include "platform/file_system.h"

namespace zembrat::platform {
namespace {

const PathSyntax kWindows = PathSyntax::Windows(kCodePageShiftJis);
const PathSyntax kPosix{"/", false, kCodePageUtf8};

TEST(Path, FileNameAndFolderParts) {
    EXPECT_EQ(ExtractFileName("C:\\dir\\a.txt", kWindows), "a.txt");
    EXPECT_EQ(ExtractFileName("C:a.txt", kWindows), "a.txt");  // ':' ends the drive
    EXPECT_EQ(ExtractFilePath("C:\\dir\\a.txt", kWindows), "C:\\dir\\");
    EXPECT_EQ(ExtractFilePath("a.txt", kWindows), "");
    // "表.txt" inside "表\": neither 0x5C is a delimiter.
    EXPECT_EQ(ExtractFileName("\x95\x5C\\\x95\x5C.txt", kWindows), "\x95\x5C.txt");
    EXPECT_EQ(ExtractFileName("\x95\x5C.txt", kWindows), "\x95\x5C.txt");

    EXPECT_EQ(ExtractFileName("/home/u/a.txt", kPosix), "a.txt");
    EXPECT_EQ(ExtractFileName("C:a.txt", kPosix), "C:a.txt");  // no drives here
    EXPECT_EQ(ExtractFileName("dir\\a.txt", kPosix), "dir\\a.txt");
    EXPECT_EQ(ExtractFilePath("/home/u/a.txt", kPosix), "/home/u/");
}

TEST(Path, ExtensionsBelongToTheFileNamePart) {
    for (const PathSyntax& syntax : {kWindows, kPosix}) {
        EXPECT_EQ(ExtractFileExt("a.tar.gz", syntax), ".gz");
        EXPECT_EQ(ExtractFileExt("README", syntax), "");
        EXPECT_EQ(ChangeFileExt("a.tar.gz", ".lzh", syntax), "a.tar.lzh");
        EXPECT_EQ(ChangeFileExt("README", ".lzh", syntax), "README.lzh");
    }
    EXPECT_EQ(ExtractFileExt("dir.x\\README", kWindows), "");
    EXPECT_EQ(ChangeFileExt("dir.x\\README", ".lzh", kWindows), "dir.x\\README.lzh");
    EXPECT_EQ(ChangeFileExt("dir.x/README", ".lzh", kPosix), "dir.x/README.lzh");
    EXPECT_EQ(ChangeFileExt("C:\\a\\b.txt", "", kWindows), "C:\\a\\b");
}

TEST(Path, TrailingDelimiters) {
    EXPECT_EQ(IncludeTrailingDelimiter("C:\\OUT", kWindows), "C:\\OUT\\");
    EXPECT_EQ(IncludeTrailingDelimiter("C:\\OUT\\", kWindows), "C:\\OUT\\");
    // A folder named "表" ends in the byte 0x5C but has no delimiter yet.
    EXPECT_FALSE(HasTrailingDelimiter("C:\\\x95\x5C", kWindows));
    EXPECT_EQ(IncludeTrailingDelimiter("C:\\\x95\x5C", kWindows), "C:\\\x95\x5C\\");
    EXPECT_EQ(ExcludeTrailingDelimiter("C:\\\x95\x5C", kWindows), "C:\\\x95\x5C");
    EXPECT_EQ(ExcludeTrailingDelimiter("C:\\OUT\\", kWindows), "C:\\OUT");

    EXPECT_EQ(IncludeTrailingDelimiter("/out", kPosix), "/out/");
    EXPECT_EQ(ExcludeTrailingDelimiter("/out/", kPosix), "/out");
    EXPECT_EQ(ExcludeTrailingDelimiter("/", kPosix), "/");  // the root stays the root
    EXPECT_EQ(IncludeTrailingDelimiter("", kPosix), "");    // the current folder stays
}

TEST(Path, JoinPath) {
    // The name "a" joined to each folder: a delimiter only where the folder lacks one.
    struct Join {
        const PathSyntax& syntax;
        std::string_view folder;
        std::string_view joined;
    };
    for (const auto& [syntax, folder, joined] : {
             Join{kWindows, "", "a"},
             Join{kWindows, "C:\\x\\", "C:\\x\\a"},
             Join{kWindows, "C:\\x", "C:\\x\\a"},
             Join{kWindows, "C:\\\x95\x5C", "C:\\\x95\x5C\\a"},
             Join{kPosix, "", "a"},
             Join{kPosix, "/x/", "/x/a"},
             Join{kPosix, "/x", "/x/a"},
         }) {
        EXPECT_EQ(JoinPath(folder, "a", syntax), joined) << folder;
    }
}

TEST(Path, RelativePathsUnderWindowsSyntax) {
    EXPECT_EQ(ExtractRelativePath("C:\\work\\", "C:\\work\\sub\\a.txt", kWindows), "sub\\a.txt");
    EXPECT_EQ(ExtractRelativePath("C:\\work\\x\\", "C:\\work\\y\\a.txt", kWindows), "..\\y\\a.txt");
    // The base counts up to its last delimiter: "C:\work" is the folder "C:\".
    EXPECT_EQ(ExtractRelativePath("C:\\work", "C:\\work\\a.txt", kWindows), "work\\a.txt");
    EXPECT_EQ(ExtractRelativePath("c:\\WORK\\", "C:\\work\\a.txt", kWindows), "a.txt");
    EXPECT_EQ(ExtractRelativePath("C:\\work\\", "D:\\work\\a.txt", kWindows), "D:\\work\\a.txt");
    // Folders whose names differ only in the trail byte of a katakana are different.
    EXPECT_EQ(ExtractRelativePath("C:\\\x83\x41\\", "C:\\\x83\x61\\a", kWindows),
              "..\\\x83\x61\\a");
    EXPECT_EQ(ExtractRelativePath("C:\\\x95\x5C\\", "C:\\\x95\x5C\\a", kWindows), "a");
}

TEST(Path, RelativePathsUnderPosixSyntax) {
    EXPECT_EQ(ExtractRelativePath("/w/", "/w/s/a", kPosix), "s/a");
    EXPECT_EQ(ExtractRelativePath("/w/x/y/", "/w/s/a", kPosix), "../../s/a");
    EXPECT_EQ(ExtractRelativePath("/w/", "rel/a", kPosix), "rel/a");  // unrelated roots
}

TEST(Path, ExpandFileNameFoldsDotsAgainstTheCurrentFolder) {
    EXPECT_EQ(ExpandFileName("/a/./b/../c"), "/a/c");
    EXPECT_EQ(ExpandFileName("/a/b/"), "/a/b/");
    EXPECT_EQ(ExpandFileName("/../x"), "/x");

    const std::string saved = GetCurrentDirectory();
    ASSERT_TRUE(SetCurrentDirectory("/usr/lib"));
    EXPECT_EQ(ExpandFileName("name"), "/usr/lib/name");
    EXPECT_EQ(ExpandFileName("./sub/../../bin/"), "/usr/bin/");
    EXPECT_EQ(ExpandFileName("../../.."), "/");
    ASSERT_TRUE(SetCurrentDirectory(saved));
}

}  // namespace
}  // namespace zembrat::platform
