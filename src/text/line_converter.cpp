#include "text/line_converter.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr std::string_view kFsd = "FSD";

bool HasLeadBytes(const platform::LeadByteSet& lead_bytes) {
  return std::find(lead_bytes.begin(), lead_bytes.end(), true) != lead_bytes.end();
}

}  // namespace

LineConverter::LineConverter(Conversion conversion) : conversion_(std::move(conversion)) {}

std::size_t LineConverter::OutputCapacity(std::size_t input_size) const {
  // Every byte may become CR LF; then the held bytes, the second line with
  // its line end, and the slack of two 16-byte stores.
  return 2 * input_size + sizeof held_ + 2 + conversion_.second_line.size() + 2 + 32;
}

char* LineConverter::Convert(std::string_view input, char* out) {
  if (input.empty()) return out;
  saw_input_ = true;
  char* const start = out;
  out = std::copy_n(held_, held_size_, out);
  held_size_ = 0;
  out = ConvertLineEnds(input, out);
  last_was_line_end_ = input.back() == '\r' || input.back() == '\n';
  return conversion_.replace_fsd ? ReplaceFsd(start, out) : out;
}

char* LineConverter::Finish(char* out) {
  char* const start = out;
  out = std::copy_n(held_, held_size_, out);
  held_size_ = 0;
  if (saw_input_ && !last_was_line_end_) out = EndLine(out);
  if (conversion_.replace_fsd) out = ReplaceFsd(start, out);
  out = std::copy_n(held_, held_size_, out);
  held_size_ = 0;
  return out;
}

char* LineConverter::EndLine(char* out) {
  *out++ = '\r';
  *out++ = '\n';
  if (!conversion_.insert_second_line) return out;
  conversion_.insert_second_line = false;
  out = std::copy(conversion_.second_line.begin(), conversion_.second_line.end(), out);
  *out++ = '\r';
  *out++ = '\n';
  return out;
}

// A CR or LF ends a line, except the LF of a CR LF pair.
char* LineConverter::ConvertLineEnds(std::string_view input, char* out) {
  const char* at = input.data();
  const char* const end = at + input.size();
  const auto take_line_end = [&](char byte) {
    const bool second_of_pair = byte == '\n' && after_cr_;
    after_cr_ = byte == '\r';
    if (!second_of_pair) out = EndLine(out);
  };
#if defined(__SSE2__)
  // Sixty-four bytes at a time, with the places of their CRs and LFs in one
  // mask: the bytes between two line ends are moved in 16-byte pieces (two
  // cover a typical CAM line), which may read and write up to 31 bytes too
  // many; reads stay inside the input, writes inside OutputCapacity.
  const __m128i cr = _mm_set1_epi8('\r');
  const __m128i lf = _mm_set1_epi8('\n');
  const __m128i zero = _mm_setzero_si128();
  __m128i zeros = zero;
  const auto move_plain = [&](const char* from, const char* to) {
    if (from == to) return;
    for (std::ptrdiff_t done = 0; done < to - from; done += 32) {
      const auto* source = reinterpret_cast<const __m128i*>(from + done);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + done), _mm_loadu_si128(source));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + done + 16), _mm_loadu_si128(source + 1));
    }
    out += to - from;
    after_cr_ = false;
  };
  while (end - at >= 64 + 32) {
    std::uint64_t ends = 0;
    for (std::ptrdiff_t part = 0; part < 4; ++part) {
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 16 * part));
      zeros = _mm_or_si128(zeros, _mm_cmpeq_epi8(block, zero));
      const auto found = static_cast<unsigned>(
          _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(block, cr), _mm_cmpeq_epi8(block, lf))));
      ends |= std::uint64_t{found} << (16 * part);
    }
    const char* from = at;
    for (; ends != 0; ends &= ends - 1) {
      const char* line_end = at + std::countr_zero(ends);
      move_plain(from, line_end);
      take_line_end(*line_end);
      from = line_end + 1;
    }
    at += 64;
    move_plain(from, at);
  }
  saw_zero_byte_ = saw_zero_byte_ || _mm_movemask_epi8(zeros) != 0;
#endif
  for (; at < end; ++at) {
    if (*at == '\r' || *at == '\n') {
      take_line_end(*at);
    } else {
      saw_zero_byte_ = saw_zero_byte_ || *at == '\0';
      after_cr_ = false;
      *out++ = *at;
    }
  }
  return out;
}

// Replaces in [from, end) and holds back a tail that may begin an "FSD"
// which the next chunk completes. Returns the new end.
char* LineConverter::ReplaceFsd(char* from, char* end) {
  char* kept_end = end;
  if (HasLeadBytes(*conversion_.lead_bytes)) {
    kept_end = ReplaceFsdBetweenCharacters(from, end);
  } else {
    const std::string_view text(from, static_cast<std::size_t>(end - from));
    for (auto at = text.find(kFsd); at != std::string_view::npos; at = text.find(kFsd, at + 3)) {
      from[at + 2] = 'L';
    }
    kept_end -= text.ends_with("FS") ? 2 : text.ends_with('F') ? 1 : 0;
  }
  held_size_ = static_cast<std::size_t>(end - kept_end);
  std::copy(kept_end, end, held_);
  return kept_end;
}

// The same where an occurrence never starts on the second byte of a
// double-byte character; the state of that rule goes on into the next chunk.
char* LineConverter::ReplaceFsdBetweenCharacters(char* from, char* end) {
  const auto& lead_bytes = *conversion_.lead_bytes;
  for (char* at = from; at < end; ++at) {
    const auto left = static_cast<std::size_t>(end - at);
    if (!trail_ && *at == 'F') {
      if (left < 3 && kFsd.starts_with(std::string_view(at, left))) return at;
      if (left >= 3 && at[1] == 'S' && at[2] == 'D') {
        at[2] = 'L';
        at += 2;
        continue;  // the rest begins after the occurrence: no second byte
      }
    }
    trail_ = !trail_ && lead_bytes[static_cast<unsigned char>(*at)];
  }
  return end;
}
