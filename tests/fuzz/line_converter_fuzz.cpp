#include <cassert>
#include <fuzzer/FuzzedDataProvider.h>
#include <vector>

#include "support/whole_file_model.h"

// The chunked converter against the whole-file rewrite, on random bytes cut
// into random chunks, for each kind of conversion.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  platform::LeadByteSet lead_bytes{};
  for (auto byte : in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange(0, 2))) {
    lead_bytes[byte] = true;
  }
  Conversion conversion;
  conversion.lead_bytes = &lead_bytes;
  conversion.replace_fsd = in.ConsumeBool();
  conversion.insert_second_line = in.ConsumeBool();
  conversion.second_line = in.ConsumeBytesAsString(in.ConsumeIntegralInRange(0, 12));
  std::vector<std::size_t> cuts(in.ConsumeIntegralInRange(0, 6));
  for (auto& cut : cuts) cut = in.ConsumeIntegralInRange<std::size_t>(0, 70);
  const auto text = in.ConsumeRemainingBytesAsString();

  bool zero = false;
  const auto chunked = RewriteInChunks(text, conversion, cuts, zero);
  assert(zero == (text.find('\0') != std::string::npos));
  if (!zero) assert(chunked == RewriteWholeFile(text, conversion));
  return 0;
}
