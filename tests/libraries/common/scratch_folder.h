// A fresh folder under /tmp for one test, removed with everything in it afterwards.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace zembrat::common::testing {

class ScratchFolder {
  public:
    ScratchFolder() {
        std::string pattern = "/tmp/zembrat-common-XXXXXX";
        path_ = mkdtemp(pattern.data());
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // The folder with a trailing '/'.
    std::string Path() const { return path_.string() + "/"; }

    std::string Write(std::string_view name, std::string_view content = "x") const {
        const std::string file = Path() + std::string(name);
        std::filesystem::create_directories(std::filesystem::path(file).parent_path());
        std::ofstream(file, std::ios::binary) << content;
        return file;
    }

  private:
    std::filesystem::path path_;
};

}  // namespace zembrat::common::testing
