#include "platform/directory_listing.h"

#include <algorithm>

namespace platform {

namespace {

std::string UpperCased(std::string text) {
  for (auto& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

class SnapshotListing : public DirectoryListing {
 public:
  SnapshotListing(std::vector<PlatformEntry> entries, ErrorCode end_code)
      : entries_(std::move(entries)), end_code_(end_code) {}

  ErrorCode Next(PlatformEntry& entry) override {
    if (next_ == entries_.size()) return end_code_;
    entry = entries_[next_++];
    return 0;
  }

 private:
  std::vector<PlatformEntry> entries_;
  ErrorCode end_code_;
  std::size_t next_ = 0;
};

}  // namespace

std::unique_ptr<DirectoryListing> StartSnapshot(std::vector<PlatformEntry> entries,
                                                ErrorCode end_code, PlatformEntry& first,
                                                ErrorCode& error) {
  std::sort(entries.begin(), entries.end(), [](const PlatformEntry& a, const PlatformEntry& b) {
    const auto upper_a = UpperCased(a.name);
    const auto upper_b = UpperCased(b.name);
    return upper_a != upper_b ? upper_a < upper_b : a.name < b.name;
  });
  auto listing = std::make_unique<SnapshotListing>(std::move(entries), end_code);
  error = listing->Next(first);
  if (error != 0) return nullptr;
  return listing;
}

}  // namespace platform
