#include "report_model.h"

#include <algorithm>

namespace qelcli {

std::optional<double> FieldProfile::Figure(const std::string& figure_name) const {
  for (const auto& [key, value] : figures)
    if (key == figure_name) return value;
  return std::nullopt;
}

Histogram MakeHistogram(std::span<const ValueWeight> sorted, int max_bins) {
  Histogram h;
  if (sorted.empty() || max_bins < 1) return h;
  const double lo = sorted.front().value, hi = sorted.back().value;
  const int bins = lo == hi ? 1 : static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(max_bins), sorted.size()));
  const double width = (hi - lo) / bins;
  h.edges.resize(static_cast<std::size_t>(bins) + 1);
  for (int i = 0; i < bins; ++i) h.edges[static_cast<std::size_t>(i)] = lo + width * i;
  h.edges.back() = hi;
  h.weights.assign(static_cast<std::size_t>(bins), 0.0);
  // A value belongs to the bin of the last edge at or below it, so the bins
  // agree with the edges printed on the axis; the top edge closes the last bin.
  const auto inner_begin = h.edges.begin() + 1, inner_end = h.edges.end() - 1;
  for (const ValueWeight& v : sorted) {
    const auto bin = std::upper_bound(inner_begin, inner_end, v.value) - inner_begin;
    h.weights[static_cast<std::size_t>(bin)] += v.weight;
  }
  return h;
}

std::pair<double, double> Whiskers(std::span<const ValueWeight> sorted, double q1, double q3) {
  const double reach = 1.5 * (q3 - q1);
  const double low_limit = q1 - reach, high_limit = q3 + reach;
  auto by_value = [](const ValueWeight& v, double x) { return v.value < x; };
  auto low = std::lower_bound(sorted.begin(), sorted.end(), low_limit, by_value);
  if (low == sorted.end()) low = sorted.end() - 1;
  auto high = std::upper_bound(sorted.begin(), sorted.end(), high_limit,
                               [](double x, const ValueWeight& v) { return x < v.value; });
  if (high != sorted.begin()) --high;
  return {low->value, high->value};
}

}  // namespace qelcli
