// An archiver library for the component's tests: exports an entry family, records every
// call, answers listings with made-up members and sends progress messages to its owner
// window. Built in variants:
//   RECORDER_PREFIX=UnZip       the entry prefix (default Unlha): UnZip, UnZipOpenArchive, ...
//   RECORDER_NO_COMMAND         without the command entry named by the prefix alone
//   RECORDER_PACK_COMMAND=Zip   a second command entry under that name
//   RECORDER_WRITE_TIME_PREFIX  the prefix of the write-time getter (default the prefix)
//   RECORDER_NO_TIMES, RECORDER_NO_COMPRESSED_SIZE   without some optional getters
//   RECORDER_NO_CHECK           without the required check entry
#include <cstdio>
#include <cstring>
#include <string>

#include "archiver_api.h"
#include "platform/messages.h"
#include "recording_library.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

#ifndef RECORDER_PREFIX
#define RECORDER_PREFIX Unlha
#endif
#ifndef RECORDER_WRITE_TIME_PREFIX
#define RECORDER_WRITE_TIME_PREFIX RECORDER_PREFIX
#endif
#define RECORDER_JOIN_(a, b) a##b
#define RECORDER_JOIN(a, b) RECORDER_JOIN_(a, b)
#define RECORDER_TEXT_(a) #a
#define RECORDER_TEXT(a) RECORDER_TEXT_(a)
// The exported name prefix + suffix.
#define ENTRY(suffix) RECORDER_JOIN(RECORDER_PREFIX, suffix)

namespace {

const std::string kPrefix = RECORDER_TEXT(RECORDER_PREFIX);

struct Recorder {
    std::string log;
    int result = 0;
    std::string output;
    int progressMessages = 0;
    int members = 0;
    int member = -1;  // current listing position
    int checkAnswer = 1;
    int openAnswer = 1;
    int archiveType = 0;
    ARC_HWND owner = 0;
};

Recorder& State() {
    static Recorder recorder;
    return recorder;
}

void Log(const std::string& line) {
    State().log += line + "\n";
}

constexpr HARC kArchiveHandle = 0x1234;

void FillMember(ARCHIVE_ENTRY_RECORD* entry, int index) {
    std::memset(entry, 0, sizeof *entry);
    entry->original_size = 1000u + static_cast<std::uint32_t>(index);
    entry->compressed_size = 500u + static_cast<std::uint32_t>(index);
    entry->dos_date = static_cast<std::uint16_t>(((2024 - 1980) << 9) | (1 << 5) | 2);
    entry->dos_time = static_cast<std::uint16_t>((3 << 11) | (4 << 5) | 3);
    std::snprintf(entry->file_name, sizeof entry->file_name, "member%d.txt", index);
    std::strcpy(entry->method, "-lh7-");
}

int NextMember(ARCHIVE_ENTRY_RECORD* entry) {
    Recorder& state = State();
    if (++state.member >= state.members) {
        return -1;
    }
    FillMember(entry, state.member);
    return 0;
}

}  // namespace

namespace {

int RunCommand(const std::string& entryName, ARC_HWND window, const char* commandLine, char* output,
               uint32_t outputSize) {
    Recorder& state = State();
    Log(entryName + " " + std::to_string(window) + " [" + commandLine + "] " +
        (output == nullptr ? "null" : "buffer") + " " + std::to_string(outputSize));
    if (state.owner != 0 && state.progressMessages > 0) {
        const auto message = zembrat::platform::RegisterWindowMessage(ARC_EXTRACT_MESSAGE_NAME);
        EXTRACTINGINFOEX record{};
        for (int i = 0; i < state.progressMessages; ++i) {
            std::snprintf(record.source_file_name, sizeof record.source_file_name, "file%d", i);
            record.write_size = static_cast<uint32_t>(i);
            const auto answer = zembrat::platform::SendMessage(
                state.owner, message, ARC_PROGRESS_UPDATE, reinterpret_cast<intptr_t>(&record));
            Log("progress " + std::to_string(i) + " answered " + std::to_string(answer));
            if (answer == 1) {
                return ARC_ERROR_ABORTED;
            }
        }
    }
    if (output != nullptr && outputSize > 0) {
        std::snprintf(output, outputSize, "%s", state.output.c_str());
    }
    return state.result;
}

}  // namespace

#ifndef RECORDER_NO_COMMAND
EXPORT int RECORDER_PREFIX(ARC_HWND window, const char* commandLine, char* output,
                           uint32_t outputSize) {
    return RunCommand(kPrefix, window, commandLine, output, outputSize);
}
#endif

#ifdef RECORDER_PACK_COMMAND
EXPORT int RECORDER_PACK_COMMAND(ARC_HWND window, const char* commandLine, char* output,
                                 uint32_t outputSize) {
    return RunCommand(RECORDER_TEXT(RECORDER_PACK_COMMAND), window, commandLine, output,
                      outputSize);
}
#endif

