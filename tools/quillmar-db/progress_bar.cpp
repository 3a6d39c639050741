#include "tools/quillmar-db/progress_bar.h"

#include <algorithm>

namespace quillmar_db {
namespace {
constexpr int kBarWidth = 30;
constexpr auto kMinInterval = std::chrono::milliseconds(100);
}  // namespace

ProgressBar::ProgressBar(std::FILE* out, bool enabled, std::string label)
    : out_(out), enabled_(enabled), label_(std::move(label)) {}

ProgressBar::~ProgressBar() { finish(); }

std::string ProgressBar::render(const std::string& label, std::uint64_t done, std::uint64_t total,
                                int width) {
  if (total == 0) total = 1;
  done = std::min(done, total);
  int filled = static_cast<int>(done * static_cast<std::uint64_t>(width) / total);
  int percent = static_cast<int>(done * 100 / total);
  std::string line = label + " [";
  line.append(static_cast<std::size_t>(filled), '#');
  line.append(static_cast<std::size_t>(width - filled), ' ');
  line += "] " + std::to_string(percent) + "% (" + std::to_string(done) + "/" +
          std::to_string(total) + " pages)";
  return line;
}

void ProgressBar::update(std::uint64_t done, std::uint64_t total) {
  if (!enabled_) return;
  int permille = total == 0 ? 1000 : static_cast<int>(std::min(done, total) * 1000 / total);
  auto now = std::chrono::steady_clock::now();
  bool last = permille == 1000;
  if (permille == last_permille_ || (!last && drawn_ && now - last_draw_ < kMinInterval)) return;
  last_permille_ = permille;
  last_draw_ = now;
  std::fprintf(out_, "\r%s", render(label_, done, total, kBarWidth).c_str());
  std::fflush(out_);
  drawn_ = true;
}

void ProgressBar::finish() {
  if (!drawn_) return;
  // Blank the line and return to its start.
  std::fprintf(out_, "\r\033[K");
  std::fflush(out_);
  drawn_ = false;
}

}  // namespace quillmar_db
