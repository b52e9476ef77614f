// A fresh temporary folder per test, removed with everything in it.
#pragma once

#include <cstddef>
#include <map>
#include <string>

namespace tarvel::testing {

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  // The path of `name` inside the folder.
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  // Writes `bytes` to `name` inside the folder.
  void write(const std::string& name, const std::string& bytes) const;
  // Writes `count` copies of `line` to `name` inside the folder, a block of
  // lines at a time: the large inputs of the end-to-end tests.
  void write_repeated(const std::string& name, const std::string& line, std::size_t count) const;
  // Every regular file directly in the folder, name to contents.
  std::map<std::string, std::string> files() const;

 private:
  std::string path_;
};

// The whole contents of a file; fails the test when it cannot be read.
std::string read_file(const std::string& path);

}  // namespace tarvel::testing
