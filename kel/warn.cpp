// Where the messages of loads, saves and drawing go: the caller's callback,
// or stdout. Built into both libraries, as drawing warns too.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "kel/alloc.h"

void kelWarn(const KelWarnings* to, unsigned long line, const char* format, ...) {
    va_list args;
    va_start(args, format);
    if (!to || !to->warning) {
        vprintf(format, args);
        putchar('\n');
    } else {
        char* text = nullptr;
        if (vasprintf(&text, format, args) >= 0) {
            to->warning(to->user, line, text);
            free(text);
        } else {
            to->warning(to->user, line, format);  // out of memory: the message's pattern at least
        }
    }
    va_end(args);
}
