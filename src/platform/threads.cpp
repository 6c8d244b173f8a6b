// platform/threads.cpp: the worker pool behind parallel_for.
#include "platform/threads.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include <sched.h>

namespace {

int cores_available() {
    cpu_set_t set;
    // The cores this process may use, which a container or taskset may limit.
    if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
    return std::max(1u, std::thread::hardware_concurrency());
}

class Pool {
public:
    ~Pool() { stop(); }

    void resize(int workers) {
        stop();
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = false;
        // A new worker waits for the next run: one that took the last run for new would
        // work it a second time and count itself done twice.
        const unsigned current = generation_;
        for (int w = 1; w <= workers; ++w)
            threads_.emplace_back([this, w, current] { serve(w, current); });
    }

    int workers() const { return static_cast<int>(threads_.size()); }

    void run(int count, int grain, const std::function<void(int, int, int)>& body) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            body_ = &body;
            count_ = count;
            grain_ = grain;
            next_.store(0);
            busy_ = static_cast<int>(threads_.size());
            ++generation_;
        }
        wake_.notify_all();
        work(0);
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [this] { return busy_ == 0; });
        body_ = nullptr;
    }

private:
    void work(int worker) {
        for (;;) {
            int begin = next_.fetch_add(grain_);
            if (begin >= count_) return;
            (*body_)(begin, std::min(count_, begin + grain_), worker);
        }
    }

    void serve(int worker, unsigned seen) {
        for (;;) {
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
                if (stopping_) return;
                seen = generation_;
            }
            work(worker);
            std::lock_guard<std::mutex> lock(mutex_);
            if (--busy_ == 0) done_.notify_one();
        }
    }

    void stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        for (std::thread& thread : threads_) thread.join();
        threads_.clear();
    }

    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::vector<std::thread> threads_;
    const std::function<void(int, int, int)>* body_ = nullptr;
    int count_ = 0, grain_ = 1, busy_ = 0;
    unsigned generation_ = 0;
    bool stopping_ = false;
    std::atomic<int> next_{0};
};

int requested = 0;
Pool& pool() {
    // Never destroyed: a worker must not be joined from a static destructor after exit()
    // has begun, which a fatal stop inside a run may call at any time.
    static Pool* instance = new Pool;
    return *instance;
}

}  // namespace

void set_thread_count(int count) { requested = count; }

int thread_count() { return requested > 0 ? requested : cores_available(); }

void parallel_for(int count, int grain, const std::function<void(int, int, int)>& body) {
    if (count <= 0) return;
    grain = std::max(1, grain);
    const int threads = std::min(thread_count(), (count + grain - 1) / grain);
    if (threads <= 1) {
        for (int begin = 0; begin < count; begin += grain)
            body(begin, std::min(count, begin + grain), 0);
        return;
    }
    Pool& workers = pool();
    // The pool keeps one worker fewer than the thread count: the caller works too.
    if (workers.workers() != thread_count() - 1) workers.resize(thread_count() - 1);
    workers.run(count, grain, body);
}
