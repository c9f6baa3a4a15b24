// The OBJ reader's threads: how many a pass takes, and a pass's work run on
// them with the calling thread among them, reporting progress.
#ifndef KEL_OBJ_THREADS_H
#define KEL_OBJ_THREADS_H

#include <atomic>
#include <cassert>
#include <chrono>
#include <thread>

#include "kel/obj_reader.h"

namespace kelobj {

// The number of threads for a pass over `pieces` pieces of input of `bytes`
// bytes: as asked, or as many as the machine has cores for input that is
// not small.
inline unsigned threadCount(const KelReadOptions* options, unsigned long long bytes, size_t pieces) {
    const unsigned long long small = 4ull << 20;
    unsigned want = options->threads;
    if (want == 0) want = bytes < small ? 1 : std::thread::hardware_concurrency();
    if (want > kMaxThreads) want = kMaxThreads;
    if (want > pieces) want = unsigned(pieces);
    return want ? want : 1;
}

// Runs `work(thread)` on `threads` threads numbered from 0, the calling
// thread (0, the one that reports progress) among them; fewer when a thread
// cannot be started. Once its own share is done, the calling thread goes on
// reporting progress until the others are done too.
template <typename Work>
void onThreads(Progress* progress, unsigned threads, Work work) {
    assert(threads >= 1 && threads <= kMaxThreads);
    std::thread helpers[kMaxThreads];
    std::atomic<unsigned> finished{0};
    unsigned started = 0;
    for (; started + 1 < threads; started++) {
        try {
            helpers[started] = std::thread([&work, &finished, started] {
                work(started + 1);
                finished++;
            });
        } catch (...) {
            break;
        }
    }
    work(0u);
    while (progress->options->progress && finished < started && reportProgress(progress, progress->bytesDone))
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    for (unsigned i = 0; i < started; i++) helpers[i].join();
}

}  // namespace kelobj

#endif  // KEL_OBJ_THREADS_H
