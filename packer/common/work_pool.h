// Work on threads, in order: the one way the packer runs work side by
// side. Items 0, 1, 2, ... start in rising order on a few threads, at most
// a window of items ahead of the consumer, which takes them out in order
// (pack's records, the encoder's output chunks) or helps with them and
// waits for all (the encoder's planning pieces, the parts of a large file
// read). The first failure in item order is passed on to the consumer, and
// no later item starts once an item has failed; stopping waits for every
// thread.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace popbox {

// A file this large is worth splitting among threads: it is read in parts
// side by side (ReadFileInto), and pack's writer compresses it on every job
// while smaller files go whole to one job each.
constexpr uint64_t LARGE_FILE = uint64_t{8} << 20;

class WorkPool {
 public:
  // Starts `threads` threads; work(item, worker) does one item on worker 1
  // to `threads`, or 0 for the caller's thread in Help. A worker does one
  // item at a time, so what it keeps of its own (a match finder, a buffer)
  // needs no lock. Item i + window starts only once the consumer has
  // released item i. `admit`, when given, may hold the next item back
  // further: it is asked under the pool's lock, where it may read Taken()
  // and Released().
  WorkPool(unsigned threads, size_t window, std::function<void(size_t item, unsigned worker)> work,
           std::function<bool(size_t item)> admit = nullptr);
  ~WorkPool() { Stop(); }
  WorkPool(const WorkPool&) = delete;
  WorkPool& operator=(const WorkPool&) = delete;

  // Items below `count` may start; it only grows.
  void Extend(size_t count);

  // The consumer's side, in order. Take waits until `item` is done,
  // running `tick` every tenth of a second meanwhile, and rethrows the
  // failure of the item, or of an earlier one that has not been taken.
  // Release tells that the consumer is done with the items up to `item`,
  // so that later ones may use their places in the window.
  void Take(size_t item, const std::function<void()>& tick = nullptr);
  void Release(size_t item);
  size_t Taken() const { return taken_; }        // items Take has handed out
  size_t Released() const { return released_; }  // items released

  // The caller works on items too, as worker 0, running `tick` after each
  // of its own, until no item is left to start (the window must let every
  // item start: nobody releases); then it waits for the rest and rethrows
  // the first failure.
  void Help(const std::function<void()>& tick = nullptr);

  // No item starts any more; waits for the threads. The pool stops when
  // it is destroyed, the consumer's failure included.
  void Stop();

 private:
  bool CanStart() const;
  bool Done(size_t item) const { return item < started_ && done_[item % window_]; }
  // Takes the next item under the lock, runs it unlocked, and records its end.
  void RunNext(std::unique_lock<std::mutex>& lock, unsigned worker);

  const size_t window_;
  const std::function<void(size_t, unsigned)> work_;
  const std::function<bool(size_t)> admit_;
  std::mutex mutex_;
  std::condition_variable changed_;
  size_t available_ = 0, started_ = 0, taken_ = 0, released_ = 0;
  size_t running_ = 0;
  std::vector<char> done_;  // item i's end, at i % window_
  size_t failedItem_ = SIZE_MAX;
  std::exception_ptr failure_;  // the lowest failed item's
  bool stop_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace popbox
