// Spreading independent pieces of work over the processor's cores.
#pragma once

#include <cstddef>
#include <functional>

// Threads worth running for work that mostly waits on the file system and the
// rest on the processor: one per core, at most four, and at least two even on
// one core, where a second file is opened while the first is waited for.
unsigned WorkerThreads();

// Runs work(i) for every i below count, on the calling thread and up to
// threads - 1 more, and returns when every piece is done. Pieces are taken in
// order of i but may finish in any order. When a piece throws, no further
// pieces are started and the first exception is rethrown here once the other
// threads have stopped; when no thread can be started, the calling thread does
// all the work.
void ParallelFor(size_t count, unsigned threads, const std::function<void(size_t)>& work);
