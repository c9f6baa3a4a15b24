// The benchmarks' measure of memory: the high-water resident memory of the
// running program started again with --peak WHAT FILE, which does that one
// thing and prints its peak in KiB. That run first makes every page of the
// program's and its libraries' files resident, so that two runs differ by
// what their calls allocate, not by which pages of code they happened to
// run.
#ifndef ORVANDEL_BENCH_PEAK_H
#define ORVANDEL_BENCH_PEAK_H

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

// Reads every page of every file mapped into the program (its code, its
// libraries'), making them resident.
inline void residentFiles() {
    FILE* maps = fopen("/proc/self/maps", "r");
    if (!maps) return;
    const long page = sysconf(_SC_PAGESIZE);
    char line[4096];
    while (fgets(line, sizeof line, maps)) {
        unsigned long lo, hi;
        char perms[5];
        int name = 0;
        if (sscanf(line, "%lx-%lx %4s %*s %*s %*s %n", &lo, &hi, perms, &name) == 3 && perms[0] == 'r' &&
            line[name] == '/')
            for (unsigned long at = lo; at < hi; at += page) (void)*reinterpret_cast<volatile const char*>(at);
    }
    fclose(maps);
}

// This program's high-water resident memory in KiB, or -1. VmHWM starts
// afresh with the program; getrusage's high-water mark would carry the
// forking benchmark's over the exec.
inline long highWaterKiB() {
    long kib = -1;
    if (FILE* status = fopen("/proc/self/status", "r")) {
        char line[256];
        while (fgets(line, sizeof line, status))
            if (sscanf(line, "VmHWM: %ld kB", &kib) == 1) break;
        fclose(status);
    }
    return kib;
}

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
