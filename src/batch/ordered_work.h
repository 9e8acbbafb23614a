// Work done on several threads and handed back in the order it was given,
// so that what the user reads and what the log holds is exactly what one
// thread would have made.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace lapse::batch {

template <typename Job, typename Result>
class OrderedWork {
 public:
  // work(job, worker) runs on one of threads workers (worker is its index,
  // for buffers of its own); with one thread it runs on the caller's, when
  // the result is asked for.
  OrderedWork(unsigned threads, std::function<Result(const Job&, unsigned worker)> work)
      : work_(std::move(work)) {
    for (unsigned worker = 0; threads > 1 && worker < threads; ++worker) {
      workers_.emplace_back([this, worker] { Serve(worker); });
    }
  }
  ~OrderedWork() {
    {
      const std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    jobsWaiting_.notify_all();
    for (std::thread& worker : workers_) {
      worker.join();
    }
  }
  OrderedWork(const OrderedWork&) = delete;
  OrderedWork& operator=(const OrderedWork&) = delete;

  void Add(Job job) {
    {
      const std::lock_guard lock(mutex_);
      jobs_.emplace_back(added_++, std::move(job));
    }
    jobsWaiting_.notify_one();
  }

  // Jobs given whose results have not been taken.
  std::size_t Pending() const {
    const std::lock_guard lock(mutex_);
    return added_ - taken_;
  }

  // The result of the oldest job not yet taken; there must be one.
  Result Next() {
    if (workers_.empty()) {
      std::pair<std::size_t, Job> job = std::move(jobs_.front());
      jobs_.pop_front();
      ++taken_;
      return work_(job.second, 0);
    }
    std::unique_lock lock(mutex_);
    resultReady_.wait(lock, [this] { return results_.count(taken_) != 0; });
    const auto found = results_.find(taken_);
    Result result = std::move(found->second);
    results_.erase(found);
    ++taken_;
    return result;
  }

 private:
  void Serve(unsigned worker) {
    for (;;) {
      std::pair<std::size_t, Job> job;
      {
        std::unique_lock lock(mutex_);
        jobsWaiting_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        if (jobs_.empty()) {
          return;
        }
        job = std::move(jobs_.front());
        jobs_.pop_front();
      }
      Result result = work_(job.second, worker);
      {
        const std::lock_guard lock(mutex_);
        results_.emplace(job.first, std::move(result));
      }
      resultReady_.notify_all();
    }
  }

  std::function<Result(const Job&, unsigned)> work_;
  mutable std::mutex mutex_;
  std::condition_variable jobsWaiting_;
  std::condition_variable resultReady_;
  std::deque<std::pair<std::size_t, Job>> jobs_;
  std::map<std::size_t, Result> results_;
  std::size_t added_ = 0;
  std::size_t taken_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace lapse::batch
