// POSIX implementations of the support library's operating-system services.
// 64-bit file offsets in the 32-bit program too, so that a large book or
// database is measured and read rather than refused.
#define _FILE_OFFSET_BITS 64

#include "support/platform.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

bool NumaEnabled = false;
std::uint32_t NumaNodeCount = 1;
ProcessorMask NumaNodeMasks[MaxNumaNodes] = {};
std::uint32_t NextNumaNode = 0;

AutoResetEvent::AutoResetEvent() : Shared(new State) {}

AutoResetEvent::~AutoResetEvent() {
  {
    std::lock_guard<std::mutex> guard(Shared->Mutex);
    // Destroying a condition variable with a sleeper on it can block for ever;
    // the few bytes are left to the sleeper instead.
    if (Shared->Sleepers > 0) return;
  }
  delete Shared;
}

void AutoResetEvent::Signal() {
  {
    std::lock_guard<std::mutex> guard(Shared->Mutex);
    Shared->Signalled = true;
  }
  Shared->Woken.notify_one();
}

void AutoResetEvent::Wait() {
  State& state = *Shared;
  std::unique_lock<std::mutex> lock(state.Mutex);
  state.Sleepers++;
  state.Woken.wait(lock, [&state] { return state.Signalled; });
  state.Sleepers--;
  state.Signalled = false;
}

bool AutoResetEvent::WaitFor(int timeoutMs) {
  State& state = *Shared;
  std::unique_lock<std::mutex> lock(state.Mutex);
  state.Sleepers++;
  bool signalled = state.Woken.wait_for(lock, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs),
                                        [&state] { return state.Signalled; });
  state.Sleepers--;
  if (signalled) state.Signalled = false;
  return signalled;
}

namespace {

cpu_set_t ToCpuSet(ProcessorMask mask) {
  cpu_set_t set;
  CPU_ZERO(&set);
  for (int cpu = 0; cpu < 64; cpu++)
    if (mask >> cpu & 1) CPU_SET(cpu, &set);
  return set;
}

}  // namespace

bool SetCurrentThreadAffinity(ProcessorMask mask) {
  if (mask == 0) return true;
  cpu_set_t set = ToCpuSet(mask);
  return pthread_setaffinity_np(pthread_self(), sizeof set, &set) != 0;
}

ProcessorMask CurrentThreadAffinity() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (pthread_getaffinity_np(pthread_self(), sizeof set, &set) != 0) return 0;
  ProcessorMask mask = 0;
  for (int cpu = 0; cpu < 64; cpu++)
    if (CPU_ISSET(cpu, &set)) mask |= ProcessorMask{1} << cpu;
  return mask;
}

int CurrentProcessor() { return sched_getcpu(); }

bool StartPlatformThread(PlatformThread& thread, void* (*entry)(void*), void* argument, ProcessorMask mask) {
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) return true;
  cpu_set_t set = ToCpuSet(mask);
  bool placed = mask != 0 && pthread_attr_setaffinity_np(&attributes, sizeof set, &set) == 0;
  int result = pthread_create(&thread.Handle, &attributes, entry, argument);
  // The system may refuse the placement (processors outside this process's
  // set); the thread then starts without one, as it would without NUMA.
  if (result != 0 && placed) result = pthread_create(&thread.Handle, nullptr, entry, argument);
  pthread_attr_destroy(&attributes);
  thread.Joinable = result == 0;
  return result != 0;
}

void JoinPlatformThread(PlatformThread& thread) {
  if (!thread.Joinable) return;
  pthread_join(thread.Handle, nullptr);
  thread.Joinable = false;
}

void DetachPlatformThread(PlatformThread& thread) {
  if (!thread.Joinable) return;
  pthread_detach(thread.Handle);
  thread.Joinable = false;
}

