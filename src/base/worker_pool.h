// Threads that share the work of one frame pair: tasks numbered 0..count-1, spread over
// the threads, the caller among them. No allocation per run of tasks.
#ifndef FRAMECMP_BASE_WORKER_POOL_H_
#define FRAMECMP_BASE_WORKER_POOL_H_

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace framecmp {

class WorkerPool {
 public:
  // `threads` >= 1 in all, the caller's included; fewer when the system cannot start them.
  explicit WorkerPool(int threads);
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;
  ~WorkerPool();

  // Calls task(i) once for every i in [0, count), on any of the threads, and returns when
  // every call has returned. `task` must not throw; calls may run at the same time.
  template <class Task>
  void run(const std::size_t count, Task& task) {
    run_erased(count, &task,
               [](void* context, const std::size_t i) { (*static_cast<Task*>(context))(i); });
  }

  int threads() const { return static_cast<int>(workers_.size()) + 1; }

 private:
  using Call = void (*)(void*, std::size_t);
  void run_erased(std::size_t count, void* context, Call call);
  void work();
  void take_tasks();

  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable start_;
  std::condition_variable done_;
  std::uint64_t generation_ = 0;  // one more for every run of tasks; guarded by mutex_
  bool stopping_ = false;         // guarded by mutex_
  int busy_ = 0;                  // workers still at the current run; guarded by mutex_
  std::size_t count_ = 0;         // tasks of the current run
  void* context_ = nullptr;
  Call call_ = nullptr;
  std::atomic<std::size_t> next_{0};  // the next task to take
};

// Calls task(i) for every i in [0, count): on the pool's threads when there is one, else
// one after the other on the caller's.
template <class Task>
void run_tasks(WorkerPool* const pool, const std::size_t count, Task& task) {
  if (pool != nullptr) {
    pool->run(count, task);
    return;
  }
  for (std::size_t i = 0; i < count; ++i) task(i);
}

// The default number of threads: the processors online, from 1 to 16.
int default_thread_count();

}  // namespace framecmp

#endif  // FRAMECMP_BASE_WORKER_POOL_H_
