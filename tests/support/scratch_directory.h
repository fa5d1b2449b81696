// A private temporary directory for tests that write files; removed with all
// its contents when the test ends.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

class ScratchDirectory {
public:
  ScratchDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quelm-test-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data())) Root = buffer.data();
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    if (!Root.empty()) std::filesystem::remove_all(Root, ignored);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  bool Ready() const { return !Root.empty(); }
  std::string Path(const std::string& name) const { return (Root / name).string(); }

  std::vector<unsigned char> ReadBytes(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  void WriteBytes(const std::string& name, const std::vector<unsigned char>& bytes) const {
    std::ofstream out(Path(name), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }

private:
  std::filesystem::path Root;
};
