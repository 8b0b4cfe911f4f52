#include "packer/common/work_pool.h"

#include <chrono>
#include <utility>

namespace popbox {

WorkPool::WorkPool(unsigned threads, size_t window,
                   std::function<void(size_t item, unsigned worker)> work,
                   std::function<bool(size_t item)> admit)
    : window_(window < 1 ? 1 : window),
      work_(std::move(work)),
      admit_(std::move(admit)),
      done_(window_, 0) {
  try {
    for (unsigned worker = 1; worker <= threads; ++worker) {
      threads_.emplace_back([this, worker] {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
          changed_.wait(lock, [this] { return stop_ || CanStart(); });
          if (stop_) return;
          RunNext(lock, worker);
        }
      });
    }
  } catch (...) {
    Stop();
    throw;
  }
}

bool WorkPool::CanStart() const {
  return started_ < available_ && started_ < released_ + window_ && started_ < failedItem_ &&
         (!admit_ || admit_(started_));
}

void WorkPool::RunNext(std::unique_lock<std::mutex>& lock, unsigned worker) {
  const size_t item = started_++;
  done_[item % window_] = 0;
  ++running_;
  lock.unlock();
  std::exception_ptr failure;
  try {
    work_(item, worker);
  } catch (...) {
    failure = std::current_exception();
  }
  lock.lock();
  done_[item % window_] = 1;
  --running_;
  if (failure && item < failedItem_) {
    failedItem_ = item;
    failure_ = failure;
  }
  changed_.notify_all();
}

void WorkPool::Extend(size_t count) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (count <= available_) return;
    available_ = count;
  }
  changed_.notify_all();
}

void WorkPool::Take(size_t item, const std::function<void()>& tick) {
  std::unique_lock<std::mutex> lock(mutex_);
  auto ready = [&] { return failedItem_ <= item || Done(item); };
  if (tick) {
    while (!changed_.wait_for(lock, std::chrono::milliseconds(100), ready)) {
      lock.unlock();
      tick();
      lock.lock();
    }
  } else {
    changed_.wait(lock, ready);
  }
  if (failedItem_ <= item) std::rethrow_exception(failure_);
  taken_ = item + 1;
}

void WorkPool::Release(size_t item) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (item < released_) return;
    released_ = item + 1;
  }
  changed_.notify_all();
}

void WorkPool::Help(const std::function<void()>& tick) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (CanStart()) {
    RunNext(lock, 0);
    if (tick) {
      lock.unlock();
      tick();
      lock.lock();
    }
  }
  changed_.wait(lock, [this] { return running_ == 0; });
  if (failure_) std::rethrow_exception(failure_);
}

void WorkPool::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  for (std::thread& thread : threads_) thread.join();
  threads_.clear();
}

}  // namespace popbox
