#include "support/scratch_folder.h"

#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>
#include <stdlib.h>

namespace fs = std::filesystem;

ScratchFolder::ScratchFolder() {
  std::string pattern = (fs::temp_directory_path() / "camfix-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path_, ignored);
}

void ScratchFolder::Write(const std::string& name, const std::string& bytes) const {
  std::ofstream(*this / name, std::ios::binary | std::ios::trunc) << bytes;
}

std::string ScratchFolder::Read(const std::string& name) const {
  std::ifstream in(*this / name, std::ios::binary | std::ios::ate);
  std::string bytes(in ? static_cast<std::size_t>(in.tellg()) : 0, '\0');
  in.seekg(0).read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

std::string RegularFiles(const std::string& folder, const std::string& prefix) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const auto name = entry.path().filename().string();
    if (entry.is_regular_file() && !entry.is_symlink() && name.starts_with(prefix))
      names.insert(name);
  }
  std::string listing;
  for (const auto& name : names) listing += name + " ";
  return listing;
}
