#include "engine/file/mapping_guard.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <mutex>

namespace jet::mapping_guard {
namespace {

// The handler reads the slots without a lock: each field is atomic, and a
// slot is only cleared after its range is unmapped, when nothing touches it.
struct Slot {
  std::atomic<std::uintptr_t> begin{0};
  std::atomic<std::uintptr_t> end{0};
  std::atomic<std::atomic<bool>*> cut_short{nullptr};
};

// Each open mapped window takes one; the page caches keep a few per file.
constexpr std::size_t kSlots = 512;
std::array<Slot, kSlots> slots;
std::mutex slots_mutex;
struct sigaction previous_action {};
bool installed = false;

void hand_on(int signal, siginfo_t* info, void* context) {
  if ((previous_action.sa_flags & SA_SIGINFO) != 0 && previous_action.sa_sigaction != nullptr) {
    previous_action.sa_sigaction(signal, info, context);
    return;
  }
  if (previous_action.sa_handler == SIG_IGN) return;
  if (previous_action.sa_handler != SIG_DFL && previous_action.sa_handler != nullptr) {
    previous_action.sa_handler(signal);
    return;
  }
  // Nobody else wanted it: the default action, once this handler returns
  // (the signal is blocked until then).
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(SIGBUS, &fallback, nullptr);
  raise(SIGBUS);
}

void on_bus_error(int signal, siginfo_t* info, void* context) {
  const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
  for (Slot& slot : slots) {
    const std::uintptr_t begin = slot.begin.load(std::memory_order_acquire);
    if (begin == 0 || address < begin || address >= slot.end.load(std::memory_order_acquire)) continue;
    std::atomic<bool>* cut_short = slot.cut_short.load(std::memory_order_acquire);
    const auto page_size = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    void* page = reinterpret_cast<void*>(address & ~(page_size - 1));
    if (mmap(page, page_size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
      if (cut_short != nullptr) cut_short->store(true, std::memory_order_release);
      return;
    }
    break;
  }
  hand_on(signal, info, context);
}

void install_once() {
  if (installed) return;
  struct sigaction action {};
  action.sa_sigaction = on_bus_error;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  if (sigaction(SIGBUS, &action, &previous_action) == 0) installed = true;
}

}  // namespace

int enter(const void* begin, std::size_t n, std::atomic<bool>* cut_short) {
  std::lock_guard lock(slots_mutex);
  install_once();
  if (!installed) return -1;
  for (std::size_t i = 0; i < kSlots; ++i) {
    Slot& slot = slots[i];
    if (slot.begin.load(std::memory_order_relaxed) != 0) continue;
    const auto from = reinterpret_cast<std::uintptr_t>(begin);
    slot.cut_short.store(cut_short, std::memory_order_relaxed);
    slot.end.store(from + n, std::memory_order_relaxed);
    slot.begin.store(from, std::memory_order_release);
    return static_cast<int>(i);
  }
  return -1;
}

void leave(int slot) {
  if (slot < 0) return;
  std::lock_guard lock(slots_mutex);
  Slot& s = slots[static_cast<std::size_t>(slot)];
  s.begin.store(0, std::memory_order_release);
  s.end.store(0, std::memory_order_relaxed);
  s.cut_short.store(nullptr, std::memory_order_relaxed);
}

}  // namespace jet::mapping_guard
