// A fresh folder under the system's temporary folder for one test, removed with everything in
// it when the object goes.
#pragma once

#include <stdlib.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>

namespace zembrat::testing {

class TempFolder {
  public:
    TempFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "zembrat-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
        }
        path_ = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    // The folder as the platform layer and the libraries write folders: ending in '/'.
    std::string Folder() const { return path_.string() + '/'; }
    // The full name of something inside the folder.
    std::string operator/(std::string_view name) const { return (path_ / name).string(); }

    // Writes a file, making the folders on its way, and returns its full name.
    std::string Write(std::string_view name, std::string_view content = "x") const {
        const std::filesystem::path file = path_ / name;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
        return file.string();
    }

  private:
    std::filesystem::path path_;
};

}  // namespace zembrat::testing
