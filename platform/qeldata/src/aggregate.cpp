// The aggregate reader: one query per reading pass, built around the source's
// statement, and its rows turned into groups.
#include "qeldata/aggregate.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <unordered_map>

#include "provider.h"

namespace qeldata {

namespace {

constexpr const char* kSource = "qeldata";

bool IsBlank(std::string_view s) { return detail::Trim(s).empty(); }

// The columns of a grouping query, in the order QueryText selects them for
// each kind of request; -1 where the column is not selected.
struct Columns {
  int all, weighed, complete, complete_weight, target_sum, missing_weight, width;
};
constexpr Columns kPlain{1, -1, -1, -1, -1, -1, 2};         // value, count(*)
constexpr Columns kWeighted{1, 2, 2, 3, -1, -1, 4};         // ..., count(w), sum(w)
constexpr Columns kTargeted{1, -1, 2, -1, 3, -1, 4};        // ..., count(t), sum(t)
constexpr Columns kWeightedTargeted{1, 2, 3, 4, 5, 6, 7};   // ..., count(w), count(w | t), sum(w | t), sum(t w), sum(w | no t)

Columns ColumnsFor(bool weighted, bool has_target) {
  if (weighted) return has_target ? kWeightedTargeted : kWeighted;
  return has_target ? kTargeted : kPlain;
}

// `expr`, a column of ADO type `type`, as a double in standard SQL.
std::string DoubleOf(const std::string& expr, int type) {
  return type == adDouble ? expr : "cast(" + expr + " as double precision)";
}

double NumberOrZero(const Value& v) { return v.IsNull() ? 0.0 : v.AsNumber(); }

// Accumulates one group the way the record-by-record read counts records.
void AddRecord(AggregateGroup& g, const Value& weight, const Value* target, bool weighted, MissingRule rule) {
  const bool has_weight = !weighted || !weight.IsNull();
  const bool complete = !g.value.IsNull() && has_weight && (!target || !target->IsNull());
  const double w = weighted && has_weight ? weight.AsNumber() : 1.0;
  if (!complete) {
    g.missing += rule == MissingRule::kWeight && has_weight ? w : 1.0;
    return;
  }
  g.records += 1;
  g.weight += w;
  if (target) g.target_sum += target->AsNumber() * w;
}

}  // namespace

namespace detail {

std::unique_ptr<AggregateSession> Provider::OpenAggregate(std::string_view) {
  throw Error(kErrNotSupported, kSource,
              "in-database runs need a database (SQLite or ODBC): CSV files are read record by record");
}

}  // namespace detail

struct AggregateReader::State {
  std::unique_ptr<detail::Provider> provider;
  std::unique_ptr<detail::AggregateSession> session;
  std::string display_name;

  // A grouping query's rows, or the reader's own groups.
  std::unique_ptr<detail::RowStream> stream;
  std::vector<Value> cells;
  std::size_t row = 0, rows = 0, width = 0;
  Columns columns = kPlain;
  AggregateRequest request;
  bool weighted = false;
  std::vector<AggregateGroup> groups;
  std::size_t next_group = 0;

  struct Names {
    std::string value, weight, target;
  };
  Names Resolve(const AggregateReader& reader, const AggregateRequest& s) const {
    Names n;
    n.value = session->QuoteIdentifier(reader.Field(s.value_field).name);
    if (!IsBlank(s.weight_field)) n.weight = session->QuoteIdentifier(reader.Field(s.weight_field).name);
    if (!s.target_field.empty()) n.target = session->QuoteIdentifier(reader.Field(s.target_field).name);
    return n;
  }

  std::string From() const { return " from (\n" + session->Statement() + "\n) q"; }

