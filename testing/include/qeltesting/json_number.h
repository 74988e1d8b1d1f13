// Reading one number out of the JSON object that qelstats prints.
#pragma once

#include <cmath>
#include <cstdlib>
#include <string>

namespace qel::testing {

// The number after `"key": ` in `json`; NaN when the key is absent.
inline double JsonNumber(const std::string& json, const std::string& key) {
  const std::string quoted = "\"" + key + "\": ";
  const auto at = json.find(quoted);
  if (at == std::string::npos) return std::nan("");
  return std::strtod(json.c_str() + at + quoted.size(), nullptr);
}

}  // namespace qel::testing
