/* A frame probe loaded into the program with LD_PRELOAD. It wraps
 * glutIdleFunc, to know when the animation runs, and glutSwapBuffers, to
 * count the frames drawn while it runs. At chosen animated frames it appends
 * a line "frame rss_bytes heap_bytes seconds" to a file (seconds on a
 * monotonic clock), and after the last chosen frame it ends the process with
 * status 0 through _exit: the libraries stay loaded, so a leak report still
 * names the objects that made each block. Everything it needs comes from
 * its own environment variables:
 *   FRAMEPROBE_LOG    the file the lines are appended to
 *   FRAMEPROBE_MARKS  the frame numbers, ascending, separated by commas;
 *                     the last one ends the process
 *   FRAMEPROBE_END    a file: once it exists, the process ends the same way
 *                     after three more animated frames, recording the last
 *                     (so that whatever was sent before it was made has been
 *                     handled and drawn)
 * Without FRAMEPROBE_LOG the probe only passes the calls on. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <malloc.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

typedef void (*IdleFunc)(void);

static int animating;   /* an idle callback is registered */
static long frames;     /* swaps made while animating */
static long marks[256]; /* ascending frame numbers */
static int markCount = -1, nextMark;
static const char* logPath;
static const char* endPath;
static int endCountdown = -1; /* frames left once the end file is seen */

static void loadMarks(void) {
    markCount = 0;
    logPath = getenv("FRAMEPROBE_LOG");
    endPath = getenv("FRAMEPROBE_END");
    const char* text = getenv("FRAMEPROBE_MARKS");
    while (text && *text && markCount < 256) {
        char* end;
        const long n = strtol(text, &end, 10);
        if (end == text) break;
        if (n > 0 && (markCount == 0 || n > marks[markCount - 1])) marks[markCount++] = n;
        text = *end == ',' ? end + 1 : end;
    }
}

/* The resident set less its file-backed pages (what a leak grows; code of
   the program and its libraries paged in late does not count), from
   /proc/self/statm, in bytes; -1 if unreadable. */
static long residentBytes(void) {
    long size = 0, resident = -1, shared = 0;
    FILE* f = fopen("/proc/self/statm", "r");
    if (!f) return -1;
    if (fscanf(f, "%ld %ld %ld", &size, &resident, &shared) != 3) resident = -1;
    fclose(f);
    return resident < 0 ? -1 : (resident - shared) * sysconf(_SC_PAGESIZE);
}

static void record(long frame) {
    FILE* f = fopen(logPath, "a");
    if (!f) return;
    /* Bytes handed out by malloc and not yet freed, small and mapped blocks. */
    const struct mallinfo2 heap = mallinfo2();
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    fprintf(f, "%ld %ld %zu %.3f\n", frame, residentBytes(), heap.uordblks + heap.hblkhd,
            (double)now.tv_sec + now.tv_nsec / 1e9);
    fclose(f);
}

void glutIdleFunc(IdleFunc callback) {
    static void (*real)(IdleFunc);
    if (!real) *(void**)&real = dlsym(RTLD_NEXT, "glutIdleFunc");
    animating = callback != NULL;
    real(callback);
}

void glutSwapBuffers(void) {
    static void (*real)(void);
    if (!real) *(void**)&real = dlsym(RTLD_NEXT, "glutSwapBuffers");
    real();
    if (markCount < 0) loadMarks();
    if (!animating || !logPath) return;
    ++frames;
    if (endCountdown < 0 && endPath && access(endPath, F_OK) == 0) endCountdown = 3;
    const int marked = nextMark < markCount && frames == marks[nextMark];
    if (marked || endCountdown == 0) record(frames);
    if ((marked && ++nextMark == markCount) || endCountdown == 0) {
        fflush(NULL);
        _exit(0);
    }
    if (endCountdown > 0) --endCountdown;
}
