#include "text/file_stream.h"

#include <memory>

#include "platform/code_page.h"
#include "text/exceptions.h"

namespace {

// One read request: large enough to cost little per byte, small enough to
// stay in the caches.
constexpr std::size_t kChunkSize = std::size_t{1} << 20;

// Reads into a buffer that starts on a page boundary go at full speed.
class PageBuffer {
 public:
  explicit PageBuffer(std::size_t size) : storage_(new char[size + kPage]) {}
  char* Data() const {
    const auto address = reinterpret_cast<std::uintptr_t>(storage_.get());
    return storage_.get() + (kPage - address % kPage) % kPage;
  }

 private:
  static constexpr std::size_t kPage = 4096;
  std::unique_ptr<char[]> storage_;
};

std::string TrimmedErrorText(std::string text) {
  while (!text.empty() && (static_cast<unsigned char>(text.back()) <= 32 || text.back() == '.')) {
    text.pop_back();
  }
  return text;
}

// Reads the whole file at `path` through `converter` and hands each piece of
// output to `sink`; after a zero byte it only reads on. Gives the file's
// stamp as it was opened.
template <class Sink>
platform::FileStamp StreamFile(const std::string& path, LineConverter& converter, Sink sink) {
  platform::InputFile file(path);
  if (!file.IsOpen()) {
    Raise(EFOpenError(FileErrorMessage("Cannot open file", path, file.OpenError())));
  }
  const PageBuffer input(kChunkSize);
  const PageBuffer output(converter.OutputCapacity(kChunkSize));
  std::uint64_t total = 0;
  for (;;) {
    const auto got = file.Read(input.Data(), kChunkSize);
    if (got < 0) Raise(EReadError("Stream read error"));
    if (got == 0) break;
    total += static_cast<std::uint64_t>(got);
    if (converter.SawZeroByte()) continue;
    const std::string_view chunk(input.Data(), static_cast<std::size_t>(got));
    const char* end = converter.Convert(chunk, output.Data());
    if (!converter.SawZeroByte()) sink(output.Data(), end);
  }
  if (total < file.Stamp().size) Raise(EReadError("Stream read error"));
  if (!converter.SawZeroByte()) sink(output.Data(), converter.Finish(output.Data()));
  return file.Stamp();
}

}  // namespace

FileRewrite::FileRewrite(const std::string& path, Conversion conversion)
    : path_(path), converter_(std::move(conversion)), replacement_(path) {
  stamp_ = StreamFile(path, converter_, [this](const char* begin, const char* end) {
    Write(begin, end);
  });
}

void FileRewrite::Write(const char* begin, const char* end) {
  if (replacement_.IsOpen() && !write_failed_) {
    write_failed_ = !replacement_.Write(begin, static_cast<std::size_t>(end - begin));
  }
}

void FileRewrite::Commit() {
  if (!replacement_.IsOpen()) {
    Raise(EFCreateError(FileErrorMessage("Cannot create file", path_, replacement_.OpenError())));
  }
  if (write_failed_) Raise(EWriteError("Stream write error"));
  const auto error = replacement_.Commit(stamp_);
  if (error == platform::kChangedMeanwhile) {
    Raise(EFCreateError("Cannot create file \"" + platform::ConsoleText(platform::FullPathName(path_)) +
                        "\". It was changed by another program meanwhile"));
  }
  if (!replacement_.KeptAt().empty()) {
    Raise(EWriteError("Stream write error; the new content is kept in \"" +
                      platform::ConsoleText(replacement_.KeptAt()) + "\""));
  }
  if (error != 0) Raise(EWriteError("Stream write error"));
}

TextFile ReadTextFile(const std::string& path) {
  TextFile file;
  LineConverter converter({});
  StreamFile(path, converter,
             [&file](const char* begin, const char* end) { file.text.append(begin, end); });
  file.holds_zero_byte = converter.SawZeroByte();
  if (file.holds_zero_byte) file.text.clear();
  return file;
}

std::string FileErrorMessage(const char* what, const std::string& path, int code) {
  return std::string(what) + " \"" + platform::ConsoleText(platform::FullPathName(path)) + "\". " +
         TrimmedErrorText(platform::SystemErrorText(code));
}
