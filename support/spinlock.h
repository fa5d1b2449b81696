// The engine's spin lock: a 32-bit word taken by an atomic exchange with 1 and
// released by a store of 0. Waiters spin on plain loads with a pause.
#pragma once

#include <atomic>
#include <cstdint>

inline void CpuPause() {
#if defined(__i386__) || defined(__x86_64__)
  __builtin_ia32_pause();
#endif
}

inline void SpinLock(std::atomic<std::uint32_t>& word) {
  while (word.exchange(1, std::memory_order_acquire) != 0)
    while (word.load(std::memory_order_relaxed) != 0) CpuPause();
}

inline void SpinUnlock(std::atomic<std::uint32_t>& word) { word.store(0, std::memory_order_release); }

// Whether anyone holds the lock. It cannot tell who, but that is enough for
// an assert that a caller took it.
inline bool SpinLockHeld(const std::atomic<std::uint32_t>& word) { return word.load(std::memory_order_relaxed) != 0; }

class SpinGuard {
public:
  explicit SpinGuard(std::atomic<std::uint32_t>& word) : Word(word) { SpinLock(Word); }
  ~SpinGuard() { SpinUnlock(Word); }
  SpinGuard(const SpinGuard&) = delete;
  SpinGuard& operator=(const SpinGuard&) = delete;

private:
  std::atomic<std::uint32_t>& Word;
};
