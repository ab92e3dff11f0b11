#include "platform/dynamic_library.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "loaded_library.h"
#include "platform/system_folders.h"
#include "temp_folder.h"

namespace zembrat::platform {
namespace {

using testing::LoadedLibrary;
using zembrat::testing::TempFolder;

// The probe library is built next to the test program as libprobe32.so.
const char* const kProbe = "PROBE32.DLL";

class DynamicLibraryTest : public ::testing::Test {
  protected:
    void TearDown() override { RestoreLibrarySearch(); }

    static void PlaceProbeIn(const TempFolder& folder) {
        std::filesystem::copy_file(ProgramFolder() + "libprobe32.so",
                                   folder.Folder() + "libprobe32.so");
    }
};

TEST(HostLibraryName, MapsWindowsNamesAndKeepsHostNames) {
    EXPECT_EQ(HostLibraryName("UNLHA32.DLL"), "libunlha32.so");
    EXPECT_EQ(HostLibraryName("Unzip32.dll"), "libunzip32.so");
    EXPECT_EQ(HostLibraryName("TAR32"), "libtar32.so");
    EXPECT_EQ(HostLibraryName("libunlha32.so"), "libunlha32.so");
    EXPECT_EQ(HostLibraryName("libm.so.6"), "libm.so.6");
    EXPECT_EQ(HostLibraryName("/opt/UNLHA32.DLL"), "/opt/UNLHA32.DLL");
}

TEST_F(DynamicLibraryTest, FindsALibraryNextToTheProgram) {
    const std::string program = ProgramFolder();
    EXPECT_EQ(LibrarySearchFolders(),
              (std::vector<std::string>{program, program + "../lib/zembrat/"}));

    const LoadedLibrary probe(LoadLibrary(kProbe));
    ASSERT_NE(probe, nullptr);
    EXPECT_EQ(GetModuleFileName(probe.get()), program + "libprobe32.so");
    const auto answer = reinterpret_cast<int (*)()>(GetProcAddress(probe.get(), "ProbeAnswer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    EXPECT_EQ(GetProcAddress(probe.get(), "NoSuchFunction"), nullptr);
    EXPECT_EQ(GetProcAddress(nullptr, "ProbeAnswer"), nullptr);

    EXPECT_EQ(LoadLibrary("NOSUCH32.DLL"), nullptr);
    EXPECT_EQ(GetModuleFileName(nullptr), ProgramFileName());
}

TEST_F(DynamicLibraryTest, FoldersAreTriedInOrder) {
    const TempFolder first;
    const TempFolder second;
    PlaceProbeIn(second);
    OverrideLibrarySearch(std::vector{first.Folder(), second.Folder()}, false);
    {
        const LoadedLibrary probe(LoadLibrary(kProbe));
        ASSERT_NE(probe, nullptr);
        EXPECT_EQ(GetModuleFileName(probe.get()), second.Folder() + "libprobe32.so");
    }
    PlaceProbeIn(first);
    const LoadedLibrary probe(LoadLibrary(kProbe));
    ASSERT_NE(probe, nullptr);
    EXPECT_EQ(GetModuleFileName(probe.get()), first.Folder() + "libprobe32.so");
}

TEST_F(DynamicLibraryTest, SystemSearchCanBeSwitchedOff) {
    const TempFolder empty;
    OverrideLibrarySearch(std::vector{empty.Folder()}, false);
    EXPECT_EQ(LoadLibrary(kProbe), nullptr);
    EXPECT_EQ(LoadLibrary("libm.so.6"), nullptr);
    // A path is loaded as given, whatever the search.
    EXPECT_NE(LoadedLibrary(LoadLibrary(ProgramFolder() + "libprobe32.so")), nullptr);

    OverrideLibrarySearch(std::vector<std::string>{}, true);
    EXPECT_NE(LoadedLibrary(LoadLibrary("libm.so.6")), nullptr);
}

}  // namespace
}  // namespace zembrat::platform
