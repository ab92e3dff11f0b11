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

}  // namespace zembrat::zip::test
