// The volumes of a multi-volume set, found beside its first volume by their names:
// NAME.part1.rar, NAME.part2.rar, ... (any number of digits, kept); NAME.rar, NAME.r00,
// NAME.r01, ...; pieces cut with split, NAME_aa, NAME_ab, ...; and NAME.001, NAME.002, ...
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zembrat::unrar32 {

// The name the volume after this one would have; nothing when the name follows no volume
// naming.
std::optional<std::string> NextVolumeName(std::string_view volume);

// Whether the file's last header says that another volume follows it; nothing when the file
// does not end with an end-of-archive header that says either way.
std::optional<bool> VolumeContinues(const std::string& path);

struct VolumeSet {
    std::vector<std::string> more;  // the volumes after the first, in order
    std::string missing;  // the volume the last one found says follows, when it does not exist
};

VolumeSet FindVolumes(const std::string& first);

}  // namespace zembrat::unrar32
