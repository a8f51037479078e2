#include "platform/directory.h"

namespace platform {

bool ToDosStamp(int year, int month, int day, int hour, int minute, int second,
                std::uint32_t& stamp) {
  if (year < 1980 || year > 2107) return false;
  const auto date = static_cast<std::uint32_t>(((year - 1980) << 9) | (month << 5) | day);
  const auto time = static_cast<std::uint32_t>((hour << 11) | (minute << 5) | (second / 2));
  stamp = (date << 16) | time;
  return true;
}

}  // namespace platform
