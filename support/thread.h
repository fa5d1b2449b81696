// The base of the engine's own threads (the search workers derive from it):
// starts a thread, placed on a NUMA node when the machine has several, and
// returns only once the new thread runs.
#pragma once

#include <atomic>

#include "support/platform.h"

class Thread {
public:
  Thread() = default;
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  // Owners stop Run and Join first. A thread still running here is let go
  // rather than waited for, so that the end of the process never hangs.
  virtual ~Thread();
  virtual void Run() = 0;

  // Starts the thread for worker index and waits until it runs. True when the
  // thread could not be made (or this object already has one).
  bool Start(int index);
  // Waits for Run to return; nothing happens when no thread was started.
  void Join();

  static int Entry(Thread* thread);

  // Set while Run works; a derived Run may clear it while it sleeps.
  std::atomic<bool> Running{false};
  // The NUMA node the thread was placed on, -1 when it was not placed.
  int Node = -1;

private:
  // Unlike Running, never cleared by the thread: a Run that ends at once
  // cannot leave the starter waiting.
  std::atomic<bool> Started{false};
  // Set once Run has returned; Running says nothing here because a sleeping
  // worker clears it.
  std::atomic<bool> Finished{false};
  PlatformThread Handle;
};

// The node for worker index: an index with a node of its own gets that node,
// the others continue round robin after the last node handed out.
int ChooseNumaNode(int index);
