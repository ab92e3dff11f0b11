// The volumes of a multi-volume set, found beside its first volume by their names:
// NAME.part1.rar, NAME.part2.rar, ... (any number of digits, kept); NAME.rar, NAME.r00,
// NAME.r01, ...; pieces cut with split, NAME_aa, NAME_ab, ...; and NAME.001, NAME.002, ...
#pragma once

#include <cstdint>
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

// Where a volume's name places it in its set.
struct VolumePlace {
    std::string first;       // the name the set's first volume has
    std::size_t number = 0;  // 1 for the first volume
};

// Nothing when the name follows no volume naming.
std::optional<VolumePlace> PlaceByName(std::string_view volume);

// A volume that its main header says is not the first of its set.
struct LaterVolume {
    std::size_t number = 0;  // 2 for the second volume; 0 when neither header nor name tells
    std::string first;  // the set's first volume by the naming; empty when the name does not tell
    bool firstFound = false;  // that file exists
};

// Where the archive starts in the file: 0 for an archive (or a file that is no program); past
// the program of a self-extracting archive, wherever that program ends; nothing for a program
// that carries an archive of another kind, or none.
std::optional<std::uint64_t> ArchiveStart(const std::string& path);

// Nothing for a first volume, an archive that is no volume, or a file whose main header cannot be
// read (the decoder then says why).
std::optional<LaterVolume> FindLaterVolume(const std::string& path);

}  // namespace zembrat::unrar32