namespace {

// "0-3,8,10-11": processors 64 and above do not fit a mask and are left out.
ProcessorMask ParseCpuList(const std::string& text) {
  ProcessorMask mask = 0;
  const char* p = text.c_str();
  while (*p) {
    char* end = nullptr;
    long first = std::strtol(p, &end, 10);
    if (end == p) break;
    long last = first;
    p = end;
    if (*p == '-') {
      last = std::strtol(p + 1, &end, 10);
      if (end == p + 1) break;
      p = end;
    }
    for (long cpu = first < 0 ? 0 : first; cpu <= last && cpu < 64; cpu++) mask |= ProcessorMask{1} << cpu;
    if (*p != ',') break;
    p++;
  }
  return mask;
}

// "00000000,0000ff0f": 32-bit hex words, the highest first.
ProcessorMask ParseCpuMap(const std::string& text) {
  ProcessorMask mask = 0;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t comma = text.find(',', start);
    std::string word = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    mask = (mask << 32) | (std::strtoul(word.c_str(), nullptr, 16) & 0xffffffffu);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return mask;
}

bool ReadFirstLine(const std::string& path, std::string& line) {
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (!file) return false;
  char buffer[4096];
  bool ok = std::fgets(buffer, sizeof buffer, file) != nullptr;
  std::fclose(file);
  if (!ok) buffer[0] = 0;
  line = buffer;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return true;
}

ProcessorMask ReadNodeMask(const std::string& nodeDirectory) {
  std::string line;
  if (ReadFirstLine(nodeDirectory + "/cpulist", line)) return ParseCpuList(line);
  if (ReadFirstLine(nodeDirectory + "/cpumap", line)) return ParseCpuMap(line);
  return 0;
}

// The highest N of the "nodeN" entries, -1 when there are none.
int HighestNodeNumber(const char* nodeDirectory) {
  DIR* directory = opendir(nodeDirectory);
  if (!directory) return -1;
  int highest = -1;
  while (dirent* entry = readdir(directory)) {
    const char* name = entry->d_name;
    if (std::strncmp(name, "node", 4) != 0 || name[4] < '0' || name[4] > '9') continue;
    char* end = nullptr;
    long number = std::strtol(name + 4, &end, 10);
    if (*end == 0 && number > highest && number < 1 << 20) highest = static_cast<int>(number);
  }
  closedir(directory);
  return highest;
}

}  // namespace

void DiscoverNumaFrom(const char* nodeDirectory, int mainProcessor) {
  NumaEnabled = false;
  NextNumaNode = 0;
  NumaNodeCount = 1;
  int count = HighestNodeNumber(nodeDirectory) + 1;
  if (count <= 1) return;
  NumaEnabled = true;
  if (count > MaxNumaNodes) count = MaxNumaNodes;
  NumaNodeCount = static_cast<std::uint32_t>(count);
  // A node without processors would pin threads to nothing: then no placement at all.
  for (int node = 0; node < count; node++) {
    NumaNodeMasks[node] = ReadNodeMask(std::string(nodeDirectory) + "/node" + std::to_string(node));
    if (NumaNodeMasks[node] == 0) NumaEnabled = false;
  }
  if (mainProcessor < 0 || mainProcessor >= 64) return;
  ProcessorMask bit = ProcessorMask{1} << mainProcessor;
  if (NumaNodeMasks[0] & bit) return;
  for (int node = 1; node < count; node++) {
    if (NumaNodeMasks[node] & bit) {
      std::swap(NumaNodeMasks[0], NumaNodeMasks[node]);
      return;
    }
  }
}

void DiscoverNuma() { DiscoverNumaFrom("/sys/devices/system/node", CurrentProcessor()); }

bool LowerProcessPriority() { return setpriority(PRIO_PROCESS, 0, 10) != 0; }

bool CpuHasPopcnt() {
#if defined(__i386__) || defined(__x86_64__)
  __builtin_cpu_init();
  return __builtin_cpu_supports("popcnt");
#else
  return false;
#endif
}

int ProcessId() { return static_cast<int>(getpid()); }

bool SyncDirectory(const char* path) {
  const int descriptor = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) return true;
  bool failed = ::fsync(descriptor) != 0;
  if (::close(descriptor) != 0) failed = true;
  return failed;
}

std::size_t LongestPathName() { return PATH_MAX - 1; }

std::size_t LongestFileName() { return NAME_MAX; }

