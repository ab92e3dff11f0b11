#include "zip32/backends.h"

#include "zip32/operations.h"

namespace zembrat::zip32 {

namespace {

class ZipBackend : public exports::Backend {
  public:
    // The driver gives the owner window to the unpacking library; packing through
    // libzip32j.so reports to the same owner.
    std::string_view Family() const override { return "zip"; }

    std::unique_ptr<exports::ArchiveCursor> OpenArchive(const std::string& path,
                                                        std::uint32_t) override {
        // Self-extracting files are always read: the directory is found from the end.
        return OpenListing(path);
    }

    bool CheckArchive(const std::string& path, int mode) override {
        return zip32::CheckArchive(path, mode);
    }

    int ExtractToMemory(std::string_view commandLine, std::span<std::byte> buffer,
                        MemoryResult& result, Context& context) override {
        try {
            return zip32::ExtractToMemory(ParseUnzipLine(commandLine, true), buffer, result,
                                          context);
        } catch (const Failure& failure) {
            context.output.FirstLine(failure.what());
            return failure.Code();
        } catch (const zip::Error& error) {
            context.output.FirstLine(error.what());
            return ResultFor(error);
        }
    }
};

class Unzip final : public ZipBackend {
  public:
    int RunCommand(std::string_view commandLine, Context& context) override {
        return RunUnzipLine(commandLine, context);
    }
};

class Zip final : public ZipBackend {
  public:
    int RunCommand(std::string_view commandLine, Context& context) override {
        return RunZipLine(commandLine, context);
    }
};

}  // namespace

exports::Backend& UnzipSide() {
    static Unzip backend;
    return backend;
}

exports::Backend& ZipSide() {
    static Zip backend;
    return backend;
}

}  // namespace zembrat::zip32
