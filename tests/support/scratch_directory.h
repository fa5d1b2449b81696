// A private temporary directory with byte-wise file helpers, for tests that
// write binary files; removed with all its contents when the test ends.
#pragma once

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/capture.h"

class ScratchDirectory {
public:
  bool Ready() const { return Directory.Ready(); }
  std::string Path(const std::string& name) const { return Directory / name; }

  std::vector<unsigned char> ReadBytes(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  void WriteBytes(const std::string& name, const std::vector<unsigned char>& bytes) const {
    std::ofstream out(Path(name), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }

private:
  TemporaryDirectory Directory;
};
