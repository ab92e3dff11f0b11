// Helpers shared by the ZIP engine tests: reading a whole archive into hashes, and trees of
// files compared as they were written and as a reader restored them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "zip/zip.h"

namespace zembrat::zip::test {

struct ReadMember {
    std::string name;
    MemberKind kind = MemberKind::kFile;
    std::uint64_t size = 0;  // bytes extracted
    std::string sha256;      // of the data; empty when it failed
    std::string linkTarget;
    std::string error;  // why the member could not be extracted
};

struct ReadResult {
    std::vector<ReadMember> members;
    std::string archiveError;  // why the archive could not be read to its end
};

// Lists and extracts every member into hashes, as a library extracting everything would.
ReadResult ReadArchive(const std::filesystem::path& archive, const ReaderOptions& options = {});

// A folder's content: relative path -> "file:<sha256>", "dir", "link:<target>".
std::map<std::string, std::string> TreeOf(const std::filesystem::path& folder);

std::filesystem::path ZipFixturesDir();  // .../fixtures/zip

// What our reader gives, in the form TreeOf() gives a folder; every member must extract.
std::map<std::string, std::string> TreeOfArchive(const std::string& archive);

// A peer program that extracts ZIP archives.
struct Peer {
    const char* program;
    const char* extract;  // %a the archive, %d the destination folder
};
inline constexpr Peer kPeers[] = {
    {"7zz", "7zz x -y -bd -bso0 -o%d %a"},
    {"bsdtar", "bsdtar -xf %a -C %d"},
    {"unar", "unar -q -D -o %d %a"},
    {"unzip", "unzip -q %a -d %d"},
};

// Extracts the archive with the peer (in a UTF-8 locale) into folder, which it creates, and
// returns what came out; the peer must succeed.
std::map<std::string, std::string> TreeExtractedBy(const Peer& peer, const std::string& archive,
                                                   const std::string& folder);

}  // namespace zembrat::zip::test
