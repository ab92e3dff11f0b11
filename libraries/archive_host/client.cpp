#include "archive_host/client.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "common/unique_fd.h"

extern char** environ;

namespace zembrat::archive_host {

namespace {

constexpr const char* kHelperName = "zembrat-archive-host";

using Descriptor = common::UniqueFd;

// Renumbers the descriptor to floor or above, so that handing descriptors to a child (dup2 to
// 0, 1, 3, 4, ...) never overwrites one that is still to be handed.
void MoveAbove(Descriptor& descriptor, int floor) {
    if (descriptor.Valid() && descriptor.Get() < floor) {
        const int moved = ::fcntl(descriptor.Get(), F_DUPFD_CLOEXEC, floor);
        if (moved >= 0) {
            descriptor = Descriptor(moved);
        }
    }
}

bool IsExecutableFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

class SpawnActions {
  public:
    SpawnActions() { posix_spawn_file_actions_init(&actions_); }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    posix_spawn_file_actions_t* Get() { return &actions_; }

  private:
    posix_spawn_file_actions_t actions_;
};

class SpawnAttributes {
  public:
    SpawnAttributes() { posix_spawnattr_init(&attributes_); }
    ~SpawnAttributes() { posix_spawnattr_destroy(&attributes_); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    posix_spawnattr_t* Get() { return &attributes_; }

  private:
    posix_spawnattr_t attributes_;
};

}  // namespace

std::string FindHelperProgram() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&FindHelperProgram), &info) == 0 || !info.dli_fname) {
        return kHelperName;
    }
    std::string folder = info.dli_fname;
    folder.erase(folder.find_last_of('/') + 1);
    for (const std::string& candidate :
         {folder + kHelperName, folder + "../lib/zembrat/" + kHelperName}) {
        if (IsExecutableFile(candidate)) {
            return candidate;
        }
    }
    return folder + kHelperName;
}

ArchiveHost::ArchiveHost(const std::string& archivePath, std::string_view format,
                         const HostOptions& options)
    : options_(options) {
    const std::string helper =
        options_.helperPath.empty() ? FindHelperProgram() : options_.helperPath;
    Descriptor archive(::open(archivePath.c_str(), O_RDONLY | O_CLOEXEC));
    if (archive.Get() < 0) {
        throw HostError("cannot open the archive: " + std::string(std::strerror(errno)));
    }
    // The volumes that follow go to descriptors 4, 5, ...; each is opened here, so that a
    // missing one fails before the helper starts.
    std::vector<Descriptor> volumes;
    for (const std::string& volume : options_.moreVolumes) {
        volumes.emplace_back(::open(volume.c_str(), O_RDONLY | O_CLOEXEC));
        if (volumes.back().Get() < 0) {
            throw HostError("cannot open the volume " + volume + ": " + std::strerror(errno));
        }
    }
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        throw HostError("cannot create the helper's channel: " + std::string(std::strerror(errno)));
    }
    Descriptor mine(pair[0]);
    Descriptor theirs(pair[1]);
    const int firstFree = 4 + static_cast<int>(volumes.size());
    MoveAbove(archive, firstFree);
    MoveAbove(theirs, firstFree);
    for (Descriptor& volume : volumes) {
        MoveAbove(volume, firstFree);
    }

    // The helper talks on its standard input and output and reads the archive on descriptor 3;
    // every other descriptor of ours is close-on-exec or closed by the helper at its start.
    SpawnActions actions;
    posix_spawn_file_actions_adddup2(actions.Get(), theirs.Get(), 0);
    posix_spawn_file_actions_adddup2(actions.Get(), theirs.Get(), 1);
    posix_spawn_file_actions_adddup2(actions.Get(), archive.Get(), 3);
    for (std::size_t i = 0; i < volumes.size(); ++i) {
        posix_spawn_file_actions_adddup2(actions.Get(), volumes[i].Get(), 4 + static_cast<int>(i));
    }
    posix_spawn_file_actions_addopen(actions.Get(), 2, "/dev/null", O_WRONLY, 0);
    SpawnAttributes attributes;
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigfillset(&defaults);
    posix_spawnattr_setsigmask(attributes.Get(), &none);
    posix_spawnattr_setsigdefault(attributes.Get(), &defaults);
    posix_spawnattr_setflags(attributes.Get(), POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    const std::string memory = std::to_string(options_.memoryLimit);
    const std::string cpu = std::to_string(options_.cpuSeconds);
    const std::string outputLimit = std::to_string(options_.outputLimit);
    const std::string volumeCount = std::to_string(1 + volumes.size());
    const std::string archiveOffset = std::to_string(options_.archiveOffset);
    std::string formatText(format);
    std::vector<char*> argv = {const_cast<char*>(helper.c_str()),
                               const_cast<char*>("--format"),
                               formatText.data(),
                               const_cast<char*>("--memory"),
                               const_cast<char*>(memory.c_str()),
                               const_cast<char*>("--cpu"),
                               const_cast<char*>(cpu.c_str()),
                               const_cast<char*>("--max-output"),
                               const_cast<char*>(outputLimit.c_str()),
                               const_cast<char*>("--volumes"),
                               const_cast<char*>(volumeCount.c_str()),
                               const_cast<char*>("--offset"),
                               const_cast<char*>(archiveOffset.c_str()),
                               nullptr};
    pid_t pid = -1;
    const int spawned =
        posix_spawn(&pid, helper.c_str(), actions.Get(), attributes.Get(), argv.data(), environ);
    if (spawned != 0) {
        throw HostError("cannot start the helper " + helper + ": " + std::strerror(spawned));
    }
    pid_ = pid;
    socket_ = mine.Release();
}

