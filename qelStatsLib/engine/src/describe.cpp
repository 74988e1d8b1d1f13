#include "qelStatsLib/describe.h"

#include <algorithm>
#include <bit>
#include <deque>
#include <cmath>
#include <map>
#include <unordered_map>

#include "group_keys.h"
#include "qeldata/error.h"
#include "text.h"

namespace qel {

namespace {

constexpr const char* kSource = "Describe";
constexpr std::int64_t kProgressEvery = 1 << 16;

bool IsDateType(int type) {
  return type == qeldata::adDate || type == qeldata::adDBDate || type == qeldata::adDBTime ||
         type == qeldata::adDBTimeStamp;
}

bool IsBinaryType(int type) {
  return type == qeldata::adBinary || type == qeldata::adVarBinary || type == qeldata::adLongVarBinary;
}

// The value and key of a number as the univariate run tallies it: a number
// read from a token of at most 15 significant digits is its own key (+0.0
// folds -0 into 0); any other number is keyed by its 15-digit form. Throws
// for a value that is no number and for one that is not finite.
struct Keyed {
  double value, key;
};

Keyed NumberOf(const qeldata::Value& v) {
  double x;
  if (v.IsNumber()) [[likely]] {
    x = v.number();
    if (std::isfinite(x) && v.IsCanonicalNumber()) [[likely]]
      return {x, x + 0.0};
  } else {
    x = v.AsNumber();  // throws for a text that is no number
  }
  if (!std::isfinite(x)) throw qeldata::Error(qeldata::kErrDataConversion, kSource, "the value " + qeldata::NumberText(x) + " is no data value");
  const double key = Form15(x);
  if (!std::isfinite(key)) throw qeldata::Error(qeldata::kErrDataConversion, kSource, "an overflow");
  return {x, key};
}

// A group's reading state: its fields' tallies and whether each still reads.
struct GroupState {
  DescribeGroup group;
  std::vector<char> stopped;
};

class Reader {
 public:
  Reader(qeldata::Recordset& rs, const DescribeRequest& request) : rs_(rs), request_(request) {
    const qeldata::Fields all = rs.GetFields();
    const bool weighted = !text::IsBlank(request.weight_field);
    const bool grouped = !text::IsBlank(request.group_field);
    int weight_ordinal = -1, group_ordinal = -1;
    if (weighted) {
      const qeldata::Field w = all.Item(text::Trim(request.weight_field));  // throws for an unknown name
      if (!IsDescribedAsNumber(w.Type()))
        throw qeldata::Error(qeldata::kErrLibraryInput, kSource,
                             "the weight field '" + w.Name() + "' holds text, not numbers");
      weight_ordinal = w.Ordinal();
      weight_.emplace(w);
    }
    if (grouped) {
      const qeldata::Field g = all.Item(text::Trim(request.group_field));
      group_ordinal = g.Ordinal();
      group_.emplace(g);
    }
    if (request.fields.empty()) {
      for (int i = 0; i < all.Count(); ++i)
        if (i != weight_ordinal && i != group_ordinal) fields_.push_back(all.Item(i));
    } else {
      for (const std::string& name : request.fields) fields_.push_back(all.Item(text::Trim(name)));
    }
    for (const qeldata::Field& f : fields_) numeric_.push_back(IsDescribedAsNumber(f.Type()));
  }

  std::vector<DescribeGroup> Read() {
    GroupState* only = grouped() ? nullptr : &NewGroup(qeldata::Value());
    std::int64_t records = 0;
    for (; !rs_.IsEOF(); rs_.MoveNext()) {
      GroupState& g = only ? *only : GroupOf(group_->GetValue());
      ++g.group.records;
      Tally(g);
      if (++records % kProgressEvery == 0 && request_.on_records) request_.on_records(records);
    }
    if (request_.on_records) request_.on_records(records);
    return Sorted();
  }

 private:
  bool grouped() const { return group_.has_value(); }

  GroupState& NewGroup(const qeldata::Value& key) {
    groups_.emplace_back();
    GroupState& g = groups_.back();
    g.group.key = key;
    g.stopped.assign(fields_.size(), 0);
    for (std::size_t c = 0; c < fields_.size(); ++c) {
      FieldTally f;
      f.name = fields_[c].Name();
      f.type = fields_[c].Type();
      f.numeric = numeric_[c];
      g.group.fields.push_back(std::move(f));
    }
    return g;
  }

