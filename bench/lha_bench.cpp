// Drives the LHA library for bench/run.sh: one member in, one archive out, or the reverse.
//   lha_bench compress <method> <level>[:threads] <input> <archive> [bytes]
//     threads: 1 parses on one thread; by default as many as the machine has cores
//     bytes: read the input over and over until this many bytes (for the flat-memory run)
//   lha_bench extract <archive> <output file>
#include <charconv>
#include <cstdio>
#include <iostream>
#include <string>

#include "lha/archive.h"

namespace {

using namespace zembrat::lha;

// A file read over and over up to a total length; seekable, so the writer never spools it.
class RepeatedInput final : public SeekableInput {
  public:
    RepeatedInput(const std::string& path, std::uint64_t total) : file_(path), total_(total) {}
    std::size_t Read(std::span<std::byte> buffer) override {
        if (position_ >= total_ || file_.Size() == 0) {
            return 0;
        }
        auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), total_ - position_));
        file_.Seek(position_ % file_.Size());
        std::size_t got = file_.Read(buffer.first(want));
        position_ += got;
        return got;
    }
    void Seek(std::uint64_t offset) override { position_ = offset; }
    std::uint64_t Tell() const override { return position_; }
    std::uint64_t Size() const override { return total_; }

  private:
    FileInput file_;
    std::uint64_t total_;
    std::uint64_t position_ = 0;
};

std::uint64_t Number(const char* text) {
    std::uint64_t value = 0;
    std::from_chars(text, text + std::char_traits<char>::length(text), value);
    return value;
}

int Compress(const std::string& method, const std::string& level, const std::string& inputPath,
             const std::string& archivePath, std::uint64_t bytes) {
    FileOutput out(archivePath);
    WriterOptions options;
    options.method = method;
    options.level = static_cast<int>(Number(level.c_str()));
    if (auto colon = level.find(':'); colon != std::string::npos) {
        options.threads = static_cast<int>(Number(level.c_str() + colon + 1));
    }
    Writer writer(out, options);
    Member member;
    member.path = "corpus.bin";
    member.unixTime = 1700000000;
    if (bytes == 0) {
        FileInput input(inputPath);
        writer.AddFile(member, input, input.Size());
    } else {
        RepeatedInput input(inputPath, bytes);
        writer.AddFile(member, input, bytes);
    }
    writer.Finish();
    out.Close();
    return 0;
}

int Extract(const std::string& archivePath, const std::string& outputPath) {
    FileInput input(archivePath);
    Reader reader(input);
    FileOutput out(outputPath);
    while (reader.Next()) {
        reader.Extract(out);
    }
    out.Close();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        std::string command = argc > 1 ? argv[1] : "";
        if (command == "compress" && (argc == 6 || argc == 7)) {
            return Compress(argv[2], argv[3], argv[4], argv[5], argc == 7 ? Number(argv[6]) : 0);
        }
        if (command == "extract" && argc == 4) {
            return Extract(argv[2], argv[3]);
        }
        std::cerr
            << "usage: lha_bench compress <method> <level>[:threads] <input> <archive> [bytes]\n"
               "       lha_bench extract <archive> <output>\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "lha_bench: " << e.what() << "\n";
        return 1;
    }
}
