// platform/threads.h: a small pool of worker threads for the pure phases of a step.
//
// Work handed to the pool computes into buffers of its own and touches no shared state:
// every sum, counter and message stays on the calling thread, in the order a single thread
// would make them, so the results do not depend on the number of threads.
#pragma once

#include <functional>

// 0 or less: every core the process may run on. Workers start on first use.
void set_thread_count(int count);
int thread_count();

// Calls body(begin, end, worker) for consecutive ranges of at most `grain` items covering
// [0, count), on the calling thread (worker 0) and the pool's workers (1 ..
// thread_count() - 1), and returns when all are done. A worker's scratch buffers can be
// indexed by `worker`. The body must not stop the process or print.
void parallel_for(int count, int grain, const std::function<void(int, int, int)>& body);