  // The group of a record by the grouping field's value (group_keys.h).
  GroupState& GroupOf(const qeldata::Value& key) {
    bool added = false;
    const std::size_t position = group_keys_.Find(key, added);
    if (added) NewGroup(key);
    return groups_[position];
  }

  void Tally(GroupState& g) {
    double weight = 1;
    if (weight_) {
      const qeldata::Value& wv = weight_->GetValue();
      if (wv.IsNull()) {
        for (FieldTally& f : g.group.fields) f.numeric ? f.numbers.AddMissing() : f.texts.AddMissing();
        return;
      }
      weight = wv.AsNumber();
      if (!std::isfinite(weight))
        throw qeldata::Error(qeldata::kErrDataConversion, kSource,
                             "the weight " + qeldata::NumberText(weight) + " is no data value (record " +
                                 std::to_string(g.group.records) + ")");
    }
    for (std::size_t c = 0; c < fields_.size(); ++c) {
      if (g.stopped[c]) continue;
      FieldTally& f = g.group.fields[c];
      const qeldata::Value& v = fields_[c].GetValue();
      if (v.IsNull()) {
        f.numeric ? f.numbers.AddMissing() : f.texts.AddMissing();
        continue;
      }
      if (!f.numeric) {
        f.texts.Add(v.kind() == qeldata::Value::Kind::kText ? std::string_view(v.text()) : std::string_view(v.AsText()),
                    weight);
        continue;
      }
      try {
        const Keyed x = NumberOf(v);
        f.numbers.AddKeyed(x.value, x.key, weight);
      } catch (const std::exception& e) {
        const auto* error = dynamic_cast<const qeldata::Error*>(&e);
        f.failure = (error ? error->description() : std::string(e.what())) + " (record " +
                    std::to_string(g.group.records) + ")";
        g.stopped[c] = 1;
      }
    }
  }

  std::vector<DescribeGroup> Sorted() {
    std::vector<DescribeGroup> out;
    out.reserve(groups_.size());
    for (GroupState& g : groups_) {
      for (FieldTally& f : g.group.fields)
        if (f.numeric) f.numbers.Flush();
      out.push_back(std::move(g.group));
    }
    std::stable_sort(out.begin(), out.end(), [](const DescribeGroup& a, const DescribeGroup& b) {
      return detail::GroupKeyLess(a.key, b.key);
    });
    return out;
  }

  qeldata::Recordset& rs_;
  const DescribeRequest& request_;
  std::vector<qeldata::Field> fields_;
  std::vector<char> numeric_;
  std::optional<qeldata::Field> weight_, group_;
  std::deque<GroupState> groups_;  // stable addresses while groups are added
  detail::GroupKeys group_keys_;
};

}  // namespace

bool IsDescribedAsNumber(int type) { return !qeldata::IsTextType(type) && !IsDateType(type) && !IsBinaryType(type); }

std::vector<DescribeGroup> Describe_Tally(qeldata::Recordset& rs, const DescribeRequest& request) {
  if (!(rs.IsBOF() && rs.IsEOF())) rs.MoveFirst();
  Reader reader(rs, request);
  return reader.Read();
}

std::vector<double> Percentiles(std::span<const NumberTally::Entry> sorted, double wgt_n,
                                std::span<const double> levels) {
  std::vector<double> out(levels.size(), 0.0);
  if (sorted.empty() || !(wgt_n > 0)) return out;
  for (std::size_t l = 0; l < levels.size(); ++l) {
    // The walk of the quartiles: a value whose share equals the level settles
    // it; below the level the statistic follows the values; the first value
    // past the level right after the last one below it settles it too.
    const double level = levels[l];
    double cum = 0;
    std::size_t last_below = 0;
    bool exact = false;
    for (std::size_t j = 1; j <= sorted.size() && !exact; ++j) {
      const double a = sorted[j - 1].value;
      cum += sorted[j - 1].payload.weight;
      const double p = cum / wgt_n;
      if (p == level) {
        out[l] = a;
        exact = true;
      } else if (p < level) {
        out[l] = a;
        last_below = j;
      } else if (j == last_below + 1) {
        out[l] = a;
      }
    }
  }
  return out;
}

std::optional<TextMode> MostFrequent(const TextTally& texts) {
  const std::vector<std::string>& all = texts.Texts();
  std::optional<TextMode> best;
  for (std::uint32_t i = 0; i < all.size(); ++i) {
    const TargetSums& p = texts.Of(i);
    if (!best || p.weight > best->payload.weight || (p.weight == best->payload.weight && all[i] < best->text))
      best = TextMode{all[i], p};
  }
  return best;
}

}  // namespace qel
