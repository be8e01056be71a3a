#include "engine/platform/KeptThread.h"

#include <vector>

namespace engine {

namespace {

// One writer per output; a batch writes a few outputs side by side.
constexpr std::size_t kMostKept = 8;

struct Idle {
    std::mutex mutex;
    std::vector<KeptThread*> threads;
};

Idle& idle()
{
    static Idle* const pool = new Idle;  // never destroyed: its threads live until exit
    return *pool;
}

}  // namespace

KeptThread* KeptThread::start(std::function<void()> job)
{
    KeptThread* t = nullptr;
    {
        Idle& i = idle();
        std::lock_guard lock(i.mutex);
        if (!i.threads.empty()) {
            t = i.threads.back();
            i.threads.pop_back();
        }
    }
    if (!t) {
        t = new KeptThread;
        t->busy_ = true;
        t->job_ = std::move(job);
        t->thread_ = std::thread([t] { t->loop(); });
        return t;
    }
    {
        std::lock_guard lock(t->mutex_);
        t->job_ = std::move(job);
        t->busy_ = true;
    }
    t->changed_.notify_all();
    return t;
}

void KeptThread::join()
{
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !busy_; });
    }
    Idle& i = idle();
    std::unique_lock lock(i.mutex);
    if (i.threads.size() < kMostKept) {
        i.threads.push_back(this);
        return;
    }
    lock.unlock();
    // More idle threads than are ever needed at once: this one ends.
    {
        std::lock_guard own(mutex_);
        job_ = nullptr;
        busy_ = true;
    }
    changed_.notify_all();
    thread_.join();
    delete this;
}

void KeptThread::loop()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return busy_; });
        if (!job_) break;
        auto job = std::move(job_);
        job_ = nullptr;
        lock.unlock();
        job();
        job = nullptr;
        lock.lock();
        busy_ = false;
        changed_.notify_all();
    }
}

}  // namespace engine
