#pragma once
// A one-line progress bar for long runs, redrawn in place with "\r". Drawn
// only when enabled (the caller passes whether stderr is a terminal), and at
// most a few times a second so a fast run does not spend its time drawing.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace quillmar_db {

class ProgressBar {
 public:
  ProgressBar(std::FILE* out, bool enabled, std::string label);
  ~ProgressBar();

  void update(std::uint64_t done, std::uint64_t total);
  // Clears the bar's line so the next message starts clean.
  void finish();

  // The bar's text for a state, without the leading "\r".
  static std::string render(const std::string& label, std::uint64_t done, std::uint64_t total,
                            int width);

 private:
  std::FILE* out_;
  bool enabled_;
  bool drawn_ = false;
  std::string label_;
  int last_permille_ = -1;
  std::chrono::steady_clock::time_point last_draw_{};
};

}  // namespace quillmar_db
