#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace tarvel::testing {

TempFolder::TempFolder() {
#ifdef _WIN32
  // No mkdtemp: try fresh random names until one is created.
  std::random_device random;
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    const std::filesystem::path candidate =
        std::filesystem::temp_directory_path() / ("tarvel-test-" + std::to_string(random()));
    std::error_code error;
    if (std::filesystem::create_directory(candidate, error)) path_ = candidate.generic_string();
  }
  if (path_.empty()) ADD_FAILURE() << "cannot create a temporary folder";
#else
  std::string pattern = (std::filesystem::temp_directory_path() / "tarvel-test-XXXXXX").string();
  char* made = ::mkdtemp(pattern.data());
  if (made == nullptr) ADD_FAILURE() << "cannot create a temporary folder";
  path_ = pattern;
#endif
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  // Restore permissions a test may have taken away, so removal works.
  for (auto& entry : std::filesystem::recursive_directory_iterator(
           path_, std::filesystem::directory_options::skip_permission_denied, ignored)) {
    if (entry.is_directory(ignored) && !entry.is_symlink(ignored)) {
      std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
    }
  }
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

void TempFolder::write(const std::string& name, const std::string& bytes) const {
  std::ofstream out(file(name), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) ADD_FAILURE() << "cannot write " << file(name);
}

void TempFolder::write_repeated(const std::string& name, const std::string& line,
                                std::size_t count) const {
  std::ofstream out(file(name), std::ios::binary | std::ios::trunc);
  std::string block;
  for (int i = 0; i < 4096; ++i) block += line;
  for (std::size_t written = 0; written < count; written += 4096) {
    std::size_t lines = count - written < 4096 ? count - written : 4096;
    out.write(block.data(), static_cast<std::streamsize>(lines * line.size()));
  }
  if (!out) ADD_FAILURE() << "cannot write " << file(name);
}

std::map<std::string, std::string> TempFolder::files() const {
  std::map<std::string, std::string> result;
  for (auto& entry : std::filesystem::directory_iterator(path_)) {
    if (entry.is_regular_file() && !entry.is_symlink()) {
      result[entry.path().filename().string()] = read_file(entry.path().string());
    }
  }
  return result;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    ADD_FAILURE() << "cannot read " << path;
    return {};
  }
  std::ostringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

}  // namespace tarvel::testing
