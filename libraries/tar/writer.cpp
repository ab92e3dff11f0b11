// Creating a tar archive: pax format over the decoder library's writer, in-process (the input
// is the user's own files, not an untrusted archive), every byte through one ArchiveOutput
// (a temporary file renamed into place once complete) and every file through SourceFile.
#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

#include "common/archive_output.h"
#include "common/failure.h"
#include "common/member_progress.h"
#include "common/safe_path.h"
#include "common/source_file.h"
#include "tar/parallel_gzip.h"
#include "tar/tar.h"

namespace zembrat::tar {

namespace {

struct WriterDeleter {
    void operator()(archive* writer) const { archive_write_free(writer); }
};
struct EntryDeleter {
    void operator()(archive_entry* entry) const { archive_entry_free(entry); }
};
struct ResolverDeleter {
    void operator()(archive_entry_linkresolver* resolver) const {
        archive_entry_linkresolver_free(resolver);
    }
};

// The writer converts names by the thread's locale: a UTF-8 one for this thread alone, the
// host's locale untouched.
class Utf8Locale {
  public:
    Utf8Locale() : locale_(newlocale(LC_ALL_MASK, "C.UTF-8", static_cast<locale_t>(nullptr))) {
        if (locale_) {
            previous_ = uselocale(locale_);
        }
    }
    ~Utf8Locale() {
        if (locale_) {
            uselocale(previous_);
            freelocale(locale_);
        }
    }
    Utf8Locale(const Utf8Locale&) = delete;
    Utf8Locale& operator=(const Utf8Locale&) = delete;

  private:
    locale_t locale_;
    locale_t previous_ = nullptr;
};

// The name stored for a path given on the command line: relative, without "." parts, and
// never with ".." (an archive we make must not lead its reader outside).
std::string StoredName(const std::string& given) {
    std::string reason;
    return common::SafeRelativePath(given, reason, common::NameRules::kUnix).value_or("");
}

std::string LastPart(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    const std::size_t slash = path.rfind('/');
    return StoredName(slash == std::string::npos ? path : path.substr(slash + 1));
}

// A run of a file's data: where it starts and how long it is.
struct DataRun {
    la_int64_t offset;
    la_int64_t length;
};

// The runs of data of a file with holes (by SEEK_DATA and SEEK_HOLE), or nothing when its
// holes come to less than a MiB or the file system cannot tell: such a file is stored whole.
std::optional<std::vector<DataRun>> DataRuns(int fd, la_int64_t size) {
    constexpr la_int64_t kWorthwhileHoles = 1 << 20;
    std::vector<DataRun> runs;
    la_int64_t at = 0;
    la_int64_t holes = 0;
    while (at < size) {
        const off_t start = ::lseek(fd, at, SEEK_DATA);
        if (start < 0 && errno == ENXIO) {
            holes += size - at;  // a hole to the end
            break;
        }
        const off_t end = start < 0 ? -1 : ::lseek(fd, start, SEEK_HOLE);
        if (end < 0 || end <= start) {
            return std::nullopt;
        }
        holes += start - at;
        runs.push_back({start, std::min<la_int64_t>(end, size) - start});
        at = std::min<la_int64_t>(end, size);
    }
    if (holes < kWorthwhileHoles) {
        return std::nullopt;
    }
    if (runs.empty()) {
        runs.push_back({size, 0});  // the map needs one entry: none of data, at the end
    }
    return runs;
}

class ArchiveWriter {
  public:
    ArchiveWriter(common::ArchiveOutput& output, const CreateOptions& options, CreateEvents& events)
        : output_(output),
          progress_(options.progress),
          writer_(archive_write_new()),
          resolver_(archive_entry_linkresolver_new()),
          base_(options.baseFolder.empty() ? std::string("./") : options.baseFolder),
          events_(events) {
        if (!writer_ || !resolver_) {
            throw std::bad_alloc();
        }
        if (base_.back() != '/') {
            base_ += '/';
        }
        Check(archive_write_set_format_pax_restricted(writer_.get()));
        archive_entry_linkresolver_set_strategy(resolver_.get(), archive_format(writer_.get()));
        if (options.filter == Filter::kBzip2) {
            Check(archive_write_add_filter_bzip2(writer_.get()));
            if (options.level >= 1) {
                const std::string level = "compression-level=" + std::to_string(options.level);
                Check(archive_write_set_options(writer_.get(), level.c_str()));
            }
        }
        // Whole blocks of 10 KiB as tar readers expect; the last one padded.
        Check(archive_write_set_bytes_in_last_block(writer_.get(), 1));
        if (options.filter == Filter::kGzip) {
            // gzip in pieces compressed on two cores (ParallelGzipWriter).
            constexpr int kDefaultLevel = 6;
            const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, 2u);
            gzip_ = std::make_unique<ParallelGzipWriter>(
                output_, options.level >= 1 ? options.level : kDefaultLevel, threads);
        }
        Check(archive_write_open2(writer_.get(), this, nullptr, WriteOut, CloseOut, nullptr));
    }

