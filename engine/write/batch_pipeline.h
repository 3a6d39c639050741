#pragma once
// Two-stage pipeline over batches: one stage fills a batch, the other takes
// it. Run on a second thread, filling the next batch (reading and decoding
// rows) overlaps taking the last one (writing pages), which keeps both
// cores busy during a large copy. Run inline, the same two functions take
// turns, so both ways produce the same result.
//
// `fill(batch)` clears and fills the batch; it returns false (and leaves
// the batch empty) when there is nothing more. `take(batch)` uses it. A
// failure in either stage stops both and is raised to the caller once the
// second thread has ended; a failure while filling is raised after the
// batches filled before it have been taken, as inline.
#include <array>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace jet::write {

template <class Batch>
void run_batches(bool threaded, const std::function<bool(Batch&)>& fill, const std::function<void(Batch&)>& take) {
  if (!threaded) {
    Batch batch;
    while (fill(batch)) take(batch);
    return;
  }

  // Several batches circulate, so that a stage that stalls for a moment
  // does not stall the other at once.
  std::array<Batch, 8> batches;
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<Batch*> empty;
  for (Batch& b : batches) empty.push_back(&b);
  std::deque<Batch*> full;
  bool filled_all = false;  // set by the filler when it ends, with or without failure
  bool stop = false;        // set by the taker when it fails
  std::exception_ptr fill_failure;

  std::thread filler([&] {
    try {
      for (;;) {
        Batch* batch = nullptr;
        {
          std::unique_lock<std::mutex> lock(mutex);
          changed.wait(lock, [&] { return stop || !empty.empty(); });
          if (stop) break;
          batch = empty.front();
          empty.pop_front();
        }
        const bool more = fill(*batch);
        std::lock_guard<std::mutex> lock(mutex);
        if (!more) break;
        full.push_back(batch);
        changed.notify_all();
      }
    } catch (...) {
      std::lock_guard<std::mutex> lock(mutex);
      fill_failure = std::current_exception();
    }
    std::lock_guard<std::mutex> lock(mutex);
    filled_all = true;
    changed.notify_all();
  });

  std::exception_ptr take_failure;
  try {
    for (;;) {
      Batch* batch = nullptr;
      {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return filled_all || !full.empty(); });
        if (full.empty()) break;
        batch = full.front();
        full.pop_front();
      }
      take(*batch);
      std::lock_guard<std::mutex> lock(mutex);
      empty.push_back(batch);
      changed.notify_all();
    }
  } catch (...) {
    take_failure = std::current_exception();
    std::lock_guard<std::mutex> lock(mutex);
    stop = true;
    changed.notify_all();
  }
  filler.join();
  if (take_failure) std::rethrow_exception(take_failure);
  if (fill_failure) std::rethrow_exception(fill_failure);
}

}  // namespace jet::write
