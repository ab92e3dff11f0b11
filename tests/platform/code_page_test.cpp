#include "platform/code_page.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace zembrat::platform {
namespace {

constexpr auto npos = std::string_view::npos;
// "表": its second byte is the code of '\\'.
constexpr std::string_view kOmote = "\x95\x5C";

TEST(CodePage, ShiftJisTrailByteIsNeverABackslash) {
    EXPECT_FALSE(LastCharacterIs(kOmote, '\\', kCodePageShiftJis));
    EXPECT_EQ(FindLastOf("a\\b\x95\x5C", "\\", kCodePageShiftJis), 1u);
    EXPECT_EQ(FindLastOf(kOmote, "\\", kCodePageShiftJis), npos);
    // The same bytes are two characters under UTF-8, where 0x95 starts nothing.
    EXPECT_TRUE(LastCharacterIs(kOmote, '\\', kCodePageUtf8));
    // A real backslash after the double-byte character is found.
    EXPECT_TRUE(LastCharacterIs("\x95\x5C\\", '\\', kCodePageShiftJis));
}

TEST(CodePage, BoundariesAreFoundFromTheStartOfTheText) {
    // 0x81 is a lead byte, yet here the second 0x81 is the trail byte of the first: the
    // final 0x5C stands alone and is a backslash.
    EXPECT_EQ(LastCharacterStart("\x81\x81\x5C", kCodePageShiftJis), 2u);
    EXPECT_TRUE(LastCharacterIs("\x81\x81\x5C", '\\', kCodePageShiftJis));
    // One more lead byte shifts every pair: now 0x81 0x5C is one character.
    EXPECT_EQ(LastCharacterStart("\x81\x81\x81\x5C", kCodePageShiftJis), 2u);
    EXPECT_FALSE(LastCharacterIs("\x81\x81\x81\x5C", '\\', kCodePageShiftJis));
    // A lead byte cut off at the end counts as a character of its own.
    EXPECT_EQ(LastCharacterStart("ab\x81", kCodePageShiftJis), 2u);
    EXPECT_EQ(LastCharacterStart("", kCodePageShiftJis), npos);
}

TEST(CodePage, CharacterLengths) {
    EXPECT_EQ(CharacterLength("\xE0\x40", 0, kCodePageShiftJis), 2u);
    EXPECT_EQ(CharacterLength("\xB1\x40", 0, kCodePageShiftJis), 1u);   // half-width katakana
    EXPECT_EQ(CharacterLength("\xE3\x81\x82z", 0, kCodePageUtf8), 3u);  // "あ"
    EXPECT_EQ(CharacterLength("\xE3\x81z", 0, kCodePageUtf8), 1u);      // broken sequence
}

TEST(CodePage, CaseIsIgnoredForSingleByteCharactersOnly) {
    EXPECT_TRUE(EqualsIgnoringAsciiCase("Readme.TXT", "README.txt", kCodePageShiftJis));
    EXPECT_TRUE(EqualsIgnoringAsciiCase("a\x83\x41", "A\x83\x41", kCodePageShiftJis));
    // 0x83 0x41 and 0x83 0x61 are different katakana, not upper and lower case.
    EXPECT_FALSE(EqualsIgnoringAsciiCase("\x83\x41", "\x83\x61", kCodePageShiftJis));
    EXPECT_FALSE(EqualsIgnoringAsciiCase("abc", "abcd", kCodePageUtf8));
}

TEST(CodePage, SystemCodePageFollowsTheLocaleCodeset) {
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    for (const char* locale : {"C", "C.UTF-8"}) {
        if (std::setlocale(LC_ALL, locale) != nullptr) {
            EXPECT_EQ(SystemCodePage(), kCodePageUtf8) << locale;
        }
    }
    if (std::setlocale(LC_ALL, "ja_JP.SJIS") != nullptr) {
        EXPECT_EQ(SystemCodePage(), kCodePageShiftJis);
    }
    std::setlocale(LC_ALL, saved.c_str());
}

}  // namespace
}  // namespace zembrat::platform
