#include "qelcom/guid.h"

#include <cstdio>

namespace qelcom {

std::optional<GUID> ParseGuid(std::string_view text) {
  GUID g;
  if (!detail::ParseGuidText(text, g)) return std::nullopt;
  return g;
}

std::string ToString(const GUID& g) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return buffer;
}

}  // namespace qelcom
