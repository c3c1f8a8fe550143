#include "base/worker_pool.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <system_error>

namespace framecmp {

WorkerPool::WorkerPool(const int threads) {
  // The workers never take the ending signals: the thread that runs the process takes
  // them, and it holds them off while it names a temporary file for its handler to remove
  // (a worker would end the process before the file is named). They inherit this mask.
  sigset_t ending;
  sigemptyset(&ending);
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&ending, signal_number);
  sigset_t old;
  ::pthread_sigmask(SIG_BLOCK, &ending, &old);
  for (int i = 1; i < threads; ++i) {
    try {
      workers_.emplace_back([this] { work(); });
    } catch (const std::system_error&) {
      break;  // the threads started so far do the work
    }
  }
  ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

WorkerPool::~WorkerPool() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  start_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void WorkerPool::take_tasks() {
  for (std::size_t i = next_.fetch_add(1); i < count_; i = next_.fetch_add(1)) {
    call_(context_, i);
  }
}

void WorkerPool::work() {
  std::uint64_t seen = 0;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      start_.wait(lock, [&] { return stopping_ || generation_ != seen; });
      if (stopping_) return;
      seen = generation_;
    }
    take_tasks();
    const std::lock_guard<std::mutex> lock(mutex_);
    if (--busy_ == 0) done_.notify_one();
  }
}

void WorkerPool::run_erased(const std::size_t count, void* const context, const Call call) {
  if (workers_.empty() || count < 2) {
    for (std::size_t i = 0; i < count; ++i) call(context, i);
    return;
  }
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    count_ = count;
    context_ = context;
    call_ = call;
    next_.store(0);
    busy_ = static_cast<int>(workers_.size());
    ++generation_;
  }
  start_.notify_all();
  take_tasks();
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [&] { return busy_ == 0; });
}

int default_thread_count() {
  const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
  return static_cast<int>(std::clamp<long>(online, 1, 16));
}

}  // namespace framecmp
