// Reading what a terminal received from the progress line.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

namespace qel::testing {

// The percentages of the progress lines in `terminal` (the bytes written to
// it, lines redrawn after '\r') whose status is `status`, in drawing order.
inline std::vector<int> ProgressPercents(const std::string& terminal, const std::string& status) {
  std::vector<int> percents;
  std::size_t start = 0;
  while (start < terminal.size()) {
    const std::size_t end = std::min(terminal.find('\r', start), terminal.size());
    const std::string line = terminal.substr(start, end - start);
    const std::size_t pct = line.rfind('%');
    if (line.find(" - " + status + " [") != std::string::npos && pct != std::string::npos && pct >= 3)
      percents.push_back(std::stoi(line.substr(pct - 3, 3)));
    start = end + 1;
  }
  return percents;
}

}  // namespace qel::testing
