// POSIX layer of the tablebase files: open, size and map read-only.
#define _FILE_OFFSET_BITS 64

#include "tablebase/mapping.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <limits>

MapResult MappedFile::Map(const std::string& path) {
  Unmap();
  // Without O_NONBLOCK a FIFO named like a table would wait for a writer
  // for ever; the check for a regular file below then turns it away.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return MapResult::NotFound;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return MapResult::Failed;
  }
  if (info.st_size <= 0) {
    ::close(fd);
    return MapResult::Empty;
  }
  // A 32-bit program cannot address the largest tables; they count as
  // unmappable rather than being cut short.
  const auto size = static_cast<std::uint64_t>(info.st_size);
  if (size > std::numeric_limits<std::size_t>::max()) {
    ::close(fd);
    return MapResult::Failed;
  }
  void* view = ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ, MAP_SHARED, fd, 0);
  ::close(fd);
  if (view == MAP_FAILED) return MapResult::Failed;
  Bytes = static_cast<const std::uint8_t*>(view);
  Length = size;
  return MapResult::Mapped;
}

void MappedFile::Unmap() {
  if (Bytes) ::munmap(const_cast<std::uint8_t*>(Bytes), static_cast<std::size_t>(Length));
  Bytes = nullptr;
  Length = 0;
}

bool CanOpenFile(const std::string& path) {
  // Only a regular file can be a table: a FIFO, a device or a directory of
  // that name is passed over, and the non-blocking open keeps a FIFO from
  // holding up start-up or "setoption name SyzygyPath".
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat info {};
  const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  ::close(fd);
  return regular;
}
