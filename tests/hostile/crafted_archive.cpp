#include "crafted_archive.h"

#include <string_view>

#include "lha/archive.h"

namespace zembrat::hostile {

namespace {

void Put8(Bytes& out, unsigned value) {
    out.push_back(static_cast<std::byte>(value & 0xFF));
}
void Put16(Bytes& out, unsigned value) {
    Put8(out, value);
    Put8(out, value >> 8);
}
void Put32(Bytes& out, std::uint64_t value) {
    Put16(out, static_cast<unsigned>(value & 0xFFFF));
    Put16(out, static_cast<unsigned>((value >> 16) & 0xFFFF));
}
void Put64(Bytes& out, std::uint64_t value) {
    Put32(out, value & 0xFFFFFFFFu);
    Put32(out, value >> 32);
}
void PutText(Bytes& out, std::string_view text) {
    for (char c : text) {
        Put8(out, static_cast<unsigned char>(c));
    }
}
void Patch16(Bytes& out, std::size_t at, unsigned value) {
    out[at] = static_cast<std::byte>(value & 0xFF);
    out[at + 1] = static_cast<std::byte>((value >> 8) & 0xFF);
}

std::uint16_t DataCrc(std::string_view data) {
    return lha::Crc16(std::as_bytes(std::span(data.data(), data.size())));
}

// Extended headers of levels 1 and 2: each is size (u16, itself included), type, payload;
// the size of the next one ends it. Returns the bytes, with the first size left to the caller.
Bytes ExtendedChain(const CraftedMember& m, bool withName) {
    std::vector<std::pair<std::uint8_t, std::string>> all;
    if (withName) {
        all.emplace_back(0x01, m.name);
    }
    if (m.largeOriginalSize) {
        Bytes sizes;
        Put64(sizes, m.compressedSize.value_or(static_cast<std::uint32_t>(m.data.size())));
        Put64(sizes, *m.largeOriginalSize);
        all.emplace_back(0x42, std::string(reinterpret_cast<const char*>(sizes.data()), 16));
    }
    std::string mode;
    mode.push_back(static_cast<char>(m.unixMode & 0xFF));
    mode.push_back(static_cast<char>(m.unixMode >> 8));
    all.emplace_back(0x50, mode);
    all.insert(all.end(), m.extended.begin(), m.extended.end());
    Bytes chain;
    for (const auto& [type, payload] : all) {
        Put8(chain, type);
        PutText(chain, payload);
        Put16(chain, 0);  // the next size, patched below
    }
    // Patch each "next size" now that the sizes are known.
    std::size_t at = 0;
    for (std::size_t i = 0; i < all.size(); ++i) {
        at += 1 + all[i].second.size();
        const unsigned next = i + 1 < all.size() ? 3 + all[i + 1].second.size() : 0;
        Patch16(chain, at, next);
        at += 2;
    }
    return chain;
}

unsigned FirstExtendedSize(const CraftedMember& m, bool withName) {
    if (withName) {
        return 3 + static_cast<unsigned>(m.name.size());
    }
    if (m.largeOriginalSize) {
        return 3 + 16;
    }
    return 3 + 2;  // the mode header always follows
}

}  // namespace

Bytes CraftHeader(const CraftedMember& m) {
    const std::uint32_t packed =
        m.compressedSize.value_or(static_cast<std::uint32_t>(m.data.size()));
    const std::uint32_t original =
        m.originalSize.value_or(static_cast<std::uint32_t>(m.data.size()));
    const std::uint16_t crc = m.crc.value_or(DataCrc(m.data));
    Bytes h;
    if (m.level == 2) {
        const Bytes chain = ExtendedChain(m, true);
        Put16(h, 0);  // total size, patched below
        PutText(h, m.method.substr(0, 5));
        Put32(h, packed);
        Put32(h, original);
        Put32(h, 1700000000);  // Unix time
        Put8(h, 0x20);
        Put8(h, 2);
        Put16(h, crc);
        Put8(h, m.osId);
        // A header CRC header comes first; its value is patched once the header is whole.
        Put16(h, 5);
        Put8(h, 0x00);
        const std::size_t crcAt = h.size();
        Put16(h, 0);
        Put16(h, FirstExtendedSize(m, true));
        h.insert(h.end(), chain.begin(), chain.end());
        Patch16(h, 0, static_cast<unsigned>(h.size()));
        Patch16(h, crcAt, lha::Crc16(h));
        return h;
    }
    // Levels 0 and 1: size byte, checksum byte, then the base header.
    const bool level1 = m.level == 1;
    const Bytes chain = level1 ? ExtendedChain(m, false) : Bytes{};
    Put8(h, 0);
    Put8(h, 0);
    PutText(h, m.method.substr(0, 5));
    Put32(h, level1 ? packed + chain.size() : packed);
    Put32(h, original);
    Put32(h, 0x5A215800);  // a DOS date and time
    Put8(h, 0x20);
    Put8(h, static_cast<unsigned>(m.level));
    Put8(h, static_cast<unsigned>(m.name.size()));
    PutText(h, m.name);
    Put16(h, crc);
    if (level1) {
        Put8(h, m.osId);
        Put16(h, FirstExtendedSize(m, false));
    }
    h[0] = static_cast<std::byte>((h.size() - 2) & 0xFF);
    unsigned sum = 0;
    for (std::size_t i = 2; i < h.size(); ++i) {
        sum += std::to_integer<unsigned>(h[i]);
    }
    h[1] = static_cast<std::byte>(sum & 0xFF);
    if (level1) {
        // The extended headers of level 1 count as part of the member's packed size.
        h.insert(h.end(), chain.begin(), chain.end());
    }
    return h;
}

Bytes CraftArchive(std::span<const CraftedMember> members, bool endMark) {
    Bytes out;
    for (const CraftedMember& m : members) {
        const Bytes header = CraftHeader(m);
        out.insert(out.end(), header.begin(), header.end());
        PutText(out, m.data);
    }
    if (endMark) {
        Put8(out, 0);
    }
    return out;
}

CraftedMember StoredFile(std::string name, std::string data, int level) {
    CraftedMember m;
    m.name = std::move(name);
    m.data = std::move(data);
    m.level = level;
    return m;
}

CraftedMember Folder(std::string name, int level) {
    CraftedMember m;
    m.name = std::move(name);
    m.method = "-lhd-";
    m.level = level;
    m.unixMode = 040755;
    return m;
}

CraftedMember Symlink(std::string name, std::string target, int level) {
    CraftedMember m = Folder(std::move(name) + "|" + std::move(target), level);
    m.unixMode = 0120777;
    return m;
}

std::vector<std::pair<std::string, Bytes>> CraftedSeeds() {
    std::vector<std::pair<std::string, Bytes>> seeds;
    auto add = [&](std::string name, std::vector<CraftedMember> members) {
        seeds.emplace_back(std::move(name), CraftArchive(members));
    };
    add("absolute", {StoredFile("/tmp/zembrat-escape", "x")});
    add("dotdot", {StoredFile("../escape", "x"), StoredFile("a/../../escape", "x", 0)});
    add("drive", {StoredFile("C:\\escape", "x", 0), StoredFile("C:escape", "x", 1)});
    add("backslash", {StoredFile("dir\\sub\\file", "x", 0)});
    add("link_then_file", {Symlink("out", "/tmp"), StoredFile("out/escape", "x")});
    add("file_then_link", {StoredFile("keep", "x"), Symlink("keep", "../../etc/passwd")});
    add("control", {StoredFile("bell\a\x1b[2Jname\r", "x")});
    CraftedMember bomb = StoredFile("bomb", std::string(64, 'z'));
    bomb.largeOriginalSize = 1ull << 40;
    add("bomb", {bomb});
    add("levels", {StoredFile("zero", "0", 0), StoredFile("one", "1", 1), StoredFile("two", "2")});
    return seeds;
}

}  // namespace zembrat::hostile
