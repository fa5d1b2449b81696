// The operating-system services of the support library, on POSIX: events,
// threads and processor placement, NUMA discovery, priority, CPU features,
// opening data files and standard-input polling. Every system call of those
// services lives here.
#pragma once

#include <pthread.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>

// An auto-reset event: a signal persists until exactly one wait consumes it,
// so a signal given before the waiter arrives is never lost.
class AutoResetEvent {
public:
  AutoResetEvent();
  // A thread still asleep in the event keeps its state alive and sleeps on:
  // destroying the event never waits for it (worker threads are not woken at
  // the end of the process).
  ~AutoResetEvent();
  AutoResetEvent(const AutoResetEvent&) = delete;
  AutoResetEvent& operator=(const AutoResetEvent&) = delete;

  void Signal();
  // Waits until signalled and consumes the signal.
  void Wait();
  // As Wait, giving up after timeoutMs; true when the signal was consumed.
  bool WaitFor(int timeoutMs);

private:
  struct State {
    std::mutex Mutex;
    std::condition_variable Woken;
    bool Signalled = false;
    int Sleepers = 0;
  };
  State* Shared;
};

// One bit per processor 0..63.
using ProcessorMask = std::uint64_t;

// Both answer true on failure; callers that place threads only as a hint may
// ignore it. A zero mask changes nothing and fails.
bool SetCurrentThreadAffinity(ProcessorMask mask);
ProcessorMask CurrentThreadAffinity();
// The processor the calling thread runs on now, or -1 when unknown.
int CurrentProcessor();

struct PlatformThread {
  pthread_t Handle{};
  bool Joinable = false;
};

// Creates a thread running entry(argument); a nonzero mask places it on those
// processors before it runs (a mask the system refuses is ignored).
// True on failure.
bool StartPlatformThread(PlatformThread& thread, void* (*entry)(void*), void* argument, ProcessorMask mask);
void JoinPlatformThread(PlatformThread& thread);
void DetachPlatformThread(PlatformThread& thread);

// NUMA state, filled once by DiscoverNuma at start-up and read by Thread::Start.
// Node 0 is always the node of the main thread.
inline constexpr int MaxNumaNodes = 256;
extern bool NumaEnabled;
extern std::uint32_t NumaNodeCount;
extern ProcessorMask NumaNodeMasks[MaxNumaNodes];
extern std::uint32_t NextNumaNode;

void DiscoverNuma();
// The same from a node directory laid out like /sys/devices/system/node, with
// the main thread on processor mainProcessor (-1: unknown).
void DiscoverNumaFrom(const char* nodeDirectory, int mainProcessor);

// Lowers the priority of the whole process to "below normal" (nice 10).
// True on failure.
bool LowerProcessPriority();
bool CpuHasPopcnt();
int ProcessId();
// Forces a directory's entries to the disk, so that a rename or removal in
// it outlives a crash. True on failure.
bool SyncDirectory(const char* path);
// The longest names the system takes, without the terminating NUL: a whole
// path, and one part of a path between slashes.
std::size_t LongestPathName();
std::size_t LongestFileName();
void SleepMilliseconds(int ms);

// Makes an empty file only when no file of that name exists, in one step, so
// that two programs creating the same book cannot both believe they made it.
enum class NewFileResult { Created, Exists, Failed };
NewFileResult CreateNewFile(const char* name);
bool FileExists(const char* name);

// Every data file the program reads or writes (books, games databases,
// indexes, the learning file, the log) is opened here, and only a regular
// file is ever opened. A FIFO of the name would hold the open, or the first
// read, until some other program writes to it, that is for ever at start-up;
// a device such as /dev/zero never ends. Either is refused at once, as is a
// directory.
//
// flags are open(2)'s (O_RDONLY, O_RDWR, O_WRONLY, O_CREAT, O_TRUNC,
// O_APPEND); O_TRUNC empties the file only once it is known to be a regular
// file. The descriptor, or -1 when the file cannot be opened so or is not a
// regular file.
int OpenRegularFile(const char* name, int flags);
// The same as a C stream, with fopen's modes ("r", "r+b", "w+b", "a", ...);
// null on failure.
std::FILE* OpenRegularStream(const char* name, const char* mode);
void CloseDescriptor(int descriptor);

// A regular file opened for reading at given offsets, closed with the object.
class RegularFileReader {
public:
  RegularFileReader() = default;
  ~RegularFileReader() { Close(); }
  RegularFileReader(const RegularFileReader&) = delete;
  RegularFileReader& operator=(const RegularFileReader&) = delete;

  // True on failure (no such file, or not a regular file).
  bool Open(const char* name);
  void Close();
  bool IsOpen() const { return Descriptor >= 0; }
  // The size when it was opened.
  std::uint64_t Size() const { return Length; }
  // Reads n bytes at offset; true when fewer are there.
  bool ReadAt(std::uint64_t offset, void* buffer, std::size_t n) const;

private:
  int Descriptor = -1;
  std::uint64_t Length = 0;
};
// An advisory lock held for as long as the returned descriptor stays open:
// the file is opened for writing and locked without waiting. Busy: another
// program holds the lock; Failed: the file cannot be opened for writing.
enum class FileLockResult { Locked, Busy, Failed };
FileLockResult LockFileForWriting(const char* name, int& descriptor);
void UnlockFile(int& descriptor);

// Standard input as a descriptor.
bool IsTerminal(int descriptor);
// A peer that closes its end of a pipe must not end the process: writes fail
// with an error instead.
void IgnoreBrokenPipe();
// True when a read would not block (data, end of input or an error is waiting).
bool IsReadable(int descriptor);
// Blocks until a read would not block.
void WaitReadable(int descriptor);
// Reads what is there (blocking for at least one byte): the byte count, 0 at end
// of input, -1 on an error.
int ReadSome(int descriptor, char* buffer, int size);
