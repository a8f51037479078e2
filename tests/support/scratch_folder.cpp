#include "support/scratch_folder.h"

#include <chrono>
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

namespace {

// A second early, as the file system's clock may lag.
const auto kProgramStart = fs::file_time_type::clock::now() - std::chrono::seconds(1);

// The regular files of `folder` named `prefix`..., last written at `since` or
// later.
std::string FilesSince(const std::string& folder, const std::string& prefix,
                       fs::file_time_type since) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const auto name = entry.path().filename().string();
    std::error_code gone;  // removed meanwhile by a test in parallel
    if (entry.is_regular_file() && !entry.is_symlink() && name.starts_with(prefix) &&
        fs::last_write_time(entry.path(), gone) >= since && !gone)
      names.insert(name);
  }
  std::string listing;
  for (const auto& name : names) listing += name + " ";
  return listing;
}

}  // namespace

std::string RegularFiles(const std::string& folder, const std::string& prefix) {
  return FilesSince(folder, prefix, fs::file_time_type::min());
}

std::string StagedFiles(pid_t pid) {
  const auto prefix = "camfix-" + std::to_string(pid) + "-";
  std::string listing = FilesSince("/var/tmp", prefix, kProgramStart);
  std::error_code gone;  // removed meanwhile by a test in parallel
  for (const auto& entry : fs::directory_iterator("/var/tmp")) {
    if (entry.is_directory(gone) && !entry.is_symlink(gone) &&
        entry.path().filename().string().starts_with("camfix-")) {
      listing += FilesSince(entry.path(), prefix, kProgramStart);
    }
  }
  return listing;
}
