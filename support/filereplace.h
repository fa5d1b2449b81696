// Replacing a file as a whole: the new content goes to "<name>.tmp" beside
// it, is forced to the disk and renamed over the old file, so that a crash at
// any moment leaves either the old file or the new one, never a mix. An
// advisory lock on the temporary file keeps two programs that replace the
// same file from writing at once.
#pragma once

#include <cstddef>
#include <string>

class FileReplacement {
public:
  enum class Status { Ready, Busy, Failed };

  FileReplacement() = default;
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;
  // An unfinished replacement is abandoned: the old file stays as it was.
  ~FileReplacement() { Abandon(); }

  // Takes the lock, waiting at most waitMs for another program's
  // replacement, and opens the empty temporary file. Busy: the lock stayed
  // taken; Failed: the temporary file cannot be made.
  Status Begin(const char* name, int waitMs);
  // True on failure.
  bool Write(const void* data, std::size_t bytes);
  // Forces the content to the disk and renames it over the file. True on
  // failure (the temporary file is then removed and the old file stays).
  bool Commit();
  // Removes the temporary file and gives the lock back.
  void Abandon();

private:
  void Release();

  std::string Target;
  std::string Temporary;
  int Descriptor = -1;
};
