#include "mapping_guard.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <mutex>

namespace qeldata::detail {

namespace {

// Fixed slots, so that the signal handler reads them without locks or
// allocation. A slot is claimed through `used`; `begin` is published last and
// cleared first, so a handler that sees it non-zero sees a whole entry.
struct Slot {
  std::atomic<bool> used{false};
  std::atomic<std::uintptr_t> begin{0};
  std::atomic<std::uintptr_t> end{0};
  std::atomic<bool> cut{false};
};
constexpr int kSlots = 1024;
Slot g_slots[kSlots];
std::uintptr_t g_page = 4096;
struct sigaction g_previous {};

void OnSigbus(int signal, siginfo_t* info, void* context) {
  const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
  for (Slot& slot : g_slots) {
    const std::uintptr_t begin = slot.begin.load(std::memory_order_acquire);
    if (begin == 0 || address < begin) continue;
    const std::uintptr_t end = slot.end.load(std::memory_order_acquire);
    if (address >= end) continue;
    // Zeros from the faulting page to the end of the mapping: the file has no
    // bytes there any more, and no later read of this mapping can fault again.
    const std::uintptr_t page = address / g_page * g_page;
    const std::uintptr_t stop = (end + g_page - 1) / g_page * g_page;
    if (::mmap(reinterpret_cast<void*>(page), stop - page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) !=
        MAP_FAILED) {
      slot.cut.store(true, std::memory_order_release);
      return;
    }
    break;
  }
  // Not ours (or the page could not be replaced): whoever handled it before.
  if ((g_previous.sa_flags & SA_SIGINFO) && g_previous.sa_sigaction) {
    g_previous.sa_sigaction(signal, info, context);
    return;
  }
  if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
    g_previous.sa_handler(signal);
    return;
  }
  // The default action: returning retries the read, which faults again and ends the process.
  ::signal(SIGBUS, SIG_DFL);
}

void InstallHandler() {
  g_page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  struct sigaction action {};
  action.sa_sigaction = OnSigbus;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_SIGINFO | SA_RESTART;
  ::sigaction(SIGBUS, &action, &g_previous);
}

}  // namespace

MappingGuard::MappingGuard(const void* data, std::size_t size) {
  static std::once_flag installed;
  std::call_once(installed, InstallHandler);
  if (!data || size == 0) return;
  for (int i = 0; i < kSlots; ++i) {
    bool expected = false;
    if (!g_slots[i].used.compare_exchange_strong(expected, true, std::memory_order_acq_rel)) continue;
    g_slots[i].cut.store(false, std::memory_order_relaxed);
    g_slots[i].end.store(reinterpret_cast<std::uintptr_t>(data) + size, std::memory_order_release);
    g_slots[i].begin.store(reinterpret_cast<std::uintptr_t>(data), std::memory_order_release);
    slot_ = i;
    return;
  }
}

MappingGuard::~MappingGuard() {
  if (slot_ < 0) return;
  Slot& slot = g_slots[slot_];
  slot.begin.store(0, std::memory_order_release);
  slot.end.store(0, std::memory_order_release);
  slot.used.store(false, std::memory_order_release);
}

bool MappingGuard::CutShort() const { return slot_ >= 0 && g_slots[slot_].cut.load(std::memory_order_acquire); }

}  // namespace qeldata::detail