EXPORT HARC ENTRY(OpenArchive)(ARC_HWND window, const char* archive, uint32_t mode) {
    Log(kPrefix + "OpenArchive " + std::to_string(window) + " " + archive + " " +
        std::to_string(mode));
    State().member = -1;
    return State().openAnswer != 0 ? kArchiveHandle : 0;
}

EXPORT int ENTRY(CloseArchive)(HARC archive) {
    Log(kPrefix + "CloseArchive " + std::to_string(archive));
    return 0;
}

EXPORT int ENTRY(FindFirst)(HARC archive, const char* wildcard, ARCHIVE_ENTRY_RECORD* entry) {
    Log(kPrefix + "FindFirst " + std::to_string(archive) + " " + wildcard);
    State().member = -1;
    return NextMember(entry);
}

EXPORT int ENTRY(FindNext)(HARC archive, ARCHIVE_ENTRY_RECORD* entry) {
    Log(kPrefix + "FindNext " + std::to_string(archive));
    return NextMember(entry);
}

#ifndef RECORDER_NO_CHECK
EXPORT int ENTRY(CheckArchive)(const char* archive, int mode) {
    Log(kPrefix + "CheckArchive " + archive + " " + std::to_string(mode));
    return State().checkAnswer;
}
#endif

EXPORT int ENTRY(SetOwnerWindowEx)(ARC_HWND window, ARC_PROGRESS_PROC procedure) {
    Log(kPrefix + "SetOwnerWindowEx " + std::to_string(window) + " " +
        (procedure == nullptr ? "null" : "procedure"));
    State().owner = window;
    return 1;
}

EXPORT int ENTRY(KillOwnerWindowEx)(ARC_HWND window) {
    Log(kPrefix + "KillOwnerWindowEx " + std::to_string(window));
    State().owner = 0;
    return 1;
}

EXPORT int ENTRY(ExtractMem)(ARC_HWND window, const char* commandLine, unsigned char* buffer,
                             uint32_t bufferSize, int64_t* timeStamp, uint16_t* attributes,
                             uint32_t* written) {
    Log(kPrefix + "ExtractMem " + std::to_string(window) + " [" + commandLine + "] " +
        std::to_string(bufferSize) + (timeStamp == nullptr ? " null" : " time") +
        (attributes == nullptr ? " null" : " attributes"));
    const char data[] = "member data";
    const uint32_t count = bufferSize < sizeof data - 1 ? bufferSize : sizeof data - 1;
    std::memcpy(buffer, data, count);
    if (written != nullptr) {
        *written = count;
    }
    return 0;
}

EXPORT int ENTRY(GetArchiveType)(const char* archive) {
    Log(kPrefix + "GetArchiveType " + archive);
    return State().archiveType;
}

#ifndef RECORDER_NO_TIMES
// Times 2 s, 3 s and 4 s after the file-time epoch tell the three getters apart.
EXPORT int RECORDER_JOIN(RECORDER_WRITE_TIME_PREFIX, GetWriteTimeEx)(HARC, uint64_t* time) {
    *time = 20'000'000;
    return 1;
}
EXPORT int ENTRY(GetCreateTimeEx)(HARC, uint64_t* time) {
    *time = 30'000'000;
    return 1;
}
#endif
EXPORT int ENTRY(GetAccessTimeEx)(HARC, uint64_t* time) {
    *time = 40'000'000;
    return 1;
}

EXPORT int ENTRY(GetOriginalSizeEx)(HARC, uint64_t* size) {
    *size = 0x1'0000'0000ull + static_cast<uint64_t>(State().member);
    return 1;
}
#ifndef RECORDER_NO_COMPRESSED_SIZE
EXPORT int ENTRY(GetCompressedSizeEx)(HARC, uint64_t* size) {
    *size = 0x2'0000'0000ull + static_cast<uint64_t>(State().member);
    return 1;
}
#endif

EXPORT const char* RecorderLog() {
    return State().log.c_str();
}

EXPORT void RecorderReset() {
    const ARC_HWND owner = State().owner;
    State() = Recorder{};
    State().owner = owner;
}

EXPORT void RecorderSetResult(int result, const char* output) {
    State().result = result;
    State().output = output;
}

EXPORT void RecorderSetProgress(int messages) {
    State().progressMessages = messages;
}

EXPORT void RecorderSetMembers(int members) {
    State().members = members;
}

EXPORT void RecorderSetArchiveAnswers(int check, int open) {
    State().checkAnswer = check;
    State().openAnswer = open;
}

EXPORT void RecorderSetArchiveType(int type) {
    State().archiveType = type;
}
