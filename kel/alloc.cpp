// Allocation and errors.
#include "kel/alloc.h"

#include <sys/mman.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

thread_local unsigned long kelFailingAllocation;

static bool failHere() { return kelFailingAllocation && --kelFailingAllocation == 0; }

bool kelAllocationFails() { return failHere(); }

void* kelTryAlloc(size_t count, size_t size) {
    if (count == 0) count = 1;
    if (size == 0) size = 1;
    if (count > SIZE_MAX / size || failHere()) return nullptr;
    void* p = calloc(count, size);
    if (p) kelAdviseHugePages(p, count * size);
    return p;
}

void* kelTryAllocUninitialized(size_t count, size_t size) {
    if (count == 0) count = 1;
    if (size == 0) size = 1;
    if (count > SIZE_MAX / size || failHere()) return nullptr;
    void* p = malloc(count * size);
    if (p) kelAdviseHugePages(p, count * size);
    return p;
}

void kelAdviseHugePages(void* block, size_t bytes) {
    if (bytes < (size_t(8) << 20)) return;
    uintptr_t start = (uintptr_t(block) + 4095) & ~uintptr_t(4095);
    uintptr_t stop = (uintptr_t(block) + bytes) & ~uintptr_t(4095);
    madvise(reinterpret_cast<void*>(start), stop - start, MADV_HUGEPAGE);
}

void* kelTryRealloc(void* block, size_t size) { return failHere() ? nullptr : realloc(block, size ? size : 1); }

char* kelTryCopyName(const char* text, size_t length) {
    char* copy = static_cast<char*>(kelTryAlloc(length + 1, 1));
    if (copy) memcpy(copy, text, length);
    return copy;
}

// The whole text of the latest message kelSetError cut, for kelPrintError.
// Errors travel between threads and are copied, so the text is kept here,
// by the library, rather than beside the error; an error whose cut text is
// not the start of this one prints as it stands.
static std::mutex cutLock;
static char* cutMessage;  // owned, under cutLock

static void setError(KelError* error, int code, unsigned long line, int systemError, const char* format, va_list args) {
    if (!error || error->code != KEL_OK) return;
    error->code = code;
    error->line = line;
    error->systemError = systemError;
    va_list again;
    va_copy(again, args);
    int length = vsnprintf(error->message, sizeof error->message, format, args);
    if (length >= int(sizeof error->message)) {
        char* whole = static_cast<char*>(malloc(size_t(length) + 1));
        if (whole) vsnprintf(whole, size_t(length) + 1, format, again);
        std::lock_guard<std::mutex> hold(cutLock);
        free(cutMessage);
        cutMessage = whole;
    }
    va_end(again);
}

void kelSetError(KelError* error, int code, unsigned long line, const char* format, ...) {
    va_list args;
    va_start(args, format);
    setError(error, code, line, 0, format, args);
    va_end(args);
}

void kelSetSystemError(KelError* error, int code, int systemError, const char* format, ...) {
    va_list args;
    va_start(args, format);
    setError(error, code, 0, systemError, format, args);
    va_end(args);
}

void kelPrintError(FILE* stream, const KelError* error) {
    std::lock_guard<std::mutex> hold(cutLock);
    size_t length = strnlen(error->message, sizeof error->message);
    bool cut = length == sizeof error->message - 1 && cutMessage && strncmp(cutMessage, error->message, length) == 0;
    fprintf(stream, "%s\n", cut ? cutMessage : error->message);
}

void kelSetMemoryError(KelError* error, size_t count, size_t size) {
    kelSetError(error, KEL_ERROR_MEMORY, 0, "kel: out of memory (%zu entries of %zu bytes).", count, size);
}

char* kelBesidePath(const char* path, const char* name) {
    const char* slash = strrchr(path, '/');
    size_t dirLength = slash ? size_t(slash - path) + 1 : 0, nameLength = strlen(name);
    char* joined = static_cast<char*>(kelTryAlloc(dirLength + nameLength + 1, 1));
    if (!joined) return nullptr;
    memcpy(joined, path, dirLength);
    memcpy(joined + dirLength, name, nameLength);
    return joined;
}
