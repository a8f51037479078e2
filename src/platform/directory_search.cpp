#include "platform/directory_search.h"

#include <algorithm>

namespace {

constexpr std::int32_t kNoMoreEntries = 18;

std::int32_t FillRecord(TSearchRec& record) {
  if (record.NextEntry < record.Listing.size()) {
    const auto& entry = record.Listing[record.NextEntry++];
    record.WriteStamp = static_cast<std::int32_t>(entry.dos_stamp);
    record.FileSize = static_cast<std::int64_t>(entry.size);
    record.FileAttributes = entry.attributes;
    record.FileName = entry.name;
    record.FileKind = entry.kind;
    record.FileIdentity = entry.identity;
    return 0;
  }
  return kNoMoreEntries;
}

std::string UpperCased(std::string text) {
  for (auto& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// Name order, letters compared without case, then bytes: the same on every
// platform, and a file rewritten under its own name never comes round again.
void SortByName(std::vector<platform::DirectoryEntry>& entries) {
  std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
    const auto upper_a = UpperCased(a.name);
    const auto upper_b = UpperCased(b.name);
    return upper_a != upper_b ? upper_a < upper_b : a.name < b.name;
  });
}

}  // namespace

std::int32_t FindFirstMatch(const std::string& pattern, TSearchRec& record) {
  record.Listing.clear();
  record.NextEntry = 0;
  if (const auto error = platform::ListWorkingFolder(pattern, record.Listing); error != 0) {
    return error;
  }
  SortByName(record.Listing);
  if (FillRecord(record) == 0) return 0;
  EndSearch(record);
  return kNoMatchingEntry;
}

std::int32_t FindNextMatch(TSearchRec& record) { return FillRecord(record); }

void EndSearch(TSearchRec& record) {
  record.Listing.clear();
  record.Listing.shrink_to_fit();
  record.NextEntry = 0;
}

bool IsExistingFile(const std::string& path) {
  platform::DirectoryEntry entry;
  return platform::LookUpEntry(path, entry) && entry.kind != platform::EntryKind::kFolder &&
         entry.dated;
}
