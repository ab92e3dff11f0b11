#include "archive_host/sandbox.h"

#include <fcntl.h>
#include <linux/landlock.h>
#include <seccomp.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace zembrat::archive_host {

namespace {

// What parsing and answering use once everything is open.
constexpr int kAllowed[] = {
    SCMP_SYS(read),
    SCMP_SYS(write),
    SCMP_SYS(readv),
    SCMP_SYS(writev),
    SCMP_SYS(pread64),
    SCMP_SYS(preadv),
    SCMP_SYS(lseek),
    SCMP_SYS(close),
    SCMP_SYS(fstat),
    SCMP_SYS(sendto),
    SCMP_SYS(recvfrom),
    SCMP_SYS(sendmsg),
    SCMP_SYS(recvmsg),
    SCMP_SYS(poll),
    SCMP_SYS(ppoll),
    SCMP_SYS(fcntl),
    SCMP_SYS(dup),
    SCMP_SYS(brk),
    SCMP_SYS(munmap),
    SCMP_SYS(mremap),
    SCMP_SYS(madvise),
    SCMP_SYS(futex),
    SCMP_SYS(clock_gettime),
    SCMP_SYS(gettimeofday),
    SCMP_SYS(time),
    SCMP_SYS(nanosleep),
    SCMP_SYS(clock_nanosleep),
    SCMP_SYS(getrandom),
    SCMP_SYS(sched_yield),
    SCMP_SYS(getpid),
    SCMP_SYS(gettid),
    SCMP_SYS(getrlimit),
    SCMP_SYS(rt_sigaction),
    SCMP_SYS(rt_sigprocmask),
    SCMP_SYS(rt_sigreturn),
    SCMP_SYS(sigaltstack),
    SCMP_SYS(restart_syscall),
    SCMP_SYS(exit),
    SCMP_SYS(exit_group),
};

// What no parser has any business doing: the process ends with SIGSYS.
constexpr int kKilling[] = {
    SCMP_SYS(execve),
    SCMP_SYS(execveat),
    SCMP_SYS(fork),
    SCMP_SYS(vfork),
    SCMP_SYS(clone),
    SCMP_SYS(clone3),
    SCMP_SYS(socket),
    SCMP_SYS(socketpair),
    SCMP_SYS(connect),
    SCMP_SYS(bind),
    SCMP_SYS(listen),
    SCMP_SYS(accept),
    SCMP_SYS(accept4),
    SCMP_SYS(ptrace),
    SCMP_SYS(process_vm_writev),
    SCMP_SYS(process_vm_readv),
    SCMP_SYS(unlink),
    SCMP_SYS(unlinkat),
    SCMP_SYS(rename),
    SCMP_SYS(renameat),
    SCMP_SYS(renameat2),
    SCMP_SYS(link),
    SCMP_SYS(linkat),
    SCMP_SYS(symlink),
    SCMP_SYS(symlinkat),
    SCMP_SYS(mkdir),
    SCMP_SYS(mkdirat),
    SCMP_SYS(rmdir),
    SCMP_SYS(mknod),
    SCMP_SYS(mknodat),
    SCMP_SYS(chmod),
    SCMP_SYS(fchmodat),
    SCMP_SYS(chown),
    SCMP_SYS(fchownat),
    SCMP_SYS(lchown),
    SCMP_SYS(truncate),
    SCMP_SYS(mount),
    SCMP_SYS(umount2),
    SCMP_SYS(chdir),
    SCMP_SYS(chroot),
    SCMP_SYS(setuid),
    SCMP_SYS(setgid),
    SCMP_SYS(kill),
    SCMP_SYS(tkill),
};

struct FilterFree {
    void operator()(scmp_filter_ctx context) const { seccomp_release(context); }
};

std::string SeccompFilter() {
    // Anything not named fails with EPERM: opening a file among them (a library that looks
    // for a character-set module gets an error, not the file).
    std::unique_ptr<void, FilterFree> filter(seccomp_init(SCMP_ACT_ERRNO(EPERM)));
    if (!filter) {
        return "seccomp: cannot make a filter";
    }
    for (const int call : kAllowed) {
        if (seccomp_rule_add(filter.get(), SCMP_ACT_ALLOW, call, 0) != 0) {
            return "seccomp: cannot allow a call";
        }
    }
    // Memory never made executable; the other file-status call only on a descriptor (glibc's
    // fstat), never on a path; limits read, never set; a signal only to itself (abort).
    if (seccomp_rule_add(filter.get(), SCMP_ACT_ALLOW, SCMP_SYS(mmap), 1,
                         SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0)) != 0 ||
        seccomp_rule_add(filter.get(), SCMP_ACT_ALLOW, SCMP_SYS(mprotect), 1,
                         SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0)) != 0 ||
        seccomp_rule_add(filter.get(), SCMP_ACT_ALLOW, SCMP_SYS(prlimit64), 1,
                         SCMP_A2(SCMP_CMP_EQ, 0)) != 0 ||
        seccomp_rule_add(filter.get(), SCMP_ACT_ALLOW, SCMP_SYS(newfstatat), 1,
                         SCMP_A3(SCMP_CMP_MASKED_EQ, AT_EMPTY_PATH, AT_EMPTY_PATH)) != 0 ||
        seccomp_rule_add(filter.get(), SCMP_ACT_ALLOW, SCMP_SYS(tgkill), 1,
                         SCMP_A0(SCMP_CMP_EQ, static_cast<scmp_datum_t>(getpid()))) != 0) {
        return "seccomp: cannot allow a call";
    }
    for (const int call : kKilling) {
        if (seccomp_rule_add(filter.get(), SCMP_ACT_KILL_PROCESS, call, 0) != 0) {
            return "seccomp: cannot forbid a call";
        }
    }
    if (const int error = seccomp_load(filter.get()); error != 0) {
        return std::string("seccomp: ") + std::strerror(-error);
    }
    return {};
}

