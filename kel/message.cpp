// The library-wide message handler. Built into kel_core alone, so that a
// shared kel, whose drawing warns too, reaches the same handler through the
// exported calls.
#include <atomic>
#include <mutex>

#include "kel/kel.h"

namespace {

// The handler and its user pointer, published as a pair through a sequence
// count: odd while a change is under way, so a reader that sees the same
// even count before and after reading both has a pair that belongs
// together. Readers only load atomics; changes are serialised by a mutex.
std::atomic<unsigned> handlerVersion{0};
std::atomic<void (*)(void*, const char*)> handlerCall{nullptr};
std::atomic<void*> handlerUser{nullptr};
std::mutex handlerChange;

}  // namespace

void kelSetMessageHandler(void (*handler)(void* user, const char* message), void* user) {
    std::lock_guard<std::mutex> hold(handlerChange);
    handlerVersion.fetch_add(1);
    handlerCall.store(handler);
    handlerUser.store(handler ? user : nullptr);
    handlerVersion.fetch_add(1);
}

void kelGetMessageHandler(void (**handler)(void* user, const char* message), void** user) {
    void (*call)(void*, const char*);
    void* data;
    for (;;) {
        unsigned before = handlerVersion.load();
        if (before & 1) continue;
        call = handlerCall.load();
        data = handlerUser.load();
        if (handlerVersion.load() == before) break;
    }
    if (handler) *handler = call;
    if (user) *user = data;
}
