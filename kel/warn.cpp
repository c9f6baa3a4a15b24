// Where the messages of loads, saves, drawing and the model operations go:
// the caller's callback, the library-wide handler, or stdout / stderr.
// Built into both libraries, as drawing warns too.
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "kel/alloc.h"

namespace {

// The handler and its user pointer, published as a pair through a sequence
// count: odd while a change is under way, so a reader that sees the same
// even count before and after reading both has a pair that belongs
// together. Readers only load atomics; changes are serialised by a mutex.
std::atomic<unsigned> handlerVersion{0};
std::atomic<void (*)(void*, const char*)> handlerCall{nullptr};
std::atomic<void*> handlerUser{nullptr};
std::mutex handlerChange;

void currentHandler(void (**call)(void*, const char*), void** user) {
    for (;;) {
        unsigned before = handlerVersion.load();
        if (before & 1) continue;
        *call = handlerCall.load();
        *user = handlerUser.load();
        if (handlerVersion.load() == before) return;
    }
}

// The formatted text handed to `send`; when it cannot be formatted (out of
// memory), the format itself, so that something of the message arrives.
template <typename Send>
void formatted(const char* format, va_list args, Send send) {
    char* text = nullptr;
    if (vasprintf(&text, format, args) >= 0) {
        send(text);
        free(text);
    } else {
        send(format);
    }
}

void message(FILE* fallback, const char* format, va_list args) {
    void (*call)(void*, const char*);
    void* user;
    currentHandler(&call, &user);
    if (call) {
        formatted(format, args, [&](const char* text) { call(user, text); });
    } else {
        vfprintf(fallback, format, args);
        fputc('\n', fallback);
    }
}

}  // namespace

void kelSetMessageHandler(void (*handler)(void* user, const char* message), void* user) {
    std::lock_guard<std::mutex> hold(handlerChange);
    handlerVersion.fetch_add(1);
    handlerCall.store(handler);
    handlerUser.store(handler ? user : nullptr);
    handlerVersion.fetch_add(1);
}

void kelMessage(FILE* fallback, const char* format, ...) {
    va_list args;
    va_start(args, format);
    message(fallback, format, args);
    va_end(args);
}

void kelWarn(const KelWarnings* to, unsigned long line, const char* format, ...) {
    va_list args;
    va_start(args, format);
    if (!to) {
        message(stdout, format, args);
    } else if (!to->warning) {
        vprintf(format, args);
        putchar('\n');
    } else {
        formatted(format, args, [&](const char* text) { to->warning(to->user, line, text); });
    }
    va_end(args);
}
