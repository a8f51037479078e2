#include "text/file_stream.h"

#include <algorithm>
#include <memory>
#include <new>
#include <optional>

#include "platform/code_page.h"
#include "text/exceptions.h"

namespace {

// One read request: large enough to cost little per byte, small enough to
// stay in the caches.
constexpr std::size_t kChunkSize = std::size_t{1} << 20;

// Converted chunks on their way to the disk: the writer thread writes one
// while the next ones are read and converted.
constexpr std::size_t kSlots = 4;

// Reads into a buffer that starts on a page boundary go at full speed.
class PageBuffer {
 public:
  explicit PageBuffer(std::size_t size) : storage_(new char[size + kPage]) {}
  // Where the memory cannot be had, a buffer that holds nothing.
  PageBuffer(std::size_t size, std::nothrow_t /*nothrow*/)
      : storage_(new (std::nothrow) char[size + kPage]) {}
  bool Holds() const { return storage_ != nullptr; }
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

// `kept`: where the complete new content is, when the file's old content is
// gone.
[[noreturn]] void RaiseChanged(const std::string& path, const std::string& kept = {}) {
  Raise(EFCreateError(
      "Cannot create file \"" + platform::ConsoleText(platform::FullPathName(path)) +
      "\". It was changed by another program meanwhile" +
      (kept.empty() ? ""
                    : "; the new content is kept in \"" +
                          platform::ConsoleText(platform::FullPathName(kept)) + "\"")));
}

// The open error of `file` at `path`, when it has one.
void CheckOpened(const platform::InputFile& file, const std::string& path) {
  if (file.IsOpen()) return;
  if (file.OpenError() == platform::kChangedMeanwhile) RaiseChanged(path);
  Raise(EFOpenError(FileErrorMessage("Cannot open file", path, file.OpenError())));
}

// Reads the chunk at `offset` into `buffer`: a whole chunk unless the file
// ends first (a read of a regular file is short only there, but a short one
// is topped up), so that the first chunk is the file's whole head. The
// count, 0 at the end, -1 when a read failed.
std::int64_t ReadChunk(platform::InputFile& file, char* buffer, std::uint64_t offset) {
  const auto size = file.Stamp().size;
  const auto wanted = offset < size ? std::min<std::uint64_t>(kChunkSize, size - offset) : 0;
  std::size_t got = 0;
  for (;;) {
    const auto more = file.Read(buffer + got, kChunkSize - got);
    if (more < 0) return more;
    got += static_cast<std::size_t>(more);
    if (more == 0 || got >= wanted) return static_cast<std::int64_t>(got);
  }
}

// A file that goes to its replacement on a writer thread.
bool IsLarge(const platform::InputFile& file) { return file.Stamp().size > kChunkSize; }

// Reads the whole of `file` through `converter` and hands each piece of
// output to `sink`; after a zero byte it only reads on, past the holes.
// `behind`: a file of more than one chunk goes to `sink` on a writer thread,
// in order, all of it before this returns or raises. True, with nothing
// handed to `sink` and the rest unread, when `leave_as_is` keeps the file.
template <class Sink>
bool StreamFile(platform::InputFile& file, LineConverter& converter, Sink sink, bool behind,
                HeadTest leave_as_is) {
  behind = behind && IsLarge(file);
  const std::size_t room = (converter.OutputCapacity(kChunkSize) + 4095) / 4096 * 4096;
  const PageBuffer input(kChunkSize);
  auto output = behind ? PageBuffer(room * kSlots, std::nothrow) : PageBuffer(room);
  if (!output.Holds()) {  // no memory for the ring: one slot, written on this thread
    behind = false;
    output = PageBuffer(room);
  }
  std::optional<platform::Background> writer;  // after the buffers: done before they go
  if (behind) writer.emplace();
  std::size_t slot = 0;
  const auto next_slot = [&] {
    if (writer) writer->WaitUntilPending(kSlots - 1);  // the slot's last bytes are written
    return output.Data() + slot * room;
  };
  const auto put = [&](const char* begin, const char* end) {
    if (!writer) return sink(begin, end);
    writer->Post([&sink, begin, end] { sink(begin, end); });
    slot = (slot + 1) % kSlots;
  };
  std::uint64_t total = 0;
  for (;;) {
    if (converter.SawZeroByte()) total = file.SkipHoles(total);
    const auto got = ReadChunk(file, input.Data(), total);
    if (got < 0) Raise(EReadError("Stream read error"));
    if (got == 0) break;
    const bool head = total == 0;
    total += static_cast<std::uint64_t>(got);
    if (converter.SawZeroByte()) continue;
    const std::string_view chunk(input.Data(), static_cast<std::size_t>(got));
    char* out = next_slot();
    const char* end = converter.Convert(chunk, out);
    if (converter.SawZeroByte()) continue;
    if (head && leave_as_is != nullptr && leave_as_is(chunk)) return true;
    put(out, end);
  }
  if (total < file.Stamp().size) Raise(EReadError("Stream read error"));
  if (!converter.SawZeroByte()) {
    char* out = next_slot();
    put(out, converter.Finish(out));
  }
  return false;
}

// The new content is complete at `place`, the file's old content gone.
[[noreturn]] void RaiseKept(const std::string& place) {
  Raise(EWriteError("Stream write error; the new content is kept in \"" +
                    platform::ConsoleText(platform::FullPathName(place)) + "\""));
}

// "Stream write error", with the place and the reason when the place is not
// the file itself.
std::string WriteErrorMessage(const std::string& place, int code) {
  if (place.empty()) return "Stream write error";
  return "Stream write error in \"" + platform::ConsoleText(platform::FullPathName(place)) +
         "\". " + TrimmedErrorText(platform::SystemErrorText(code));
}

}  // namespace

SavePass::SavePass(platform::Background& releases, platform::FileReplacer& replacer)
    : releases_(releases), replacer_(replacer) {}

SavePass::~SavePass() {
  pending_.reset();
  if (!renamed_.empty()) replacer_.FlushFolderOf(renamed_);
}

// The previous file is put in place before anything of this one is reported
// or raised, and an error of its own comes first: also when this file's open
// or read fails, or memory runs out.
std::unique_ptr<FileRewrite> SavePass::Rewrite(const std::string& path,
                                               const platform::FileStamp& listed,
                                               Conversion conversion, HeadTest leave_as_is) {
  auto rewrite = std::make_unique<FileRewrite>(path, std::move(conversion));
  try {
    rewrite->Open(listed, replacer_, [this] { Settle(); });
    MakeRoomFor(*rewrite);
    rewrite->Stream(leave_as_is);
  } catch (...) {
    Settle();
    throw;
  }
  Settle();
  return rewrite;
}

// A large file's writeback runs behind its writer, so its flush has little
// left to do; beside the next file's writes it only makes both wait longer
// where the disk's cache flush writes out everything pending. A file
// rewritten in place changes under its other names, which the next file may
// be.
void SavePass::Commit(std::unique_ptr<FileRewrite> rewrite) {
  Settle();
  if (rewrite->IsLarge() || rewrite->InPlace()) {
    if (rewrite->Commit(releases_)) renamed_ = rewrite->Path();
    return;
  }
  if (!flushes_) flushes_.emplace();
  rewrite->StartFlush(*flushes_);
  pending_ = std::move(rewrite);
}

void SavePass::Settle() {
  if (!pending_) return;
  const auto rewrite = std::move(pending_);
  if (rewrite->Commit(releases_)) renamed_ = rewrite->Path();
}

// The most the next file's conversion can write (every byte a line end, and
// the second line), and a margin.
void SavePass::MakeRoomFor(const FileRewrite& next) {
  if (!pending_) return;
  constexpr std::uint64_t kMargin = std::uint64_t{64} << 20;
  const auto needed = pending_->OldSize() + next.MostNewSize() + kMargin;
  if (next.FreeSpace() < needed) Settle();
}

void SavePass::Flush() {
  Settle();
  if (renamed_.empty()) return;
  const auto renamed = std::move(renamed_);
  renamed_.clear();
  if (replacer_.FlushFolderOf(renamed) != 0) RaiseKept(renamed);
}

FileRewrite::FileRewrite(std::string path, Conversion conversion)
    : path_(std::move(path)), converter_(std::move(conversion)) {}

void FileRewrite::Open(const platform::FileStamp& listed, platform::FileReplacer& replacer,
                       const std::function<void()>& before_naming) {
  input_.emplace(path_, listed);
  CheckOpened(*input_, path_);
  replacement_ = replacer.Begin(path_, *input_, before_naming);
}

void FileRewrite::Stream(HeadTest leave_as_is) {
  left_as_is_ = StreamFile(
      *input_, converter_,
      [this](const char* begin, const char* end) {
        replacement_->Write(begin, static_cast<std::size_t>(end - begin));
      },
      true, leave_as_is);
}

bool FileRewrite::IsLarge() const { return ::IsLarge(*input_); }

bool FileRewrite::Commit(platform::Background& releases) {
  using Outcome = platform::CommitResult::Outcome;
  const auto result = replacement_->Commit();
  const auto& failed = result.failed_place;
  switch (result.outcome) {
    case Outcome::kRenamed:
    case Outcome::kRewrittenInPlace: break;
    case Outcome::kNotBegun:
      Raise(EFCreateError(
          FileErrorMessage("Cannot create file", failed.empty() ? path_ : failed, result.error)));
    case Outcome::kWriteFailed: Raise(EWriteError(WriteErrorMessage(failed, result.error)));
    case Outcome::kChangedMeanwhile: RaiseChanged(path_, result.kept_at);
    case Outcome::kRefused:
      if (!result.kept_at.empty()) RaiseKept(result.kept_at);
      Raise(EWriteError(WriteErrorMessage(failed.empty() ? path_ : failed, result.error)));
  }
  input_->CloseOn(releases);
  return result.outcome == Outcome::kRenamed;
}

namespace {

// The text of `input` to `take`; false when it holds a zero byte.
bool StreamText(platform::InputFile& input, const TextTaker& take) {
  LineConverter converter({});
  StreamFile(
      input, converter,
      [&take](const char* begin, const char* end) {
        take(std::string_view(begin, static_cast<std::size_t>(end - begin)));
      },
      false, nullptr);
  return !converter.SawZeroByte();
}

}  // namespace

TextRead ReadTextFile(const std::string& path, const platform::FileStamp& listed,
                      const TextTaker& take) {
  platform::InputFile input(path, listed);
  CheckOpened(input, path);
  const bool is_text = StreamText(input, take);
  return {is_text, input.Stamp()};
}

void ReadTextFileAgain(const std::string& path, const TextRead& read, const TextTaker& take) {
  platform::InputFile input(path, read.stamp);
  CheckOpened(input, path);
  if (!(input.Stamp() == read.stamp)) RaiseChanged(path);
  StreamText(input, take);
  if (!input.Unchanged(path)) RaiseChanged(path);
}

std::string FileErrorMessage(const char* what, const std::string& path, int code) {
  return std::string(what) + " \"" + platform::ConsoleText(platform::FullPathName(path)) + "\". " +
         TrimmedErrorText(platform::SystemErrorText(code));
}
