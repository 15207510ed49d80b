// Runs a program and writes its peak resident memory (KiB) and wall-clock time (seconds) to a file:
//   tsconv_measure_run FIGURES -- PROGRAM ARGUMENTS...
// Exits as the program did (128 + the signal when a signal ended it). A program's peak memory as the kernel
// reports it includes what its parent held when it was forked; this small launcher keeps that below the
// program's own, however much the caller holds.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 4 || std::strcmp(argv[2], "--") != 0) {
        std::fprintf(stderr, "usage: tsconv_measure_run FIGURES -- PROGRAM ARGUMENTS...\n");
        return 70;
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) return 70;
    if (pid == 0) {
        execv(argv[3], argv + 3);
        std::perror("tsconv_measure_run: exec");
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return 70;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::FILE* figures = std::fopen(argv[1], "w");
    if (figures == nullptr) return 70;
    std::fprintf(figures, "%ld %.3f\n", usage.ru_maxrss, seconds);
    std::fclose(figures);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