// Truncating by path, from the third version of the ruleset on (older headers lack the name).
constexpr std::uint64_t kAccessTruncate = 1ull << 14;

// A ruleset that handles every file-system right and grants none.
std::string LandlockRuleset() {
    const long abi =
        syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    if (abi < 1) {
        return std::string("Landlock: ") + std::strerror(errno);
    }
    landlock_ruleset_attr attributes{};
    attributes.handled_access_fs =
        LANDLOCK_ACCESS_FS_EXECUTE | LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_READ_FILE |
        LANDLOCK_ACCESS_FS_READ_DIR | LANDLOCK_ACCESS_FS_REMOVE_DIR |
        LANDLOCK_ACCESS_FS_REMOVE_FILE | LANDLOCK_ACCESS_FS_MAKE_CHAR |
        LANDLOCK_ACCESS_FS_MAKE_DIR | LANDLOCK_ACCESS_FS_MAKE_REG | LANDLOCK_ACCESS_FS_MAKE_SOCK |
        LANDLOCK_ACCESS_FS_MAKE_FIFO | LANDLOCK_ACCESS_FS_MAKE_BLOCK | LANDLOCK_ACCESS_FS_MAKE_SYM;
    if (abi >= 2) {
        attributes.handled_access_fs |= LANDLOCK_ACCESS_FS_REFER;
    }
    if (abi >= 3) {
        attributes.handled_access_fs |= kAccessTruncate;
    }
    const int ruleset =
        static_cast<int>(syscall(SYS_landlock_create_ruleset, &attributes, sizeof attributes, 0));
    if (ruleset < 0) {
        return std::string("Landlock: ") + std::strerror(errno);
    }
    const long restricted = syscall(SYS_landlock_restrict_self, ruleset, 0);
    const int error = errno;
    ::close(ruleset);
    return restricted == 0 ? std::string() : std::string("Landlock: ") + std::strerror(error);
}

}  // namespace

SandboxState LockDown() {
#if defined(__SANITIZE_ADDRESS__)
    // The leak check at exit stops the process's threads with a tracer, which the filter
    // forbids: it is run now, before the lock, and not again.
    __lsan_do_leak_check();
#endif
    SandboxState state;
    state.noNewPrivileges = ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0;
    if (!state.noNewPrivileges) {
        state.missing = std::string("no new privileges: ") + std::strerror(errno);
        return state;
    }
    // The file-system ruleset first: made after the filter, its own calls would be refused.
    const std::string landlock = LandlockRuleset();
    state.landlock = landlock.empty();
    const std::string seccomp = SeccompFilter();
    state.seccomp = seccomp.empty();
    for (const std::string* missing : {&seccomp, &landlock}) {
        if (!missing->empty()) {
            state.missing += (state.missing.empty() ? "" : "; ") + *missing;
        }
    }
    return state;
}

}  // namespace zembrat::archive_host
