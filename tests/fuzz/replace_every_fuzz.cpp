#include <cassert>
#include <fuzzer/FuzzedDataProvider.h>

#include "text/text_ops.h"

// ReplaceEvery against a byte-by-byte walk that keeps track of double-byte characters.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  LeadByteSet lead{};
  for (auto byte : in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange(0, 3)))
    lead[byte] = true;
  const auto old_text = in.ConsumeBytesAsString(in.ConsumeIntegralInRange(0, 8));
  const auto new_text = in.ConsumeBytesAsString(in.ConsumeIntegralInRange(0, 8));
  const auto text = in.ConsumeRemainingBytesAsString();

  std::string model;
  bool trail = false;  // the byte at `at` is the second of a double-byte character
  for (std::size_t at = 0; at < text.size();) {
    if (!trail && !old_text.empty() && text.compare(at, old_text.size(), old_text) == 0) {
      model += new_text;
      at += old_text.size();
      continue;
    }
    trail = !trail && lead[static_cast<std::uint8_t>(text[at])];
    model += text[at++];
  }
  assert(ReplaceEvery(text, old_text, new_text, lead) == model);
  return 0;
}