  // Groups the rows of the selected fields in the order the database steps them.
  void GroupRows(bool has_target) {
    std::unordered_map<std::uint64_t, std::size_t> numbers;
    std::unordered_map<std::string, std::size_t> others;  // texts, dates, booleans by kind and text
    std::size_t null_group = SIZE_MAX;
    const std::size_t columns = 1 + (weighted ? 1 : 0) + (has_target ? 1 : 0);
    const Value no_weight;
    std::vector<Value> block;
    while (true) {
      block.clear();
      const std::size_t got = stream->Fetch(block, detail::kBlockRows);
      if (got == 0) break;
      for (std::size_t r = 0; r < got; ++r) {
        const Value* row = &block[r * columns];
        const Value& v = row[0];
        std::size_t* slot;
        if (v.IsNull()) {
          slot = &null_group;
        } else if (v.IsNumber()) {
          // Equal numbers are one group (-0 and 0 too); NaNs are kept apart
          // by their bits and fail where they are used as values.
          slot = &numbers.try_emplace(std::bit_cast<std::uint64_t>(v.number() + 0.0), SIZE_MAX).first->second;
        } else {
          const std::string key = std::to_string(static_cast<int>(v.kind())) + ":" + v.AsText();
          slot = &others.try_emplace(key, SIZE_MAX).first->second;
        }
        if (*slot == SIZE_MAX) {
          *slot = groups.size();
          groups.emplace_back();
          groups.back().value = v;
        }
        AddRecord(groups[*slot], weighted ? row[1] : no_weight, has_target ? &row[columns - 1] : nullptr, weighted,
                  request.missing);
      }
    }
    stream.reset();
  }
};

AggregateReader::AggregateReader(std::string_view connection_string, std::string_view source)
    : state_(std::make_unique<State>()) {
  state_->provider = detail::MakeProvider(connection_string);
  state_->display_name = state_->provider->DisplayName(source);
  state_->session = state_->provider->OpenAggregate(source);
}

AggregateReader::~AggregateReader() = default;

const std::vector<FieldInfo>& AggregateReader::Fields() const { return state_->session->Schema(); }

const FieldInfo& AggregateReader::Field(std::string_view name) const {
  for (const FieldInfo& f : Fields())
    if (detail::EqualsNoCase(f.name, name)) return f;
  throw Error(kErrItemNotFound, kSource, "Unknown field '" + std::string(name) + "' in " + state_->display_name);
}

const std::string& AggregateReader::DisplayName() const { return state_->display_name; }

std::string AggregateReader::QueryText(const AggregateRequest& request) const {
  const State::Names n = state_->Resolve(*this, request);
  const bool weighted = !n.weight.empty(), has_target = !n.target.empty();
  if (!state_->session->GroupsInDatabase()) {
    std::string list = n.value;
    if (weighted) list += ", " + n.weight;
    if (has_target) list += ", " + n.target;
    return "select " + list + state_->From();
  }
  // Per value, only what the request needs: all records; with a weight, those
  // that have one; with a target, the complete records (value, weight and
  // target present) and their weight, weight x target, and the weight of
  // those that lack only the target. Aggregates skip nulls, so `case` without
  // `else` picks records. Sums add doubles, as the record-by-record read does:
  // never integers that could overflow, nor single-precision floats
  // (PostgreSQL sums a real as a real); a column the database describes as
  // double precision is summed as it is.
  std::string list = n.value + ", count(*)";
  if (weighted) {
    const std::string w = DoubleOf(n.weight, Field(request.weight_field).type);
    list += ", count(" + n.weight + ")";
    if (has_target) {
      const std::string t_present = "case when " + n.target + " is not null then ";
      list += ", count(" + t_present + n.weight + " end)";
      list += ", sum(" + t_present + w + " end)";
    } else {
      list += ", sum(" + w + ")";
    }
  } else if (has_target) {
    list += ", count(" + n.target + ")";
  }
  if (has_target) {
    const std::string t = DoubleOf(n.target, Field(request.target_field).type);
    if (weighted) {
      const std::string w = DoubleOf(n.weight, Field(request.weight_field).type);
      list += ", sum(" + t + " * " + w + ")";
      list += ", sum(case when " + n.target + " is null then " + w + " end)";
    } else {
      list += ", sum(" + t + ")";
    }
  }
  return "select " + list + state_->From() + " group by " + n.value;
}

void AggregateReader::Run(const AggregateRequest& request) {
  State& s = *state_;
  const std::string sql = QueryText(request);
  s.request = request;
  s.weighted = !IsBlank(request.weight_field);
  s.groups.clear();
  s.next_group = 0;
  s.cells.clear();
  s.row = s.rows = 0;
  const bool has_target = !request.target_field.empty();
  std::vector<int> types{Field(request.value_field).type};
  if (!s.session->GroupsInDatabase()) {
    if (s.weighted) types.push_back(Field(request.weight_field).type);
    if (has_target) types.push_back(Field(request.target_field).type);
    s.stream = s.session->Query(sql, types);
    s.GroupRows(has_target);
    return;
  }
  s.columns = ColumnsFor(s.weighted, has_target);
  types.resize(static_cast<std::size_t>(s.columns.width), adDouble);
  s.stream = s.session->Query(sql, types);
  s.width = types.size();
}

bool AggregateReader::Next(AggregateGroup& group) {
  State& s = *state_;
  if (!s.session->GroupsInDatabase() || !s.stream) {
    if (s.next_group >= s.groups.size()) return false;
    group = std::move(s.groups[s.next_group++]);
    return true;
  }
  if (s.row >= s.rows) {
    s.cells.clear();
    s.row = 0;
    s.rows = s.stream->Fetch(s.cells, detail::kBlockRows);
    if (s.rows == 0) {
      s.stream.reset();
      return false;
    }
  }
  const Value* c = &s.cells[s.row++ * s.width];
  const Columns& k = s.columns;
  auto number = [&](int column, double otherwise) { return column < 0 ? otherwise : NumberOrZero(c[column]); };
  const double all = c[k.all].AsNumber();
  const double weighed = number(k.weighed, all);      // records with a weight
  const double complete = number(k.complete, weighed);
  const double complete_weight = number(k.complete_weight, complete);
  const double missing_weight = number(k.missing_weight, 0);
  group = AggregateGroup{};
  group.value = c[0];
  const bool weight_of_incomplete = s.weighted && s.request.missing == MissingRule::kWeight;
  if (group.value.IsNull()) {
    // Every record of the null value is incomplete.
    group.missing = weight_of_incomplete ? (all - weighed) + missing_weight + complete_weight : all;
    return true;
  }
  group.records = complete;
  group.weight = complete_weight;
  group.target_sum = number(k.target_sum, 0);
  group.missing = weight_of_incomplete ? (all - weighed) + missing_weight : all - complete;
  return true;
}

}  // namespace qeldata
