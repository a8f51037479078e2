#include <cassert>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "console/console_streams.h"

// ReadKeyChar and DiscardLine over standard input that arrives in pieces. Input: 8 bytes whose bits
// choose the calls (set: ReadKeyChar), then pieces, each a length byte and the bytes. Each piece is
// one packet, so one read gets exactly that piece; an empty piece reads as the end of input.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::uint64_t calls = 0;
  std::memcpy(&calls, data, std::min<std::size_t>(size, 8));
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds) != 0 || dup2(fds[0], 0) != 0) std::abort();
  close(fds[0]);
  std::string model;  // what the reader gets: the pieces up to the first empty one
  bool ended = false;
  for (std::size_t at = 8, length = 0; at < size; at += 1 + length) {
    length = std::min<std::size_t>(data[at] % (ConsoleBufferSize + 1), size - at - 1);
    if (send(fds[1], data + at + 1, length, MSG_DONTWAIT) < 0) break;  // the socket is full
    ended = ended || length == 0;
    if (!ended) model.append(reinterpret_cast<const char*>(data) + at + 1, length);
  }
  close(fds[1]);
  ResetConsoleStreams();
  for (std::size_t call = 0, at = 0; call < 64; ++call) {
    if ((calls >> call & 1) != 0) {
      assert(ReadKeyChar() == (at < model.size() && model[at] != 26 ? model[at++] : 26));
    } else {
      DiscardLine();
      while (at < model.size() && model[at] != 26 && model[at++] != '\n') {
      }
    }
  }
  assert(PendingConsoleError == 0);
  return 0;
}
