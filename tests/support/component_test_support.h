// Shared pieces of the component tests: the temporary folder, and access to the recording
// archiver library that the LHA driver loads from the test program's folder.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "drivers/lha32.h"
#include "platform/dynamic_library.h"
#include "platform/system_folders.h"
#include "recording_library.h"
#include "temp_folder.h"

namespace zembrat::testing {

// The recording library's test entries, through a loaded module.
class RecorderAccess {
  public:
    explicit RecorderAccess(platform::ModuleHandle module) : module_(module) {}

    std::string Log() const { return Get<RECORDER_LOG>("RecorderLog")(); }
    void Reset() const { Get<RECORDER_RESET>("RecorderReset")(); }
    void SetResult(int result, const char* output) const {
        Get<RECORDER_SET_RESULT>("RecorderSetResult")(result, output);
    }
    void SetProgress(int messages) const {
        Get<RECORDER_SET_PROGRESS>("RecorderSetProgress")(messages);
    }
    void SetMembers(int members) const { Get<RECORDER_SET_MEMBERS>("RecorderSetMembers")(members); }
    void SetArchiveAnswers(int check, int open) const {
        Get<RECORDER_SET_ARCHIVE_ANSWERS>("RecorderSetArchiveAnswers")(check, open);
    }
    void SetArchiveType(int type) const {
        Get<RECORDER_SET_ARCHIVE_TYPE>("RecorderSetArchiveType")(type);
    }

  private:
    template <class Function>
    Function Get(const char* name) const {
        void* address = platform::GetProcAddress(module_, name);
        if (address == nullptr) {
            throw std::runtime_error(std::string("recording library lacks ") + name);
        }
        return reinterpret_cast<Function>(address);
    }
    platform::ModuleHandle module_;
};

// Libraries are looked for only in the test program's folder, where the recording library
// stands as libunlha32.so; the LHA binding is loaded afresh for every test.
class RecordingLibraryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::OverrideLibrarySearch(std::vector<std::string>{platform::ProgramFolder()}, false);
        drivers::TLha32::FreeLibraryBinding();
        drivers::TLha32::LoadLibraryBinding();
        Recorder().Reset();
    }
    void TearDown() override {
        drivers::TLha32::FreeLibraryBinding();
        platform::RestoreLibrarySearch();
    }
    RecorderAccess Recorder() const { return RecorderAccess(drivers::TLha32::Binding()->Handle()); }
};

// What an operation ends with: "ok", or the message of the exception it throws.
inline std::string Outcome(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "ok";
}

}  // namespace zembrat::testing