    // A relative name is stored as given, below the base folder; an absolute one under its
    // last part, as the LHA library stores a file the batch names by its full path.
    void Add(const std::string& given) {
        const std::string stored = given.starts_with('/') ? LastPart(given) : StoredName(given);
        if (stored.empty()) {
            events_.Failed(given, "not a name below the base folder");
            return;
        }
        AddPath(given.starts_with('/') ? given : base_ + given, stored);
    }

    void Finish() {
        // Hard links whose other names never came: written as they are.
        archive_entry* spare = nullptr;
        archive_entry* ignored = nullptr;
        for (archive_entry_linkify(resolver_.get(), &ignored, &spare); ignored != nullptr;
             archive_entry_linkify(resolver_.get(), &ignored, &spare)) {
            archive_entry_free(ignored);
            ignored = nullptr;
        }
        Check(archive_write_close(writer_.get()));
        finished_ = true;
    }

    // An archive given up (a failure, a stop) is not completed when the decoder library's
    // writer is freed: its callbacks refuse every byte from here on.
    ~ArchiveWriter() { abandoned_ = !finished_; }
    ArchiveWriter(const ArchiveWriter&) = delete;
    ArchiveWriter& operator=(const ArchiveWriter&) = delete;

  private:
    // The decoder library's writer hands every byte here. What fails is kept and thrown again
    // after the library's call returns: the library does not pass every failure on (its close
    // callback's answer is dropped), and an exception must not cross its C frames.
    static la_ssize_t WriteOut(archive* writer, void* self, const void* data, size_t size) {
        auto& me = *static_cast<ArchiveWriter*>(self);
        if (me.abandoned_) {
            return -1;
        }
        try {
            const std::span bytes(static_cast<const std::byte*>(data), size);
            if (me.gzip_) {
                me.gzip_->Write(bytes);
            } else {
                me.output_.Write(bytes);
            }
            return static_cast<la_ssize_t>(size);
        } catch (...) {
            me.failure_ = std::current_exception();
            archive_set_error(writer, EIO, "write failed");
            return -1;
        }
    }

    static int CloseOut(archive* writer, void* self) {
        auto& me = *static_cast<ArchiveWriter*>(self);
        try {
            if (me.gzip_ && !me.failure_ && !me.abandoned_) {
                me.gzip_->Finish();
            }
            return ARCHIVE_OK;
        } catch (...) {
            me.failure_ = std::current_exception();
            archive_set_error(writer, EIO, "write failed");
            return ARCHIVE_FATAL;
        }
    }

    void Check(int result) {
        if (failure_) {
            std::rethrow_exception(failure_);
        }
        if (result < ARCHIVE_WARN) {
            const char* text = archive_error_string(writer_.get());
            throw std::runtime_error(std::string("cannot write the archive: ") +
                                     (text ? text : "unknown error"));
        }
    }

