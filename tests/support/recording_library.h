// Test-only entries of the recording archiver library, looked up by name beside the
// library contract's own entries.
#pragma once

#include <cstdint>

extern "C" {
// Everything the library received, one call per line ("Unlha <line>", "UnlhaOpenArchive
// <name> <mode>", ...).
typedef const char* (*RECORDER_LOG)();
typedef void (*RECORDER_RESET)();
// The result the command entry returns next, and the text it writes into the output.
typedef void (*RECORDER_SET_RESULT)(int result, const char* output);
// How many progress messages the command entry sends to its owner window.
typedef void (*RECORDER_SET_PROGRESS)(int messages);
// How many members a listing has (each named member<N>.txt, original size 1000 + N,
// compressed size 500 + N, DOS date 2024-01-02, time 03:04:06).
typedef void (*RECORDER_SET_MEMBERS)(int members);
// CheckArchive's answer and whether OpenArchive opens anything.
typedef void (*RECORDER_SET_ARCHIVE_ANSWERS)(int check, int open);
// The code GetArchiveType answers (0 until set).
typedef void (*RECORDER_SET_ARCHIVE_TYPE)(int type);
}
