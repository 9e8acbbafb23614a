// Work done on several threads and handed back in the order it was given,
// so that what the user reads and what the log holds is exactly what one
// thread would have made. Jobs go to the threads in blocks of consecutive
// ones, so that threads wake once a block rather than once a job.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
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
  OrderedWork(unsigned threads, std::size_t blockSize,
              std::function<Result(const Job&, unsigned worker)> work)
      : blockSize_(threads > 1 ? blockSize : 1), work_(std::move(work)) {
    for (unsigned worker = 0; threads > 1 && worker < threads; ++worker) {
      workers_.emplace_back([this, worker] { Serve(worker); });
    }
  }
  ~OrderedWork() {
    {
      const std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    blocksWaiting_.notify_all();
    for (std::thread& worker : workers_) {
      worker.join();
    }
  }
  OrderedWork(const OrderedWork&) = delete;
  OrderedWork& operator=(const OrderedWork&) = delete;

  void Add(Job job) {
    if (!open_) {
      open_ = std::make_shared<Block>();
    }
    open_->jobs.push_back(std::move(job));
    ++added_;
    if (open_->jobs.size() >= blockSize_) {
      Submit();
    }
  }

  // Jobs given whose results have not been taken.
  std::size_t Pending() const { return added_ - taken_; }

  // The result of the oldest job not yet taken; there must be one.
  Result Next() {
    if (blocks_.empty() || blocks_.front()->taken == blocks_.front()->jobs.size()) {
      if (!blocks_.empty()) {
        blocks_.pop_front();
      }
      if (blocks_.empty()) {
        Submit();
      }
    }
    const std::shared_ptr<Block> block = blocks_.front();
    if (workers_.empty()) {
      ++taken_;
      return work_(block->jobs[block->taken++], 0);
    }
    {
      std::unique_lock lock(mutex_);
      blockDone_.wait(lock, [&] { return block->done; });
    }
    ++taken_;
    return std::move(*block->results[block->taken++]);
  }

 private:
  struct Block {
    std::vector<Job> jobs;
    std::vector<std::optional<Result>> results;
    std::size_t taken = 0;
    bool done = false;
  };

  // Hands the block being filled to the threads.
  void Submit() {
    if (!open_) {
      return;
    }
    blocks_.push_back(open_);
    if (!workers_.empty()) {
      {
        const std::lock_guard lock(mutex_);
        queue_.push_back(open_);
      }
      blocksWaiting_.notify_one();
    }
    open_.reset();
  }

  void Serve(unsigned worker) {
    for (;;) {
      std::shared_ptr<Block> block;
      {
        std::unique_lock lock(mutex_);
        blocksWaiting_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) {
          return;
        }
        block = std::move(queue_.front());
        queue_.pop_front();
      }
      std::vector<std::optional<Result>> results;
      results.reserve(block->jobs.size());
      for (const Job& job : block->jobs) {
        results.emplace_back(work_(job, worker));
      }
      {
        const std::lock_guard lock(mutex_);
        block->results = std::move(results);
        block->done = true;
      }
      blockDone_.notify_all();
    }
  }

  const std::size_t blockSize_;
  std::function<Result(const Job&, unsigned)> work_;
  // The caller's side: blocks given out, in order, and the one being filled.
  std::deque<std::shared_ptr<Block>> blocks_;
  std::shared_ptr<Block> open_;
  std::size_t added_ = 0;
  std::size_t taken_ = 0;
  // Shared with the threads.
  std::mutex mutex_;
  std::condition_variable blocksWaiting_;
  std::condition_variable blockDone_;
  std::deque<std::shared_ptr<Block>> queue_;
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace lapse::batch
