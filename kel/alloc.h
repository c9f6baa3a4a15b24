// Allocation and errors shared by the kel sources.
#ifndef KEL_ALLOC_H
#define KEL_ALLOC_H

// A null model or missing table is a programming error in every build, so the
// library's assertions fire in release builds too. <cassert> redefines assert
// each time it is included, following NDEBUG as it stands then.
#undef NDEBUG
#include <cassert>
#include <cstddef>
#include <cstdio>

#include "kel/kel.h"

// Zero-filled heap memory for `count` entries of `size` bytes (at least one
// byte), or null when it cannot be had (an overflowing size included). The
// caller owns it and frees it with free(). Loads use this and report
// KEL_ERROR_MEMORY; large tables are advised to use huge pages.
void* kelTryAlloc(size_t count, size_t size);
// Asks for huge pages for a block of `bytes` from malloc when it is large
// (8 MiB or more): a table filled page by page then takes far fewer page
// faults. Smaller blocks are left as they are.
void kelAdviseHugePages(void* block, size_t bytes);
// kelTryAlloc without the zero fill, for tables written before they are
// read: null when out of memory or when the size overflows.
void* kelTryAllocUninitialized(size_t count, size_t size);
// The test hook below for allocations that do not go through these calls
// (a mapping): true when this one is to fail.
bool kelAllocationFails();
// realloc to `size` bytes; null (the old block untouched) when it fails.
void* kelTryRealloc(void* block, size_t size);
// A heap copy of the first `length` bytes at `text`, NUL-terminated, or null.
char* kelTryCopyName(const char* text, size_t length);

// Test hook, per thread: when nonzero, counts allocations down and makes the
// one that brings it to zero fail, as if memory ran out there.
extern thread_local unsigned long kelFailingAllocation;

// Fills *error (when not null) with `code`, `line` and the printf-formatted
// message (systemError 0); an error already set is kept, so the first one
// wins. A message longer than KelError::message holds is cut there, and
// its whole text kept for kelPrintError.
void kelSetError(KelError* error, int code, unsigned long line, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
// kelSetError, line 0, for a system call that failed with errno
// `systemError`.
void kelSetSystemError(KelError* error, int code, int systemError, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
// Prints the error's message and a newline on `stream`, whole when
// kelSetError had to cut it (the whole text of the latest message cut on
// any thread is kept; an error cut before that prints as it stands).
void kelPrintError(FILE* stream, const KelError* error);

// Where the messages of a load or a save go: to `warning` (given `user`),
// or, when that is null, to stdout.
struct KelWarnings {
    void (*warning)(void* user, unsigned long line, const char* message);
    void* user;
};
// Sends the printf-formatted message, concerning input line `line` (0 for
// none), where `to` says; null `to` (a call outside loads and saves) is
// kelMessage to stdout, and `to` without a warning callback is stdout.
void kelWarn(const KelWarnings* to, unsigned long line, const char* format, ...) __attribute__((format(printf, 3, 4)));
// Sends the printf-formatted message (no final newline) to the handler
// kelSetMessageHandler set, or, while none is set, prints it and a newline
// on `fallback` (stdout or stderr). For the calls outside loads and saves.
void kelMessage(FILE* fallback, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Sets KEL_ERROR_MEMORY for `count` entries of `size` bytes.
void kelSetMemoryError(KelError* error, size_t count, size_t size);

// The directory part of `path` (up to and including its last '/') followed
// by `name`: a new heap string the caller frees, or null when out of memory.
char* kelBesidePath(const char* path, const char* name);

#endif  // KEL_ALLOC_H
