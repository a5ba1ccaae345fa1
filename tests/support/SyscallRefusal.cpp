#include "SyscallRefusal.h"

#include <cerrno>
#include <cstddef>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace {

#if defined(__x86_64__)
constexpr unsigned kArchitecture = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr unsigned kArchitecture = AUDIT_ARCH_AARCH64;
#else
constexpr unsigned kArchitecture = 0;
#endif

bool refuse(const std::vector<SyscallRefusal::Refusal>& refusals)
{
    if (kArchitecture == 0)
        return false;
    std::vector<sock_filter> filter{
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kArchitecture, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
    };
    for (const SyscallRefusal::Refusal& refusal : refusals) {
        const sock_filter refused = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (refusal.error & SECCOMP_RET_DATA));
        if (refusal.flags == 0) {
            filter.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<unsigned>(refusal.call), 0, 1));
            filter.push_back(refused);
            continue;
        }
        // The first argument's low half; the call's number is loaded again
        // for the next refusal.
        filter.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<unsigned>(refusal.call), 0, 3));
        filter.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])));
        filter.push_back(BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, refusal.flags, 0, 1));
        filter.push_back(refused);
        filter.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)));
    }
    filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    const sock_fprog program{static_cast<unsigned short>(filter.size()), filter.data()};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// clone3 takes its flags in memory, which a filter cannot read: refused as
// unknown, it makes the C library fall back on clone, whose flags tell a
// thread from a process.
const std::vector<SyscallRefusal::Refusal> kNoNewThreads{{SYS_clone3, ENOSYS}, {SYS_clone, EAGAIN, CLONE_THREAD}};
// fork alone asks for the child's thread id to be set in the child.
const std::vector<SyscallRefusal::Refusal> kNoNewProcesses{{SYS_clone3, ENOSYS},
                                                            {SYS_clone, EAGAIN, CLONE_CHILD_SETTID}};

} // namespace

bool SyscallRefusal::refuseNewThreads()
{
    return refuse(kNoNewThreads);
}

bool SyscallRefusal::refuseNewProcesses()
{
    return refuse(kNoNewProcesses);
}

std::optional<std::string> SyscallRefusal::run(const std::vector<Refusal>& refusals,
                                               const std::function<std::string()>& work)
{
    int channel[2];
    if (::pipe(channel) != 0)
        return std::nullopt;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        if (!refuse(refusals))
            ::_exit(2);
        const std::string answer = work();
        const bool written = ::write(channel[1], answer.data(), answer.size()) == static_cast<ssize_t>(answer.size());
        ::_exit(written ? 0 : 3);
    }
    ::close(channel[1]);
    std::string answer;
    char buffer[4096];
    for (ssize_t got; (got = ::read(channel[0], buffer, sizeof buffer)) > 0;)
        answer.append(buffer, static_cast<size_t>(got));
    ::close(channel[0]);
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    return answer;
}

std::optional<std::string> SyscallRefusal::runWithoutNewThreads(const std::function<std::string()>& work)
{
    return run(kNoNewThreads, [&]() -> std::string {
        try {
            std::thread([] {}).join();
            return "a thread was started";
        } catch (const std::system_error&) {
        }
        return work();
    });
}
