#include "common/name_encoding.h"

#include <gtest/gtest.h>

namespace zembrat::common {
namespace {

using platform::kCodePageShiftJis;
using platform::kCodePageUtf8;

const std::string kNihongoUtf8 =
    "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E/\xE8\xA1\xA8.txt";  // 日本語/表.txt
const std::string kNihongoCp932 = "\x93\xFA\x96\x7B\x8C\xEA/\x95\x5C.txt";

TEST(StoredName, AsciiAndJapaneseGoToCp932) {
    EXPECT_EQ(EncodeStoredName("dir/a.txt", kCodePageUtf8).bytes, "dir/a.txt");
    const StoredName japanese = EncodeStoredName(kNihongoUtf8, kCodePageUtf8);
    EXPECT_FALSE(japanese.unicode);
    EXPECT_EQ(japanese.bytes, kNihongoCp932);
    EXPECT_EQ(japanese.utf8, kNihongoUtf8);  // for the Unicode name headers
    // Under a Shift-JIS host the name already is CP932.
    const StoredName fromCp932 = EncodeStoredName(kNihongoCp932, kCodePageShiftJis);
    EXPECT_EQ(fromCp932.bytes, kNihongoCp932);
    EXPECT_EQ(fromCp932.utf8, kNihongoUtf8);
    EXPECT_EQ(EncodeStoredName("dir/a.txt", kCodePageUtf8).utf8, "");
}

TEST(StoredName, NamesCp932CannotHoldStayUnicode) {
    const std::string accented = "caf\xC3\xA9.txt";            // café.txt
    const std::string waveDash = "\xE3\x80\x9C.txt";           // 〜 comes back as ～
    const std::string mixed = "\xE6\x97\xA5\xF0\x9F\x98\x80";  // 日😀
    for (const std::string& name : {accented, waveDash, mixed}) {
        const StoredName stored = EncodeStoredName(name, kCodePageUtf8);
        EXPECT_TRUE(stored.unicode) << name;
        EXPECT_EQ(stored.bytes, name);
        EXPECT_EQ(DecodeStoredName(stored.bytes, stored.unicode, 'U', kCodePageUtf8), name);
    }
}

TEST(StoredName, DecodedToTheHostCodePage) {
    EXPECT_EQ(DecodeStoredName(kNihongoCp932, false, 'M', kCodePageUtf8), kNihongoUtf8);
    EXPECT_EQ(DecodeStoredName(kNihongoCp932, false, 'M', kCodePageShiftJis), kNihongoCp932);
    EXPECT_EQ(DecodeStoredName(kNihongoUtf8, true, 'U', kCodePageShiftJis), kNihongoCp932);
    // A Unix tool that stored its UTF-8 names raw.
    EXPECT_EQ(DecodeStoredName(kNihongoUtf8, false, 'U', kCodePageUtf8), kNihongoUtf8);
}

TEST(StoredName, BytesOfNoKnownEncodingAreKeptReadable) {
    // 0xFF is no CP932 lead byte and no UTF-8: read as Latin-1, so every byte survives.
    const std::string decoded = DecodeStoredName("a\xFF\xFE", false, 'M', kCodePageUtf8);
    EXPECT_EQ(decoded, "a\xC3\xBF\xC3\xBE");
    EXPECT_TRUE(IsValidUtf8(decoded));
}

TEST(StoredName, EveryEncodedNameRoundTrips) {
    for (const std::string& name :
         {std::string("plain.txt"), kNihongoUtf8, std::string("\xEF\xBD\xB1\xEF\xBD\xB2"),
          std::string("\xE2\x91\xA0.txt"), std::string("\xE3\x80\x9C")}) {
        const StoredName stored = EncodeStoredName(name, kCodePageUtf8);
        EXPECT_EQ(DecodeStoredName(stored.bytes, stored.unicode, 'M', kCodePageUtf8), name);
    }
}

TEST(Utf8, Validation) {
    EXPECT_TRUE(IsValidUtf8("abc"));
    EXPECT_TRUE(IsValidUtf8(kNihongoUtf8));
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));          // overlong '/'
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(IsValidUtf8("\xE6\x97"));          // cut short
    EXPECT_FALSE(IsValidUtf8("\x93\xFA\x96\x7B"));  // CP932
}

}  // namespace
}  // namespace zembrat::common
