// Archives of versions 1.5 to 4.x, read in process by the RAR reader of libraries/rar (the
// newer format goes to the helper process): the members of a set as the tar-family engine
// describes them, extraction and test with the same events and safety rules, and the
// extraction of one member to memory.
#pragma once

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "export/backend.h"
#include "tar/tar.h"

namespace zembrat::unrar32 {

// Whether the file holds an archive of versions 1.5 to 4.x (at its start or behind a
// self-extracting program).
bool IsOlderFormat(const std::string& path);

// Every member of the set whose first volume is path. Throws tar::Error(kArchive) for a
// damaged archive, common::Failure(ARC_ERROR_CANNOT_READ) for a missing volume.
std::vector<tar::Member> OlderMembers(const std::string& path);

// OpenArchive's cursor over the set's members: as the tar-family engine lists them, with the
// packed size, ratio and CRC the headers give. Nothing when the set cannot be read.
std::unique_ptr<exports::ArchiveCursor> OlderCursor(
    const std::string& path,
    std::function<bool(std::string_view name, std::string_view mask)> selects);

// As tar::Extract, for the set whose first volume is path.
tar::ExtractSummary OlderExtract(const std::string& path, const tar::ExtractOptions& options,
                                 tar::ExtractEvents& events);

// As tar::ExtractFirstToMemory.
int OlderExtractToMemory(const std::string& path,
                         const std::function<bool(const tar::Member&)>& selects,
                         std::span<std::byte> buffer, exports::MemoryResult& result);

}  // namespace zembrat::unrar32
