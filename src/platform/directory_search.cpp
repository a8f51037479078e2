#include "platform/directory_search.h"

namespace {

constexpr std::uint32_t kSkippableAttributes = 0x1E;

std::int32_t FillRecord(TSearchRec& record) {
  while ((record.PlatformEntry.attributes & record.SkipAttributes) != 0) {
    if (const auto error = record.SearchHandle->Next(record.PlatformEntry); error != 0) {
      return error;
    }
  }
  const auto& entry = record.PlatformEntry;
  std::uint32_t stamp = 0;
  platform::ToLocalDosDateTime(entry.write_time, stamp);
  record.WriteStamp = static_cast<std::int32_t>(stamp);
  record.FileSize = static_cast<std::int64_t>(entry.size);
  record.FileAttributes = entry.attributes;
  record.FileName = entry.name;
  return 0;
}

}  // namespace

std::int32_t FindFirstMatch(const std::string& pattern, std::uint32_t attribute_mask,
                            TSearchRec& record) {
  record.SkipAttributes = ~attribute_mask & kSkippableAttributes;
  platform::ErrorCode error = 0;
  record.SearchHandle = platform::StartListing(pattern, record.PlatformEntry, error);
  if (!record.SearchHandle) return error;
  error = FillRecord(record);
  if (error != 0) EndSearch(record);
  return error;
}

std::int32_t FindNextMatch(TSearchRec& record) {
  if (!record.SearchHandle) return -1;
  if (const auto error = record.SearchHandle->Next(record.PlatformEntry); error != 0) return error;
  return FillRecord(record);
}

void EndSearch(TSearchRec& record) { record.SearchHandle.reset(); }

bool IsExistingFile(const std::string& path) {
  platform::PlatformEntry entry;
  if (!platform::LookUpEntry(path, entry)) return false;
  if ((entry.attributes & platform::kDirectoryAttribute) != 0) return false;
  std::uint32_t stamp = 0;
  return platform::ToLocalDosDateTime(entry.write_time, stamp);
}
