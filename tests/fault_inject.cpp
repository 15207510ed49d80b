// Runs a program under ptrace and makes the kernel's answers about one file fail, the way a broken disk or a
// network share fails, without touching the program or the C library it uses:
//
//   tsconv_fault_inject read-eio PATH N -- PROGRAM ARGUMENTS...
//       reads (read, pread64) from PATH deliver its first N bytes, then fail with EIO;
//   tsconv_fault_inject read-eio-once PATH N -- PROGRAM ARGUMENTS...
//       the same, but only the first read after those N bytes fails: the file reads on from there;
//   tsconv_fault_inject close-eio PATH -- PROGRAM ARGUMENTS...
//       closing PATH fails with EIO (the descriptor is gone all the same).
//
// Exits as the program did (128 + the signal when a signal ended it), 77 on a processor it cannot handle or where
// ptrace is not permitted, 70 when it cannot run the program.

#include <elf.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>

namespace {

constexpr int status_unsupported = 77, status_internal = 70;

[[noreturn]] void die(const char* what) {
    std::fprintf(stderr, "tsconv_fault_inject: %s: %s\n", what, std::strerror(errno));
    std::exit(status_internal);
}

// Replaces the result of the system call the tracee is leaving, or the third argument of the one it enters.
void set_register(pid_t pid, bool result, long long value) {
#if defined(__x86_64__)
    user_regs_struct regs;
    if (ptrace(PTRACE_GETREGS, pid, nullptr, &regs) != 0) die("PTRACE_GETREGS");
    (result ? regs.rax : regs.rdx) = static_cast<unsigned long long>(value);
    if (ptrace(PTRACE_SETREGS, pid, nullptr, &regs) != 0) die("PTRACE_SETREGS");
#elif defined(__aarch64__)
    user_pt_regs regs;
    iovec io{&regs, sizeof regs};
    if (ptrace(PTRACE_GETREGSET, pid, NT_PRSTATUS, &io) != 0) die("PTRACE_GETREGSET");
    regs.regs[result ? 0 : 2] = static_cast<unsigned long long>(value);
    if (ptrace(PTRACE_SETREGSET, pid, NT_PRSTATUS, &io) != 0) die("PTRACE_SETREGSET");
#else
    (void)pid;
    (void)result;
    (void)value;
#endif
}

// True when the tracee's descriptor names the file at path.
bool names_file(pid_t pid, std::uint64_t fd, const char* path) {
    const std::string link = "/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd);
    struct stat opened, named;
    return stat(link.c_str(), &opened) == 0 && stat(path, &named) == 0 && opened.st_dev == named.st_dev &&
           opened.st_ino == named.st_ino;
}

struct Fault {
    bool on_read = false;  // else on close
    bool once = false;     // only one read fails
    const char* path = nullptr;
    std::uint64_t limit = 0;  // bytes delivered before reads fail
    std::uint64_t delivered = 0;
    std::map<pid_t, bool> watched_call;  // per thread: the call in progress concerns the path
};

void entering_call(pid_t tid, Fault& fault, const __ptrace_syscall_info& info) {
    const std::uint64_t nr = info.entry.nr;
    const bool relevant = fault.on_read ? nr == SYS_read || nr == SYS_pread64 : nr == SYS_close;
    fault.watched_call[tid] = relevant && names_file(tid, info.entry.args[0], fault.path);
    // A read asks for no more than may be delivered: the file's position stays where the delivered bytes end.
    const std::uint64_t left = fault.delivered >= fault.limit ? 0 : fault.limit - fault.delivered;
    if (fault.on_read && fault.watched_call[tid] && info.entry.args[2] > left) {
        set_register(tid, false, static_cast<long long>(left));
    }
}

void leaving_call(pid_t tid, Fault& fault, const __ptrace_syscall_info& info) {
    if (!fault.watched_call[tid]) return;
    fault.watched_call[tid] = false;
    if (info.exit.is_error) return;
    if (!fault.on_read || fault.delivered >= fault.limit) {  // every close fails
        set_register(tid, true, -EIO);
        if (fault.once) fault.limit = UINT64_MAX;
    } else {
        fault.delivered += static_cast<std::uint64_t>(info.exit.rval);  // no more than asked for
    }
}

// Follows the program and every thread it starts until the program ends.
int trace(pid_t pid, Fault& fault) {
    int status;
    if (waitpid(pid, &status, 0) != pid) die("waitpid");  // the stop before exec
    if (WIFEXITED(status)) return WEXITSTATUS(status);     // could not be traced
    if (ptrace(PTRACE_SETOPTIONS, pid, nullptr,
               PTRACE_O_TRACESYSGOOD | PTRACE_O_TRACEEXEC | PTRACE_O_TRACECLONE | PTRACE_O_EXITKILL) != 0) {
        die("PTRACE_SETOPTIONS");
    }
    std::set<pid_t> threads_seen{pid};
    if (ptrace(PTRACE_SYSCALL, pid, nullptr, 0) != 0) die("PTRACE_SYSCALL");
    for (;;) {
        const pid_t tid = waitpid(-1, &status, __WALL);
        if (tid < 0) die("waitpid");
        if (WIFEXITED(status) || WIFSIGNALED(status)) {
            if (tid == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            continue;
        }
        if (!WIFSTOPPED(status)) continue;
        const int stop = WSTOPSIG(status);
        if (stop == (SIGTRAP | 0x80)) {
            __ptrace_syscall_info info;
            if (ptrace(PTRACE_GET_SYSCALL_INFO, tid, sizeof info, &info) <= 0) die("PTRACE_GET_SYSCALL_INFO");
            if (info.op == PTRACE_SYSCALL_INFO_ENTRY) entering_call(tid, fault, info);
            if (info.op == PTRACE_SYSCALL_INFO_EXIT) leaving_call(tid, fault, info);
        }
        // Stops of the tracing itself deliver nothing: a system call, an event (exec, a new thread), a new thread's
        // first stop. A thread may be gone by now (the program is ending): nothing to resume.
        const bool tracing_stop = stop == (SIGTRAP | 0x80) || (stop == SIGTRAP && (status >> 16) != 0) ||
                                  (stop == SIGSTOP && threads_seen.insert(tid).second);
        ptrace(PTRACE_SYSCALL, tid, nullptr, tracing_stop ? 0 : stop);
    }
}

}  // namespace

int main(int argc, char** argv) {
    Fault fault;
    fault.once = argc > 1 && std::strcmp(argv[1], "read-eio-once") == 0;
    fault.on_read = fault.once || (argc > 1 && std::strcmp(argv[1], "read-eio") == 0);
    const int next = fault.on_read ? 4 : 3;  // the "--"
    if ((!fault.on_read && (argc < 2 || std::strcmp(argv[1], "close-eio") != 0)) || next + 1 >= argc ||
        std::strcmp(argv[next], "--") != 0) {
        std::fprintf(stderr,
                     "usage: tsconv_fault_inject read-eio[-once] PATH N -- PROGRAM ARGUMENTS...\n"
                     "       tsconv_fault_inject close-eio PATH -- PROGRAM ARGUMENTS...\n");
        return status_internal;
    }
    fault.path = argv[2];
    if (fault.on_read) fault.limit = std::strtoull(argv[3], nullptr, 10);
    char** const program = argv + next + 1;
#if !defined(__x86_64__) && !defined(__aarch64__)
    std::fprintf(stderr, "tsconv_fault_inject: this processor is not supported\n");
    return status_unsupported;
#endif

    const pid_t pid = fork();
    if (pid < 0) die("fork");
    if (pid == 0) {
        // LeakSanitizer stops the program with ptrace at exit, which fails while it is traced here.
        const char* const options = std::getenv("ASAN_OPTIONS");
        const std::string asan_options = std::string(options != nullptr ? options : "") + ":detect_leaks=0";
        setenv("ASAN_OPTIONS", asan_options.c_str(), 1);
        if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) {
            std::fprintf(stderr, "tsconv_fault_inject: ptrace is not permitted here: %s\n", std::strerror(errno));
            _exit(status_unsupported);
        }
        raise(SIGSTOP);
        execvp(program[0], program);
        die("exec");
    }
    return trace(pid, fault);
}