    void AddPath(const std::string& path, const std::string& stored) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0) {
            events_.Failed(stored, std::strerror(errno));
            return;
        }
        if (!S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode) && !S_ISLNK(info.st_mode)) {
            events_.Failed(stored, "not a file, folder or link; left out");
            return;
        }
        std::unique_ptr<archive_entry, EntryDeleter> entry(archive_entry_new());
        archive_entry_copy_stat(entry.get(), &info);
        archive_entry_set_pathname_utf8(entry.get(), stored.c_str());
        if (S_ISLNK(info.st_mode)) {
            std::vector<char> target(static_cast<std::size_t>(info.st_size) + 1);
            const ssize_t got = ::readlink(path.c_str(), target.data(), target.size());
            if (got < 0 || static_cast<std::size_t>(got) >= target.size()) {
                events_.Failed(stored, "cannot read the link");
                return;
            }
            archive_entry_set_symlink_utf8(entry.get(), std::string(target.data(), got).c_str());
        }
        std::optional<common::SourceFile> file;
        if (S_ISREG(info.st_mode)) {
            try {
                file.emplace(path);
            } catch (const common::Failure& failure) {
                events_.Failed(stored, failure.what());
                return;
            }
            // What is read, not what stat said (a file of /proc says 0 bytes).
            archive_entry_set_size(entry.get(), static_cast<la_int64_t>(file->Size()));
        }
        // A file with holes is stored sparse (pax GNU.sparse 1.0): its holes take no room.
        std::vector<DataRun> runs;
        if (file) {
            const auto size = static_cast<la_int64_t>(file->Size());
            runs.push_back({0, size});
            if (auto sparse = DataRuns(file->Fd(), size)) {
                runs = std::move(*sparse);
                for (const DataRun& run : runs) {
                    archive_entry_sparse_add_entry(entry.get(), run.offset, run.length);
                }
            }
        }
        archive_entry* spare = nullptr;
        archive_entry* raw = entry.release();
        archive_entry_linkify(resolver_.get(), &raw, &spare);
        entry.reset(raw);
        std::unique_ptr<archive_entry, EntryDeleter> spareEntry(spare);
        if (entry) {
            Check(archive_write_header(writer_.get(), entry.get()));
            if (file && archive_entry_size(entry.get()) > 0) {
                CopyData(*file, stored, runs, archive_entry_size(entry.get()));
            }
        }
        if (file) {
            // A file that changed while it was read fails the archive: its header is out.
            file->RequireUnchanged();
        }
        events_.Added(stored);
        if (S_ISDIR(info.st_mode)) {
            std::error_code error;
            std::vector<std::string> children;
            for (const auto& child : std::filesystem::directory_iterator(path, error)) {
                children.push_back(child.path().filename().string());
            }
            std::sort(children.begin(), children.end());
            for (const std::string& child : children) {
                AddPath(path + "/" + child, stored + "/" + child);
            }
        }
    }

    // The file's data to the archive: the runs read, the holes between them given as zeros
    // (which the writer leaves out of a sparse member). A file that ends early throws
    // (SourceFile); the owner's stop throws Error(kAborted).
    void CopyData(const common::SourceFile& file, const std::string& stored,
                  const std::vector<DataRun>& runs, la_int64_t size) {
        // Read in the steps progress is reported in.
        std::vector<char> buffer(common::kProgressStep);
        const std::vector<char> zeros(buffer.size(), '\0');
        common::MemberProgress meter(progress_ ? *progress_ : kSilent, stored, stored, file.Size(),
                                     file.Info().st_mtim.tv_sec);
        StopWhen(meter.Begin());
        la_int64_t at = 0;
        for (const DataRun& run : runs) {
            for (; at < run.offset;) {
                at += Write(zeros, run.offset - at);
                StopWhen(meter.Reach(static_cast<std::uint64_t>(at)));
            }
            while (at < run.offset + run.length) {
                const la_int64_t want = std::min<la_int64_t>(
                    run.offset + run.length - at, static_cast<la_int64_t>(buffer.size()));
                const std::size_t got =
                    file.ReadAt(std::as_writable_bytes(
                                    std::span(buffer.data(), static_cast<std::size_t>(want))),
                                static_cast<std::uint64_t>(at));
                at += Write(buffer, static_cast<la_int64_t>(got));
                StopWhen(meter.Reach(static_cast<std::uint64_t>(at)));
            }
        }
        while (at < size) {
            at += Write(zeros, size - at);
        }
        StopWhen(meter.End());
    }

    static void StopWhen(bool stop) {
        if (stop) {
            throw Error(ErrorKind::kAborted, "stopped at the owner window's request");
        }
    }

    // Writes up to count bytes of the buffer; the number written.
    la_int64_t Write(const std::vector<char>& buffer, la_int64_t count) {
        const auto piece = static_cast<std::size_t>(
            std::min<la_int64_t>(count, static_cast<la_int64_t>(buffer.size())));
        if (archive_write_data(writer_.get(), buffer.data(), piece) < 0) {
            Check(ARCHIVE_FATAL);
        }
        return static_cast<la_int64_t>(piece);
    }

    static inline const common::ProgressReporter kSilent{};
    common::ArchiveOutput& output_;
    const common::ProgressReporter* progress_;
    std::exception_ptr failure_;
    bool finished_ = false;
    bool abandoned_ = false;
    std::unique_ptr<ParallelGzipWriter> gzip_;  // declared first: the writer may still use it
    std::unique_ptr<archive, WriterDeleter> writer_;
    std::unique_ptr<archive_entry_linkresolver, ResolverDeleter> resolver_;
    std::string base_;
    CreateEvents& events_;
};

}  // namespace

void Create(const std::string& archivePath, const std::vector<std::string>& names,
            const CreateOptions& options, CreateEvents& events) {
    const Utf8Locale locale;
    common::ArchiveOutput output(archivePath);
    {
        ArchiveWriter writer(output, options, events);
        for (const std::string& name : names) {
            writer.Add(name);
        }
        writer.Finish();
    }
    output.Commit(common::ArchiveOutput::ModeFor(archivePath));
}

}  // namespace zembrat::tar
