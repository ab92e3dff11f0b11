// Writing one extracted file cheaply and safely: under a temporary name beside its final name
// until its data is complete (renamed into place by Commit, removed otherwise), with runs of
// zeros left as holes so that a sparse file stays sparse.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace zembrat::common {

// A new file ".zembrat-PID-N" in a folder (mode 0600). Unlike TemporaryFile it is named from
// the start: creating a nameless file costs the file system several times more, which counts
// when an archive holds tens of thousands of small files. A process killed on the way leaves
// the temporary name behind.
class StagedFile {
  public:
    explicit StagedFile(const std::string& folder);
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    bool Valid() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    const std::string& Path() const { return path_; }

    // Closes the file (reporting write-back errors) and renames it over finalPath.
    bool Commit(const std::string& finalPath, std::string& reason);
    // Closes the file (reporting write-back errors) and hands its temporary name over to the
    // caller, who places or removes it. On failure the file is removed.
    bool Close(std::string& reason);

  private:
    int fd_ = -1;
    std::string path_;
    bool committed_ = false;
};

// Writes a file's data in order, skipping whole blocks of zeros instead of writing them (the
// file system leaves a hole there) and taking holes the reader already knows of as they are.
// Finish() sets the final size, so that a hole at the end is kept too. Throws
// std::system_error when the file system refuses.
class HoleAwareWriter {
  public:
    explicit HoleAwareWriter(int fd) : fd_(fd) {}

    void Write(std::span<const std::byte> data);
    void Hole(std::uint64_t size);
    void Finish();

    std::uint64_t Size() const { return offset_; }

  private:
    void WriteAt(std::span<const std::byte> data);

    int fd_;
    std::uint64_t offset_ = 0;
    bool holeAtEnd_ = false;
};

// Removes from folder the staging files (".zembrat-PID-N") a process of ours left when it was
// killed before it could: the process PID no longer runs, and the file is a regular file of
// this user with the staging mode 0600. A staging file of a run still going is never touched.
// Returns how many were removed.
std::size_t RemoveStaleStagedFiles(const std::string& folder);

// Makes fullPath a hard link to existing: made under a temporary name beside it and renamed,
// so that a file already there is replaced whole. False, with errno set, when it cannot be.
bool MakeHardLink(const std::string& existing, const std::string& fullPath);

// Writes all of data at the file's position, retrying short and interrupted writes. Throws
// std::system_error with what (and the system's reason) when the file system refuses.
void WriteAll(int fd, std::span<const std::byte> data, const char* what = "cannot write");

// The size of the blocks HoleAwareWriter looks at: a run of zeros shorter than one, or not
// aligned to one, is written as data.
inline constexpr std::size_t kHoleBlock = 4096;

}  // namespace zembrat::common
