// Thread start with NUMA placement and a start handshake.
#include "support/thread.h"

#include <thread>

namespace {

void* ThreadTrampoline(void* argument) {
  Thread::Entry(static_cast<Thread*>(argument));
  return nullptr;
}

}  // namespace

int ChooseNumaNode(int index) {
  if (index >= 0 && static_cast<std::uint32_t>(index) < NumaNodeCount) {
    NextNumaNode = static_cast<std::uint32_t>(index);
  } else {
    NextNumaNode++;
    if (NextNumaNode >= NumaNodeCount) NextNumaNode = 0;
  }
  return static_cast<int>(NextNumaNode);
}

Thread::~Thread() {
  if (Finished.load(std::memory_order_acquire))
    JoinPlatformThread(Handle);
  else
    DetachPlatformThread(Handle);
}

bool Thread::Start(int index) {
  if (Handle.Joinable) return true;
  Started.store(false, std::memory_order_relaxed);
  Finished.store(false, std::memory_order_relaxed);
  bool failed;
  if (NumaEnabled) {
    Node = ChooseNumaNode(index);
    ProcessorMask mask = NumaNodeMasks[Node];
    // The new thread inherits the starter's placement until its own is set.
    SetCurrentThreadAffinity(mask);
    failed = StartPlatformThread(Handle, ThreadTrampoline, this, mask);
    SetCurrentThreadAffinity(NumaNodeMasks[0]);
  } else {
    Node = -1;
    failed = StartPlatformThread(Handle, ThreadTrampoline, this, 0);
  }
  if (failed) return true;
  while (!Started.load(std::memory_order_acquire)) std::this_thread::yield();
  return false;
}

void Thread::Join() { JoinPlatformThread(Handle); }

int Thread::Entry(Thread* thread) {
  thread->Running.store(true, std::memory_order_release);
  thread->Started.store(true, std::memory_order_release);
  thread->Run();
  thread->Running.store(false, std::memory_order_release);
  thread->Finished.store(true, std::memory_order_release);
  return 0;
}
