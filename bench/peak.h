// The benchmarks' measure of memory: the high-water resident memory of the
// running program started again with --peak WHAT FILE, which does that one
// thing and prints its peak in KiB.
#ifndef ORVANDEL_BENCH_PEAK_H
#define ORVANDEL_BENCH_PEAK_H

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

// The peak in KiB that `/proc/self/exe --peak what path` prints, or -1.
inline long peakKiB(const char* what, const char* path) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    pid_t child = fork();
    if (child == 0) {
        dup2(fds[1], 1);
        execl("/proc/self/exe", "/proc/self/exe", "--peak", what, path, (char*)nullptr);
        _exit(127);
    }
    close(fds[1]);
    char text[64] = {};
    ssize_t got = read(fds[0], text, sizeof text - 1);
    close(fds[0]);
    int status;
    waitpid(child, &status, 0);
    return got > 0 ? atol(text) : -1;
}

#endif  // ORVANDEL_BENCH_PEAK_H
