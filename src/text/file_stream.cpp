#include "text/file_stream.h"

#include <cstdint>

#include "platform/file_io.h"
#include "text/exceptions.h"
#include "text/text_ops.h"

namespace {

std::string TrimmedErrorText(std::string text) {
  while (!text.empty() && (static_cast<unsigned char>(text.back()) <= 32 || text.back() == '.')) {
    text.pop_back();
  }
  return text;
}

}  // namespace

std::string FileErrorMessage(const char* what, const std::string& path, int code) {
  return std::string(what) + " \"" + platform::FullPathName(path) + "\". " +
         TrimmedErrorText(platform::SystemErrorText(code));
}

std::string ReadFileBytes(const std::string& path) {
  platform::ReadableFile file(path);
  if (!file.IsOpen()) {
    Raise(EFOpenError(FileErrorMessage("Cannot open file", path, file.OpenError())));
  }
  const auto size = file.RemainingSize();
  // A file larger than this process can address cannot be held: out of memory.
  if (static_cast<std::uint64_t>(size) >= std::string().max_size()) Raise(EOutOfMemory());
  auto bytes = BlankText(static_cast<std::size_t>(size));
  if (file.Read(bytes.data(), size) != size) Raise(EReadError("Stream read error"));
  return bytes;
}

void ReplaceFileBytes(const std::string& path, std::string_view bytes) {
  platform::FileReplacement file(path);
  if (!file.IsOpen()) {
    Raise(EFCreateError(FileErrorMessage("Cannot create file", path, file.OpenError())));
  }
  if (!bytes.empty() && !file.Write(bytes.data(), bytes.size())) {
    Raise(EWriteError("Stream write error"));
  }
  if (file.Commit() != 0) Raise(EWriteError("Stream write error"));
}
