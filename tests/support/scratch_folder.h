#pragma once

#include <string>
#include <unistd.h>

// A fresh folder under /tmp, removed with everything in it at the end.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  void Write(const std::string& name, const std::string& bytes) const;
  std::string Read(const std::string& name) const;

 private:
  std::string path_;
};

// The regular files of `folder` (dot-files included) whose names begin with
// `prefix`, sorted, each followed by a blank.
std::string RegularFiles(const std::string& folder, const std::string& prefix = "");

// What the process `pid` (camfix, or this one) staged in /var/tmp (or in a
// private camfix-UID-XXXXXX folder there) and left there; other tests, in parallel, stage files of
// their own meanwhile. Files from before this program started are not counted: a process killed
// long ago may have had the same id.
std::string StagedFiles(pid_t pid);
