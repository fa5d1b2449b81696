// Whole-file replacement by a locked temporary file and rename.
#include "support/filereplace.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

#include "support/platform.h"

namespace {

int OpenForWriting(const std::string& name) { return OpenRegularFile(name.c_str(), O_WRONLY | O_CREAT); }

// The lock belongs to the file the descriptor holds; when another program
// renamed that file into place meanwhile, the name now stands for a
// different file (or none), and the lock guards nothing.
bool StillNamed(int descriptor, const std::string& name) {
  struct stat held, named;
  if (::fstat(descriptor, &held) != 0 || ::stat(name.c_str(), &named) != 0) return false;
  return held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

// The rename itself must reach the disk too, or a crash could bring the old
// directory entry back after the caller was told the file is saved.
void SyncDirectoryOf(const std::string& name) {
  const std::size_t slash = name.rfind('/');
  const std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : name.substr(0, slash);
  const int descriptor = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) return;
  ::fsync(descriptor);
  ::close(descriptor);
}

}  // namespace

FileReplacement::Status FileReplacement::Begin(const char* name, int waitMs) {
  Abandon();
  Target = name;
  Temporary = Target + ".tmp";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    const int descriptor = OpenForWriting(Temporary);
    if (descriptor < 0) return Status::Failed;
    if (::flock(descriptor, LOCK_EX | LOCK_NB) == 0) {
      if (StillNamed(descriptor, Temporary)) {
        if (::ftruncate(descriptor, 0) != 0) {
          ::close(descriptor);
          return Status::Failed;
        }
        Descriptor = descriptor;
        return Status::Ready;
      }
      ::close(descriptor);
      continue;  // the file we locked was just renamed away: take the new one
    }
    const bool busy = errno == EWOULDBLOCK || errno == EINTR;
    ::close(descriptor);
    if (!busy) return Status::Failed;
    if (std::chrono::steady_clock::now() >= deadline) return Status::Busy;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

bool FileReplacement::Write(const void* data, std::size_t bytes) {
  if (Descriptor < 0) return true;
  const char* next = static_cast<const char*>(data);
  while (bytes > 0) {
    const ssize_t written = ::write(Descriptor, next, bytes);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return true;
    next += written;
    bytes -= static_cast<std::size_t>(written);
  }
  return false;
}

bool FileReplacement::Commit() {
  if (Descriptor < 0) return true;
  if (::fsync(Descriptor) != 0 || std::rename(Temporary.c_str(), Target.c_str()) != 0) {
    Abandon();
    return true;
  }
  SyncDirectoryOf(Target);
  Release();
  return false;
}

void FileReplacement::Abandon() {
  if (Descriptor < 0) return;
  // Removed while still locked, so that no waiting program writes into it.
  ::unlink(Temporary.c_str());
  Release();
}

void FileReplacement::Release() {
  ::close(Descriptor);
  Descriptor = -1;
}
