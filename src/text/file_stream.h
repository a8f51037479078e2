#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file_io.h"
#include "platform/file_replacement.h"
#include "text/line_converter.h"

// Whole files through the line rules, read and written in chunks: camfix
// holds a few megabytes of a file at a time, whatever its size.

class FileRewrite;

// Asked once with a file's first chunk, before anything of the file is
// written: its first 1 MiB, or the whole file when it is shorter. True leaves
// the file as it is, read no further.
using HeadTest = bool (*)(std::string_view head);

// What the rewrites of one pass share. A file of up to a chunk is made
// durable while the next file streams, and put in place before anything of
// that next file is reported or raised: the lines and errors come in the
// order of one file after the other. A file that a rename put in place is in
// its folder for good once Flush has run: once per pass, after its last
// rename and before it reports anything that depends on it. The files they
// replaced are closed on `releases`, which frees their blocks while the next
// file streams.
class SavePass {
 public:
  explicit SavePass(platform::Background& releases,
                    platform::FileReplacer& replacer = platform::SystemReplacer());
  // Flushes what an error left unflushed, that error being the one reported;
  // a file not yet put in place keeps its old content.
  ~SavePass();
  SavePass(const SavePass&) = delete;
  SavePass& operator=(const SavePass&) = delete;

  // Reads the whole file at `path` through `conversion` into its replacement
  // and then puts the previous file in place, raising the previous file's
  // error first and then this one's (see FileRewrite::Open and Stream).
  // `listed`: the file the folder listing saw under `path`.
  std::unique_ptr<FileRewrite> Rewrite(const std::string& path, const platform::FileStamp& listed,
                                       Conversion conversion, HeadTest leave_as_is = nullptr);
  // Puts the file in place, now or while the next file streams; raises as
  // FileRewrite::Commit does, then or when that next file is rewritten.
  void Commit(std::unique_ptr<FileRewrite> rewrite);
  // Puts the file that Commit left in progress in place, raising its errors.
  void Settle();
  // Raises EWriteError, naming the last file put in place, when the folder
  // cannot be flushed; the files are new then. Settles first.
  void Flush();

 private:
  // Settles first unless the volume has room for `next` beside the file in
  // progress: the old content of that file is still on it.
  void MakeRoomFor(const FileRewrite& next);

  platform::Background& releases_;
  platform::FileReplacer& replacer_;
  std::string renamed_;  // the last file a rename put in place since the flush
  std::optional<platform::Background> flushes_;  // made durable there
  std::unique_ptr<FileRewrite> pending_;         // being made durable
};

// A file rewritten through a conversion, in the steps SavePass takes: Open,
// Stream, Commit. The order of the errors is that of reading the whole file
// first and writing it afterwards.
class FileRewrite {
 public:
  FileRewrite(std::string path, Conversion conversion);

  // Opens the file and begins its replacement. Raises EFOpenError when the
  // file cannot be opened and EFCreateError when `path` no longer holds the
  // regular file `listed`. A file that cannot be replaced is only raised by
  // Commit.
  void Open(const platform::FileStamp& listed, platform::FileReplacer& replacer,
            const std::function<void()>& before_naming);
  // Reads the whole file and streams the converted bytes into the
  // replacement. Raises EReadError when a read fails or the file ends before
  // the size it had when opened; a failed write is only raised by Commit, and
  // reading goes on to the end (past the holes of a file that is no text).
  // `leave_as_is`, when given, may keep a file that holds no zero byte in its
  // first chunk from being rewritten.
  void Stream(HeadTest leave_as_is);
  // Puts the new content in the file's place; true when a rename did (the
  // folder is to be flushed). The file read is closed on `releases`. Raises
  // EFCreateError when the file cannot be replaced or changed while it was
  // rewritten, and EWriteError when the new content could not be written or
  // put in place; the file keeps its old bytes then, unless the message names
  // where the complete new content was kept. A message names the staged copy
  // when that is what failed.
  bool Commit(platform::Background& releases);
  void StartFlush(platform::Background& flushes) { replacement_->StartFlush(flushes); }

  const std::string& Path() const { return path_; }
  // Not text: the file stays as it is, and is not to be committed.
  bool HoldsZeroByte() const { return converter_.SawZeroByte(); }
  // Its head made `leave_as_is` keep it: the same, and the rest is not read.
  bool LeftAsItIs() const { return left_as_is_; }
  // False for an empty file.
  bool HasLines() const { return converter_.HasLines(); }
  // More than one chunk: written behind the reads, its writeback with it.
  bool IsLarge() const;
  // Rewritten in place: it changes under its other names.
  bool InPlace() const { return replacement_->InPlace(); }
  // The room it takes on its volume: old content plus the most new content,
  // and the room there is.
  std::uint64_t OldSize() const { return input_->Stamp().size; }
  std::uint64_t MostNewSize() const { return converter_.OutputCapacity(OldSize()); }
  std::uint64_t FreeSpace() const { return input_->FreeSpace(); }

 private:
  std::string path_;
  LineConverter converter_;
  std::optional<platform::InputFile> input_;
  std::unique_ptr<platform::FileReplacement> replacement_;  // after input_: gone first
  bool left_as_is_ = false;
};

using TextTaker = std::function<void(std::string_view)>;

// What a file read for reading only held.
struct TextRead {
  bool is_text = false;       // false: a zero byte, and the pieces before it are no text
  platform::FileStamp stamp;  // the file as it was opened
};

// Reads a file for reading only (a drill report) and hands its text, every
// line followed by CR LF, to `take` piece by piece: camfix holds a few
// megabytes of the file at a time, whatever its size. Raises EFOpenError,
// EFCreateError and EReadError as FileRewrite's Open and Stream do. A file
// that holds a zero byte is read to its end.
TextRead ReadTextFile(const std::string& path, const platform::FileStamp& listed,
                      const TextTaker& take);
// Hands `take` the same text once more, read anew from the text file that
// `read` tells of. Raises EFCreateError, as for a file changed by another
// program meanwhile, when `path` no longer names that file or it changed
// since or while it was read.
void ReadTextFileAgain(const std::string& path, const TextRead& read, const TextTaker& take);

// The message of a failed open ("Cannot open file") or create ("Cannot
// create file"): the full path in double quotes and the platform's text for
// the code, without trailing blanks, control bytes and full stops.
std::string FileErrorMessage(const char* what, const std::string& path, int code);
