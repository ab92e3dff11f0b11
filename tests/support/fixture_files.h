// What the library tests read back: the fixture manifests, file contents and digests, and the
// trees an extraction leaves.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace zembrat::testing {

// One line of a fixture folder's manifest.tsv: a member of an archive as the reference reader
// extracted it (for a link, the sha256 column holds its target).
struct ManifestRow {
    std::string member, kind;
    std::uint64_t size = 0;
    std::string sha256;
};

// The manifest's rows by archive, in file order; empty when the file cannot be read.
inline std::map<std::string, std::vector<ManifestRow>> ReadManifest(
    const std::filesystem::path& file) {
    std::map<std::string, std::vector<ManifestRow>> archives;
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);  // column names
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string archive, size;
        ManifestRow row;
        std::getline(fields, archive, '\t');
        std::getline(fields, row.member, '\t');
        std::getline(fields, row.kind, '\t');
        std::getline(fields, size, '\t');
        std::getline(fields, row.sha256, '\t');
        row.size = std::stoull(size);
        archives[archive].push_back(row);
    }
    return archives;
}

// The file's SHA-256 in hex, from sha256sum; empty when it cannot be read.
inline std::string FileSha256(const std::string& path) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(
        popen(("sha256sum '" + path + "' 2>/dev/null").c_str(), "r"), &pclose);
    char digest[65] = {};
    if (!pipe || std::fread(digest, 1, 64, pipe.get()) != 64) {
        return {};
    }
    return digest;
}

// The archives of a fixture folder: its files but the manifest and the notes on their sources.
inline std::vector<std::filesystem::path> FixtureArchives(const std::string& folder) {
    std::vector<std::filesystem::path> archives;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && name != "manifest.tsv" && name != "SOURCES.md") {
            archives.push_back(entry.path());
        }
    }
    return archives;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

inline std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

// Every file and folder below a folder, relative, in the order the walk finds them; nothing
// when the folder is missing.
inline std::vector<std::string> FilesBelow(const std::string& folder) {
    std::vector<std::string> files;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, error);
         it != std::filesystem::recursive_directory_iterator(); ++it) {
        files.push_back(std::filesystem::relative(it->path(), folder).string());
    }
    return files;
}

// Every file and folder below a folder, relative, sorted; folders (not links to them) end in '/'.
inline std::vector<std::string> Tree(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, error);
         it != std::filesystem::recursive_directory_iterator(); ++it) {
        std::string name = std::filesystem::relative(it->path(), folder).string();
        if (it->is_directory() && !it->is_symlink()) {
            name += '/';
        }
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace zembrat::testing
