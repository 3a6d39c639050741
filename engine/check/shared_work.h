#pragma once
// Numbered tasks shared out over a few threads, the caller's among them.
#include <cstddef>
#include <functional>

namespace jet::check {

// Runs tasks 0 .. count-1 on up to `workers` threads: each thread takes the
// next task nobody has taken yet and calls `run(task, worker)`, worker 0
// being the caller's thread, so a task may use what belongs to its worker.
// Fewer threads run when no more can be started. An exception escaping a
// task is kept, and once every task is done the one of the lowest task is
// thrown: the one running the tasks in order would have met first.
void share_out(std::size_t count, std::size_t workers, const std::function<void(std::size_t task, std::size_t worker)>& run);

}  // namespace jet::check
