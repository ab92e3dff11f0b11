#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "common/output_text.h"
#include "common/progress.h"
#include "common/sfx_trailer.h"
#include "platform/messages.h"
#include "temp_folder.h"

namespace zembrat::common {
namespace {

TEST(OutputText, NulTerminatedNeverOverflowingAndCutAtWholeCharacters) {
    OutputText text;
    text.Line("\xE6\x97\xA5\xE6\x9C\xAC");  // two 3-byte characters and a line feed
    text.FirstLine("reason");
    EXPECT_EQ(text.Text(), "reason\n\xE6\x97\xA5\xE6\x9C\xAC\n");

    std::array<char, 12> buffer;
    buffer.fill('#');
    text.CopyTo(buffer.data(), 11);
    EXPECT_STREQ(buffer.data(), "reason\n\xE6\x97\xA5");  // the second character would not fit
    EXPECT_EQ(buffer[11], '#');

    text.CopyTo(nullptr, 0);  // allowed
    buffer.fill('#');
    text.CopyTo(buffer.data(), 1);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer[1], '#');
}

TEST(SfxTrailer, FoundOnlyWhenMarkedAndInside) {
    const auto trailer = MakeSfxTrailer(1000);
    const auto found = ParseSfxTrailer(trailer, 5016);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->offset, 1000u);
    EXPECT_EQ(found->end, 5000u);
    EXPECT_FALSE(ParseSfxTrailer(trailer, 1016));  // offset at or past the archive end
    auto broken = trailer;
    broken[15] = std::byte{'Y'};
    EXPECT_FALSE(ParseSfxTrailer(broken, 5016));

    testing::TempFolder scratch;
    std::string content(100, 'S');
    content += "ARCHIVE";
    content.append(reinterpret_cast<const char*>(MakeSfxTrailer(100).data()), kSfxTrailerSize);
    const auto onDisk = FindSfxArchive(scratch.Write("x.exe", content));
    ASSERT_TRUE(onDisk);
    EXPECT_EQ(onDisk->offset, 100u);
    EXPECT_EQ(onDisk->end, 107u);
    EXPECT_FALSE(FindSfxArchive(scratch.Write("plain", "short")));
}

TEST(ProgressReporter, SendsTheRegisteredMessageAndReadsTheAnswer) {
    std::vector<std::uintptr_t> states;
    std::string name;
    std::intptr_t answer = 0;
    platform::HiddenWindow window([&](platform::MessageId message, std::uintptr_t state,
                                      std::intptr_t record) -> std::intptr_t {
        EXPECT_EQ(message, platform::RegisterWindowMessage("wm_arcextract"));
        states.push_back(state);
        name = reinterpret_cast<const EXTRACTINGINFOEX*>(record)->source_file_name;
        return answer;
    });
    ProgressReporter reporter(window.Handle(), nullptr);
    ASSERT_TRUE(reporter.Active());
    EXTRACTINGINFOEX record{};
    CopyToField(record.source_file_name, sizeof record.source_file_name, "a.txt");
    EXPECT_FALSE(reporter.Send(ARC_PROGRESS_BEGIN, record));
    answer = 1;
    EXPECT_TRUE(reporter.Send(ARC_PROGRESS_UPDATE, record));
    EXPECT_EQ(states, (std::vector<std::uintptr_t>{ARC_PROGRESS_BEGIN, ARC_PROGRESS_UPDATE}));
    EXPECT_EQ(name, "a.txt");
    EXPECT_FALSE(ProgressReporter().Active());
}

// A field always ends in a NUL; an empty text (a view that holds no pointer at all) clears it.
TEST(OutputText, CopyToFieldEndsInANulAndClearsForNothing) {
    char field[6];
    CopyToField(field, sizeof field, "abc");
    EXPECT_STREQ(field, "abc");
    CopyToField(field, sizeof field, "abcdefgh");
    EXPECT_STREQ(field, "abcde");
    CopyToField(field, sizeof field, std::string_view{});
    EXPECT_STREQ(field, "");
}

}  // namespace
}  // namespace zembrat::common