NewFileResult CreateNewFile(const char* name) {
  const int descriptor = ::open(name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (descriptor < 0) return errno == EEXIST ? NewFileResult::Exists : NewFileResult::Failed;
  ::close(descriptor);
  return NewFileResult::Created;
}

bool FileExists(const char* name) {
  struct stat status;
  return ::stat(name, &status) == 0;
}

int OpenRegularFile(const char* name, int flags) {
  if (!name) return -1;
  const bool truncate = (flags & O_TRUNC) != 0;
  int descriptor;
  // Without O_NONBLOCK the open of a FIFO would wait for its other end.
  do {
    descriptor = ::open(name, (flags & ~O_TRUNC) | O_NONBLOCK | O_CLOEXEC, 0666);
  } while (descriptor < 0 && errno == EINTR);
  if (descriptor < 0) return -1;
  struct stat status;
  if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(descriptor);
    errno = EINVAL;
    return -1;
  }
  // Reads of a regular file never wait anyway; the flag goes so that no
  // later user of the descriptor meets it.
  const int statusFlags = ::fcntl(descriptor, F_GETFL);
  if (statusFlags < 0 || ::fcntl(descriptor, F_SETFL, statusFlags & ~O_NONBLOCK) != 0 ||
      (truncate && ::ftruncate(descriptor, 0) != 0)) {
    ::close(descriptor);
    return -1;
  }
  return descriptor;
}

std::FILE* OpenRegularStream(const char* name, const char* mode) {
  if (!name || !mode) return nullptr;
  const bool update = std::strchr(mode, '+') != nullptr;
  int flags;
  switch (mode[0]) {
    case 'r': flags = update ? O_RDWR : O_RDONLY; break;
    case 'w': flags = (update ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC; break;
    case 'a': flags = (update ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND; break;
    default: return nullptr;
  }
  const int descriptor = OpenRegularFile(name, flags);
  if (descriptor < 0) return nullptr;
  std::FILE* stream = ::fdopen(descriptor, mode);
  if (!stream) ::close(descriptor);
  return stream;
}

void CloseDescriptor(int descriptor) {
  if (descriptor >= 0) ::close(descriptor);
}

bool RegularFileReader::Open(const char* name) {
  Close();
  const int descriptor = OpenRegularFile(name, O_RDONLY);
  if (descriptor < 0) return true;
  struct stat status;
  if (::fstat(descriptor, &status) != 0 || status.st_size < 0) {
    ::close(descriptor);
    return true;
  }
  Descriptor = descriptor;
  Length = static_cast<std::uint64_t>(status.st_size);
  return false;
}

void RegularFileReader::Close() {
  CloseDescriptor(Descriptor);
  Descriptor = -1;
  Length = 0;
}

bool RegularFileReader::ReadAt(std::uint64_t offset, void* buffer, std::size_t n) const {
  if (Descriptor < 0 || (!buffer && n)) return true;
  char* data = static_cast<char*>(buffer);
  while (n > 0) {
    const ssize_t got = ::pread(Descriptor, data, n, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return true;
    data += got;
    offset += static_cast<std::uint64_t>(got);
    n -= static_cast<std::size_t>(got);
  }
  return false;
}

FileLockResult LockFileForWriting(const char* name, int& descriptor) {
  descriptor = OpenRegularFile(name, O_RDWR);
  if (descriptor < 0) return FileLockResult::Failed;
  if (::flock(descriptor, LOCK_EX | LOCK_NB) == 0) return FileLockResult::Locked;
  const bool busy = errno == EWOULDBLOCK;
  ::close(descriptor);
  descriptor = -1;
  return busy ? FileLockResult::Busy : FileLockResult::Failed;
}

void UnlockFile(int& descriptor) {
  if (descriptor < 0) return;
  ::close(descriptor);  // the lock goes with the descriptor
  descriptor = -1;
}

void SleepMilliseconds(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms < 0 ? 0 : ms)); }

bool IsTerminal(int descriptor) { return isatty(descriptor) == 1; }

void IgnoreBrokenPipe() { std::signal(SIGPIPE, SIG_IGN); }

namespace {

int PollReadable(int descriptor, int timeoutMs) {
  pollfd entry{descriptor, POLLIN, 0};
  for (;;) {
    int result = poll(&entry, 1, timeoutMs);
    if (result < 0 && errno == EINTR) continue;
    // A failing poll counts as readable: the read then reports the error.
    if (result < 0) return 1;
    return result > 0 && entry.revents != 0;
  }
}

}  // namespace

bool IsReadable(int descriptor) { return PollReadable(descriptor, 0) != 0; }

void WaitReadable(int descriptor) { PollReadable(descriptor, -1); }

int ReadSome(int descriptor, char* buffer, int size) {
  for (;;) {
    ssize_t count = read(descriptor, buffer, static_cast<std::size_t>(size));
    if (count >= 0) return static_cast<int>(count);
    if (errno == EINTR) continue;
    // Someone made the descriptor non-blocking: wait for data instead of spinning.
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      WaitReadable(descriptor);
      continue;
    }
    return -1;
  }
}