ArchiveHost::~ArchiveHost() {
    Stop();
}

void ArchiveHost::Stop() {
    if (socket_ >= 0) {
        ::close(socket_);
        socket_ = -1;
    }
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }
}

std::string ArchiveHost::ExitReason() {
    if (pid_ <= 0) {
        return "the helper is gone";
    }
    int status = 0;
    rusage usage{};
    pid_t done;
    while ((done = ::wait4(pid_, &status, 0, &usage)) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    if (done > 0 && WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        // The soft limit sends SIGXCPU, the hard one a second later SIGKILL; a SIGKILL before
        // the helper used its time came from elsewhere (a user, the kernel out of memory).
        const auto usedSeconds = static_cast<unsigned long long>(usage.ru_utime.tv_sec) +
                                 static_cast<unsigned long long>(usage.ru_stime.tv_sec);
        if (signal == SIGXCPU || (signal == SIGKILL && usedSeconds >= options_.cpuSeconds)) {
            return "the archive took more than the CPU time limit (" +
                   std::to_string(options_.cpuSeconds) + " s)";
        }
        if (signal == SIGKILL) {
            return "the helper was killed (SIGKILL) before it finished";
        }
        if (signal == SIGSYS) {
            // The helper's lock ended it: a call no reader makes (a program, a socket, a
            // change to the file system) came from the parser, taken over by this archive.
            return "the archive tried something the reader must never do (stopped by the "
                   "helper's sandbox)";
        }
        if (signal == SIGSEGV || signal == SIGABRT || signal == SIGBUS) {
            return "the decoder failed on this archive (memory limit or crash)";
        }
        return std::string("the helper ended by signal ") + ::strsignal(signal);
    }
    if (done > 0 && WIFEXITED(status) && WEXITSTATUS(status) != 0) {
        return "the helper failed (exit status " + std::to_string(WEXITSTATUS(status)) + ")";
    }
    return "the helper ended early";
}

void ArchiveHost::Fail(const std::string& reason) {
    broken_ = true;
    brokenReason_ = reason;
    Stop();
    throw HostError(reason);
}

void ArchiveHost::Send(Command command) {
    if (broken_) {
        throw HostError(brokenReason_);
    }
    const char byte = static_cast<char>(command);
    ssize_t sent;
    while ((sent = ::send(socket_, &byte, 1, MSG_NOSIGNAL)) < 0 && errno == EINTR) {
    }
    if (sent != 1) {
        Fail(ExitReason());
    }
}

bool ArchiveHost::ReadExactly(char* data, std::size_t size) {
    using Clock = std::chrono::steady_clock;
    while (size > 0) {
        pollfd wait{socket_, POLLIN, 0};
        const auto started = Clock::now();
        const int ready = ::poll(&wait, 1, static_cast<int>(options_.answerTimeout.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready == 0 && Clock::now() - started >= options_.answerTimeout) {
            Fail("the archive took more than " +
                 std::to_string(options_.answerTimeout.count() / 1000) + " s without progress");
        }
        const ssize_t got = ::recv(socket_, data, size, 0);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        data += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

ArchiveHost::Frame ArchiveHost::Receive() {
    for (;;) {
        Frame frame = ReceiveAny();
        if (frame.type != FrameType::kNote) {
            return frame;
        }
        if (options_.note) {
            options_.note(frame.payload);
        }
    }
}

ArchiveHost::Frame ArchiveHost::ReceiveAny() {
    char header[5];
    if (!ReadExactly(header, sizeof header)) {
        Fail(ExitReason());
    }
    std::uint32_t size = 0;
    for (int i = 0; i < 4; ++i) {
        size |= static_cast<std::uint32_t>(static_cast<unsigned char>(header[1 + i])) << (8 * i);
    }
    if (size > kMaxFramePayload) {
        Fail("the helper sent a malformed answer");
    }
    Frame frame{static_cast<FrameType>(header[0]), std::string(size, '\0')};
    if (!ReadExactly(frame.payload.data(), size)) {
        Fail(ExitReason());
    }
    return frame;
}

void ArchiveHost::StreamAll() {
    if (!streaming_) {
        Send(Command::kStream);
        streaming_ = true;
    }
}

std::optional<HostMember> ArchiveHost::Next() {
    if (ended_) {
        return std::nullopt;
    }
    if (broken_) {
        throw HostError(brokenReason_);  // streaming sends no command that would find out
    }
    if (!streaming_) {
        Send(Command::kNext);
    } else if (dataPending_) {
        try {
            ReadData([](std::span<const std::byte>) {}, [](std::uint64_t) {});
        } catch (const MemberError&) {
            // the member nobody read is no concern
        }
    }
    Frame frame = Receive();
    switch (frame.type) {
        case FrameType::kMember:
            if (auto member = DecodeMember(frame.payload)) {
                dataPending_ = streaming_;
                return member;
            }
            break;
        case FrameType::kEnd:
            ended_ = true;
            return std::nullopt;
        case FrameType::kFatal:
            Fail(frame.payload);
        default:
            break;
    }
    Fail("the helper sent a malformed answer");
}

void ArchiveHost::ReadData(const std::function<void(std::span<const std::byte>)>& sink) {
    ReadData(sink, [&sink](std::uint64_t size) {
        const std::string zeros(
            static_cast<std::size_t>(std::min<std::uint64_t>(size, kDataFrameSize)), '\0');
        for (; size > 0; size -= std::min<std::uint64_t>(size, zeros.size())) {
            sink(std::as_bytes(
                std::span(zeros.data(), std::min<std::uint64_t>(size, zeros.size()))));
        }
    });
}

void ArchiveHost::ReadData(const std::function<void(std::span<const std::byte>)>& sink,
                           const std::function<void(std::uint64_t)>& holes) {
    if (!streaming_) {
        Send(Command::kData);
    } else if (broken_) {
        throw HostError(brokenReason_);
    } else if (!std::exchange(dataPending_, false)) {
        throw MemberError("no member to read");
    }
    for (;;) {
        Frame frame = Receive();
        std::optional<std::uint64_t> hole;
        switch (frame.type) {
            case FrameType::kData:
            case FrameType::kHole:
                hole = frame.type == FrameType::kHole ? DecodeHole(frame.payload) : std::nullopt;
                if (frame.type == FrameType::kHole && !hole) {
                    Fail("the helper sent a malformed answer");
                }
                try {
                    if (hole) {
                        holes(*hole);
                    } else {
                        sink(std::as_bytes(std::span(frame.payload.data(), frame.payload.size())));
                    }
                } catch (const std::exception& error) {
                    // The helper is still sending this member: it cannot be asked for more,
                    // and what stopped this member (a full disk) stops the archive.
                    broken_ = true;
                    brokenReason_ = std::string("extraction stopped: ") + error.what();
                    Stop();
                    throw;
                } catch (...) {
                    broken_ = true;
                    brokenReason_ = "extraction stopped";
                    Stop();
                    throw;
                }
                break;
            case FrameType::kDataEnd:
                return;
            case FrameType::kMemberError:
                throw MemberError(frame.payload);
            case FrameType::kFatal:
                Fail(frame.payload);
            default:
                Fail("the helper sent a malformed answer");
        }
    }
}

}  // namespace zembrat::archive_host
