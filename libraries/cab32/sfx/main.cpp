// zembrat-cabsfx: the program at the head of a self-extracting cabinet. It finds the cabinet
// that follows its own image in its file and extracts it with libmspack (linked in), under
// the same safety rules as the library: nothing outside the destination, nothing
// half-written under a final name.
#include <mspack.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "archive_host/cab_member.h"
#include "cab/cab.h"
#include "common/failure.h"
#include "common/member_file.h"
#include "common/safe_path.h"
#include "common/sfx_stub.h"

namespace {

std::string NameOf(const mscabd_file& file) {
    return zembrat::common::EscapeControlCharacters(
        zembrat::cab::DecodeMemberName(file.filename, static_cast<std::uint32_t>(file.attribs)));
}

const char* ErrorText(int code) {
    switch (code) {
        case MSPACK_ERR_CHECKSUM:
            return "checksum error";
        case MSPACK_ERR_DECRUNCH:
            return "damaged compressed data";
        case MSPACK_ERR_READ:
            return "the cabinet ends early";
        case MSPACK_ERR_WRITE:
            return "cannot write";
        default:
            return "damaged cabinet data";
    }
}

struct Decompressor {
    mscab_decompressor* self = mspack_create_cab_decompressor(nullptr);
    mscabd_cabinet* found = nullptr;
    ~Decompressor() {
        if (self && found) {
            self->close(self, found);
        }
        if (self) {
            mspack_destroy_cab_decompressor(self);
        }
    }
};

int List(mscabd_cabinet& cabinet) {
    std::uint64_t total = 0, count = 0;
    for (const mscabd_file* file = cabinet.files; file; file = file->next, ++count) {
        std::printf("%12u %s\n", file->length, NameOf(*file).c_str());
        total += file->length;
    }
    std::printf("%" PRIu64 " members, %" PRIu64 " bytes\n", count, total);
    return 0;
}

int Test(Decompressor& decompressor, mscabd_cabinet& cabinet) {
    int status = 0;
    for (mscabd_file* file = cabinet.files; file; file = file->next) {
        const int code = decompressor.self->extract(decompressor.self, file, "/dev/null");
        if (code == MSPACK_ERR_OK) {
            std::printf("ok %s\n", NameOf(*file).c_str());
        } else {
            std::printf("failed %s: %s\n", NameOf(*file).c_str(), ErrorText(code));
            status = 1;
        }
    }
    return status;
}

int Extract(Decompressor& decompressor, mscabd_cabinet& cabinet, const std::string& folder,
            bool overwrite) {
    zembrat::common::ExtractionTarget target(folder);
    std::string reason;
    if (!target.CreateFolder(reason)) {
        std::fprintf(stderr, "%s\n", reason.c_str());
        return 1;
    }
    const unsigned umask = zembrat::common::ProcessUmask();
    int status = 0;
    for (mscabd_file* file = cabinet.files; file; file = file->next) {
        const std::string name = zembrat::cab::DecodeMemberName(
            file->filename, static_cast<std::uint32_t>(file->attribs));
        auto fail = [&](const std::string& what) {
            std::fprintf(stderr, "%s: %s\n", NameOf(*file).c_str(), what.c_str());
            status = 1;
        };
        const auto relative = zembrat::common::SafeRelativePath(name, reason);
        if (!relative) {
            fail("refused (" + reason + ")");
            continue;
        }
        const auto path = target.Prepare(*relative, false, reason);
        if (!path) {
            fail(reason);
            continue;
        }
        struct stat existing {};
        if (!overwrite && lstat(path->c_str(), &existing) == 0) {
            fail("kept the existing file (-f overwrites)");
            continue;
        }
        try {
            zembrat::common::MemberFile staged(*path, overwrite);
            // The decoder writes by name: the staging file's own descriptor.
            const std::string sink = "/proc/self/fd/" + std::to_string(staged.Fd());
            const int code = decompressor.self->extract(decompressor.self, file, sink.c_str());
            if (code != MSPACK_ERR_OK) {
                fail(ErrorText(code));
                continue;
            }
            const auto time = zembrat::archive_host::CabinetMemberTime(*file);
            if (staged.Place(((file->attribs & MSCAB_ATTRIB_EXEC) ? 0755u : 0644u) & ~umask,
                             std::int64_t{time} * 1'000'000'000) ==
                zembrat::common::Placement::kKept) {
                fail("kept the existing file (-f overwrites)");
                continue;
            }
        } catch (const zembrat::common::Failure& failure) {
            fail(failure.what());
            continue;
        }
        std::printf("extracted %s\n", NameOf(*file).c_str());
    }
    return status;
}

}  // namespace

// The C++ runtime's own handler for an uncaught exception names it through the symbol
// demangler, a large part of the program; this one names nothing and stops the same way.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
    std::fputs("zembrat-cabsfx: internal error\n", stderr);
    std::abort();
}
}  // namespace __gnu_cxx

int main(int argc, char** argv) {
    zembrat::common::StubRequest request;
    if (const auto status =
            zembrat::common::ParseStubArguments(argc, argv, {"-f", "cabinet"}, request)) {
        return *status;
    }
    Decompressor decompressor;
    const std::string self = zembrat::common::OwnExecutablePath();
    if (!decompressor.self || self.empty() ||
        !(decompressor.found = decompressor.self->search(decompressor.self, self.c_str()))) {
        std::fprintf(stderr, "%s: no cabinet is attached to this program\n", argv[0]);
        return 2;
    }
    // The cabinet appended to the program is the last one in the file.
    mscabd_cabinet* cabinet = decompressor.found;
    while (cabinet->next) {
        cabinet = cabinet->next;
    }
    try {
        if (request.mode == 'l') {
            return List(*cabinet);
        }
        if (request.mode == 't') {
            return Test(decompressor, *cabinet);
        }
        return Extract(decompressor, *cabinet,
                       request.folder.empty() ? std::string("./") : request.folder,
                       request.overwrite);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
