// Where the messages of loads, saves, drawing and the model operations go:
// the caller's callback, the library-wide handler (kept in message.cpp), or
// stdout / stderr. Built into both libraries, as drawing warns too.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "kel/alloc.h"

namespace {

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
    kelGetMessageHandler(&call, &user);
    if (call) {
        formatted(format, args, [&](const char* text) { call(user, text); });
    } else {
        vfprintf(fallback, format, args);
        fputc('\n', fallback);
    }
}

}  // namespace

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
