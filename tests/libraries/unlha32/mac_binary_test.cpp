// Members from the Macintosh LHA tools: a MacBinary envelope that agrees with its member's
// header gives its data fork, anything else is extracted as stored.
#include "unlha32/mac_binary.h"

#include <gtest/gtest.h>

#include <ctime>
#include <functional>

#include "lha/archive.h"
#include "lha/stream.h"
#include "unlha32_library.h"

namespace zembrat::unlha32::testing {
namespace {

std::span<const std::byte> AsBytes(const std::string& text) {
    return std::as_bytes(std::span(text.data(), text.size()));
}

void PutBigEndian(std::string& bytes, std::size_t at, std::uint32_t value, int width) {
    for (int i = width - 1; i >= 0; --i, value >>= 8) {
        bytes[at + static_cast<std::size_t>(i)] = static_cast<char>(value & 0xFF);
    }
}

std::string Padded(std::string bytes) {
    bytes.resize((bytes.size() + 127) / 128 * 128, '\0');
    return bytes;
}

constexpr std::int64_t kMemberTime = 1700000000;  // 2023-11-14 22:13:20 UTC
constexpr std::int64_t kOneHour = 3600;

// The member's time as a Macintosh clock in this zone showed it: seconds since 1904, local.
std::uint32_t MacTime(std::int64_t unixTime) {
    const auto time = static_cast<std::time_t>(unixTime);
    std::tm parts{};
    ::localtime_r(&time, &parts);
    return static_cast<std::uint32_t>(unixTime + parts.tm_gmtoff + 2082844800);
}

// A MacBinary I envelope as the Macintosh LHA tools write it (no CRC, bytes 0x65-0x7F zero),
// both forks padded; change alters the header.
std::string Envelope(const std::string& data, const std::string& resource,
                     const std::function<void(std::string&)>& change = {}) {
    std::string header(128, '\0');
    const std::string name = "Read Me";
    header[1] = static_cast<char>(name.size());
    header.replace(2, name.size(), name);
    header.replace(65, 8, "TEXTttxt");
    PutBigEndian(header, 83, static_cast<std::uint32_t>(data.size()), 4);
    PutBigEndian(header, 87, static_cast<std::uint32_t>(resource.size()), 4);
    PutBigEndian(header, 91, MacTime(kMemberTime - 86400 * 30), 4);
    PutBigEndian(header, 95, MacTime(kMemberTime), 4);
    if (change) {
        change(header);
    }
    return header + Padded(data) + Padded(resource);
}

// The same as a MacBinary II header: version bytes and the CRC over the first 124 bytes.
std::string WithCrc(std::string envelope) {
    envelope[122] = envelope[123] = static_cast<char>(129);
    PutBigEndian(envelope, 124, MacBinaryCrc(AsBytes(envelope).first(124)), 2);
    return envelope;
}

TEST(MacBinary, TheHeaderCrcIsTheCcittOne) {
    EXPECT_EQ(MacBinaryCrc(AsBytes("123456789")), 0x31C3);
}

TEST(MacBinary, EnvelopesGiveTheirDataForkAndAnythingElseAsStored) {
    REQUIRE_LIBRARY();
    const std::string data = "the data fork\n";
    const std::string resource = "RSRC resource fork";
    const std::string envelope = Envelope(data, resource);
    const std::string large = Text(5 << 20);  // decoded on the reader's second thread
    const auto changed = [&](const std::function<void(std::string&)>& change) {
        return Envelope(data, resource, change);
    };
    const auto macTimeShift = [](std::int64_t seconds) {
        return
            [seconds](std::string& h) { PutBigEndian(h, 95, MacTime(kMemberTime + seconds), 4); };
    };
    const struct {
        const char* what;
        std::uint8_t osId;
        std::string stored;
        std::string extracted;  // empty: the member as stored
    } cases[] = {
        {"MacBinary I envelope", 'm', envelope, data},
        {"MacBinary II envelope, CRC right", 'm', WithCrc(envelope), data},
        {"data fork only", 'm', Envelope(data, ""), data},
        {"large data fork", 'm', Envelope(large, resource), large},
        {"time 20 hours off (the zones)", 'm', changed(macTimeShift(20 * kOneHour)), data},
        {"from a Unix tool", 'U', envelope, ""},
        {"version byte not zero", 'm', changed([](std::string& h) { h[0] = 1; }), ""},
        {"byte 0x4A not zero", 'm', changed([](std::string& h) { h[0x4A] = 1; }), ""},
        {"byte 0x52 not zero", 'm', changed([](std::string& h) { h[0x52] = 1; }), ""},
        {"no name", 'm', changed([](std::string& h) { h[1] = 0; }), ""},
        {"name longer than 63", 'm', changed([](std::string& h) { h[1] = 64; }), ""},
        {"another name", 'm', changed([](std::string& h) { h[2] = 'D'; }), ""},
        {"bytes after the name", 'm', changed([](std::string& h) { h[40] = 'x'; }), ""},
        {"a Get-Info comment", 'm', changed([](std::string& h) { h[100] = 5; }), ""},
        {"forks longer than the member", 'm',
         changed([](std::string& h) { PutBigEndian(h, 83, 4096, 4); }), ""},
        {"forks shorter than the member", 'm', envelope + std::string(128, 'x'), ""},
        {"last fork not padded", 'm', envelope.substr(0, 128 + 128 + resource.size()), ""},
        {"time two days off", 'm', changed(macTimeShift(-2 * 86400)), ""},
        {"shorter than a header", 'm', "tiny", ""},
    };
    TempFolder scratch;
    for (const auto& [what, osId, stored, extracted] : cases) {
        SCOPED_TRACE(what);
        const std::string archive = scratch.Folder() + "mac.lzh";
        {
            lha::FileOutput output(archive);
            lha::Writer writer(output, lha::WriterOptions{.method = "-lh5-", .osId = osId});
            lha::Member header;
            header.path = "Read Me";
            header.unixTime = kMemberTime;
            lha::MemoryInput input(AsBytes(stored));
            writer.AddFile(header, input, stored.size());
            writer.Finish();
            output.Close();
        }
        const std::string expected = extracted.empty() ? stored : extracted;
        const std::string out = scratch.Folder() + "out/";
        std::filesystem::remove_all(out);
        auto result = Library().Run("x \"" + archive + "\" \"" + out + "\"");
        ASSERT_EQ(result.code, 0) << result.text;
        EXPECT_EQ(ReadFile(out + "Read Me"), expected);

        std::string memory(stored.size(), '\0');
        std::uint32_t written = 0;
        ASSERT_EQ(Library().extractMem(0, ("\"" + archive + "\" \"Read Me\"").c_str(),
                                       reinterpret_cast<unsigned char*>(memory.data()),
                                       static_cast<std::uint32_t>(memory.size()), nullptr, nullptr,
                                       &written),
                  0);
        EXPECT_EQ(memory.substr(0, written), expected);
        // Testing and listing see the member as stored.
        EXPECT_EQ(Library().Run("t \"" + archive + "\"").code, 0);
        EXPECT_EQ(Library().Names(archive), std::vector<std::string>{"Read Me"});
    }
}

}  // namespace
}  // namespace zembrat::unlha32::testing
