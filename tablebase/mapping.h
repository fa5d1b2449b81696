// Read-only memory mapping of one tablebase file: the only place where the
// tablebase code talks to the operating system.
#pragma once

#include <cstdint>
#include <string>

enum class MapResult { Mapped, NotFound, Empty, Failed };

class MappedFile {
public:
  MappedFile() = default;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  ~MappedFile() { Unmap(); }

  // Maps the whole file; an empty file cannot be mapped and says so.
  MapResult Map(const std::string& path);
  void Unmap();

  const std::uint8_t* Data() const { return Bytes; }
  std::uint64_t Size() const { return Length; }

private:
  const std::uint8_t* Bytes = nullptr;
  std::uint64_t Length = 0;
};

// True when a regular file of that name exists and can be opened for reading.
bool CanOpenFile(const std::string& path);
