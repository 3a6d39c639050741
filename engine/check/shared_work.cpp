#include "engine/check/shared_work.h"

#include <atomic>
#include <exception>
#include <system_error>
#include <thread>
#include <vector>

namespace jet::check {

void share_out(std::size_t count, std::size_t workers,
               const std::function<void(std::size_t task, std::size_t worker)>& run) {
  std::vector<std::exception_ptr> failures(count);
  std::atomic<std::size_t> next{0};
  auto work = [&](std::size_t worker) {
    for (std::size_t task = next++; task < count; task = next++) {
      try {
        run(task, worker);
      } catch (...) {
        failures[task] = std::current_exception();
      }
    }
  };
  std::vector<std::thread> threads;
  for (std::size_t worker = 1; worker < workers && worker < count; ++worker) {
    try {
      threads.emplace_back(work, worker);
    } catch (const std::system_error&) {
      break;  // the threads there are take the rest
    }
  }
  work(0);
  for (std::thread& t : threads) t.join();
  for (const std::exception_ptr& failure : failures) {
    if (failure) std::rethrow_exception(failure);
  }
}

}  // namespace jet::check
