// Test helpers for the console and log: a scratch directory that removes
// itself, a captured standard stream, and whole-file reads.
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>
#include <fcntl.h>

class TemporaryDirectory {
public:
  TemporaryDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quelm-test-XXXXXX").string();
    if (mkdtemp(pattern.data())) Path = pattern;
  }
  ~TemporaryDirectory() {
    std::error_code ignored;
    if (!Path.empty()) std::filesystem::remove_all(Path, ignored);
  }
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

  bool Ready() const { return !Path.empty(); }
  std::string operator/(const std::string& name) const { return (Path / name).string(); }

  std::filesystem::path Path;
};

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// Sends descriptor 1 or 2 into a file until Finish, which returns what came.
class StreamCapture {
public:
  StreamCapture(int descriptor, const std::string& path) : Descriptor(descriptor), Path(path) {
    std::fflush(nullptr);
    Saved = dup(descriptor);
    int target = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(target, descriptor);
    close(target);
  }
  ~StreamCapture() { Restore(); }
  std::string Finish() {
    Restore();
    return ReadWholeFile(Path);
  }

private:
  void Restore() {
    if (Saved < 0) return;
    std::fflush(nullptr);
    dup2(Saved, Descriptor);
    close(Saved);
    Saved = -1;
  }
  int Descriptor;
  std::string Path;
  int Saved = -1;
};
