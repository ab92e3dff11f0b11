// The helper's lock: once it holds every descriptor it needs (the archive, the volumes of a
// set, the pipe to the library), it gives up the rest of the system before it parses a byte.
// A parser bug that runs an attacker's code can then read and write those descriptors and
// nothing else: no file opened, no socket, no program started, nothing changed on disk.
#pragma once

#include <string>

namespace zembrat::archive_host {

struct SandboxState {
    bool noNewPrivileges = false;
    bool seccomp = false;   // the system-call filter is in force
    bool landlock = false;  // the file-system ruleset is in force too
    std::string missing;    // what could not be put in place, and why
};

// No new privileges; a seccomp filter that lets through only what parsing and answering need
// (reads and writes on descriptors already held, memory, clocks, signals to itself, the end);
// opening files fails with EPERM; creating processes or sockets, running programs, tracing
// and changing the file system kill the process with SIGSYS, which the library reads as "the
// archive tried something the reader must never do"; where the kernel has Landlock, a
// ruleset that denies the whole file system as a second wall. Whatever is missing is said in
// the state; the helper goes on with its limits then.
SandboxState LockDown();

}  // namespace zembrat::archive_host
