// Writes the seed corpora of the fuzz targets into the folder given: archives of every
// method and header level made by the writer, the crafted hostile archives, and sample
// command lines, list files, paths and file lists.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "crafted_archive.h"
#include "lha/archive.h"

namespace {

using namespace zembrat;
namespace fs = std::filesystem;
using namespace std::string_view_literals;

void WriteFile(const fs::path& path, std::span<const std::byte> bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

void WriteText(const fs::path& path, std::string_view text) {
    WriteFile(path, std::as_bytes(std::span(text.data(), text.size())));
}

std::string SampleText(std::size_t size) {
    static const char* words[] = {"archive ", "member ", "header ",  "level ",
                                  "data\n",   "LHA ",    "zembrat ", "0123456789 "};
    std::string text;
    for (std::size_t i = 0; text.size() < size; ++i) {
        text += words[(i * 7 + i / 3) % 8];
    }
    text.resize(size);
    return text;
}

std::vector<std::byte> WriterArchive(int level, const std::string& method, std::size_t size) {
    lha::MemoryOutput output;
    lha::Writer writer(output, {.headerLevel = level, .method = method, .osId = 'U'});
    lha::Member folder;
    folder.path = "dir";
    writer.AddDirectory(folder);
    const std::string text = SampleText(size);
    lha::MemoryInput input(std::as_bytes(std::span(text.data(), text.size())));
    lha::Member file;
    file.path = "dir/text.txt";
    writer.AddFile(file, input, text.size());
    lha::Member link;
    link.path = "dir/link";
    link.linkTarget = "text.txt";
    writer.AddSymlink(link);
    writer.Finish();
    return output.Data();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds <folder>\n");
        return 2;
    }
    const fs::path root = argv[1];
    for (const char* target :
         {"archive_fuzzer", "command_line_fuzzer", "path_text_fuzzer", "cmd_opt_fuzzer"}) {
        fs::create_directories(root / target);
    }
    for (int level : {0, 1, 2}) {
        for (const char* method : {"-lh0-", "-lh5-", "-lh6-", "-lh7-"}) {
            for (std::size_t size : {std::size_t{100}, std::size_t{20000}}) {
                const std::string name = "writer_h" + std::to_string(level) + "_" +
                                         std::string(method).substr(1, 3) + "_" +
                                         std::to_string(size) + ".lzh";
                WriteFile(root / "archive_fuzzer" / name, WriterArchive(level, method, size));
            }
        }
    }
    for (const auto& [name, bytes] : hostile::CraftedSeeds()) {
        WriteFile(root / "archive_fuzzer" / ("crafted_" + name + ".lzh"), bytes);
    }

    const fs::path lines = root / "command_line_fuzzer";
    WriteText(lines / "extract", "x -+ -m1 -jso1 \"/tmp/a b.lzh\" \"/tmp/out/\" \"*.txt\"");
    WriteText(lines / "pack_list",
              std::string("u -jm7 -h1 -jx\"*.o\" arc.lzh base/ @@\0\"one\"\r\n two \n\"x y\"\n"sv));
    WriteText(lines / "switches", "l -r2 -x0 -jm -w\"/tmp/work/\" -gr\"text\" a.lzh \"\" \"-n\"");
    WriteText(lines / "extract_mem", " -jso1 arc.lzh \"dir/name.txt\"");

    const fs::path paths = root / "path_text_fuzzer";
    WriteText(paths / "sjis_trail", std::string("\x03"
                                                "C:\\\x95\x5C\\file.txt\0C:\\out\\"sv));
    WriteText(paths / "posix", std::string("\x04/home/user/../a/./b.tar.gz\0/home/user/"sv));
    WriteText(paths / "member", std::string("\x00sub\\..\\x\x1b[31m\0../link"sv));
    WriteText(paths / "katakana", "\x08\xef\xbe\x83\xef\xbd\xbd.txt");  // half-width kana

    const fs::path builder = root / "cmd_opt_fuzzer";
    WriteText(builder / "inline", std::string("\x01/tmp/a.lzh\0/tmp/out\0a b.txt\0-dash\0"sv));
    WriteText(builder / "list", std::string("\x14/tmp/a.lzh\0\0one\0two words\0"sv));
    WriteText(builder / "work", std::string("\x08/tmp/a.lzh\0/tmp/w dir/\0x"sv));
    return 0;
}
