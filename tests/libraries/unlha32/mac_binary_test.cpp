// Members from the Macintosh LHA tools: a MacBinary envelope gives its data fork, anything else
// is extracted as stored.
#include "unlha32/mac_binary.h"

#include <gtest/gtest.h>

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

// A MacBinary II envelope; change alters the header before its CRC is set.
std::string Envelope(const std::string& data, const std::string& resource,
                     const std::function<void(std::string&)>& change = {}) {
    std::string header(128, '\0');
    const std::string name = "Read Me";
    header[1] = static_cast<char>(name.size());
    header.replace(2, name.size(), name);
    header.replace(65, 8, "TEXTttxt");
    PutBigEndian(header, 83, static_cast<std::uint32_t>(data.size()), 4);
    PutBigEndian(header, 87, static_cast<std::uint32_t>(resource.size()), 4);
    header[122] = header[123] = static_cast<char>(129);
    if (change) {
        change(header);
    }
    PutBigEndian(header, 124, MacBinaryCrc(AsBytes(header).first(124)), 2);
    return header + (resource.empty() ? data : Padded(data) + resource);
}

TEST(MacBinary, TheHeaderCrcIsTheCcittOne) {
    EXPECT_EQ(MacBinaryCrc(AsBytes("123456789")), 0x31C3);
}

TEST(MacBinary, EnvelopesGiveTheirDataForkAndAnythingElseAsStored) {
    REQUIRE_LIBRARY();
    const std::string data = "the data fork\n";
    const std::string resource = "RSRC resource fork";
    const std::string envelope = Envelope(data, resource);
    std::string badCrc = envelope;
    badCrc[125] = static_cast<char>(badCrc[125] ^ 1);
    const std::string large = Text(5 << 20);  // decoded on the reader's second thread
    const struct {
        const char* what;
        std::uint8_t osId;
        std::string stored;
        std::string extracted;
    } cases[] = {
        {"envelope", 'm', envelope, data},
        {"no resource fork, data not padded", 'm', Envelope(data, ""), data},
        {"large data fork", 'm', Envelope(large, resource), large},
        {"from a Unix tool", 'U', envelope, envelope},
        {"header CRC wrong", 'm', badCrc, badCrc},
        {"byte 74 not zero", 'm', Envelope(data, resource, [](std::string& h) { h[74] = 1; }), ""},
        {"forks longer than the member", 'm',
         Envelope(data, resource, [](std::string& h) { PutBigEndian(h, 83, 4096, 4); }), ""},
        {"no name", 'm', Envelope(data, resource, [](std::string& h) { h[1] = 0; }), ""},
        {"shorter than a header", 'm', "tiny", "tiny"},
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
