#include "qeldata/recordset.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "provider.h"

namespace qeldata {

using detail::EqualsNoCase;
using detail::RecordsetState;

namespace {

constexpr const char* kSource = "qeldata";

thread_local ReadProgress* t_read_progress = nullptr;


bool IsNumericType(int type) {
  switch (type) {
    case adSmallInt:
    case adInteger:
    case adSingle:
    case adDouble:
    case adCurrency:
    case adDecimal:
    case adTinyInt:
    case adBigInt:
    case adNumeric:
    case adVarNumeric:
      return true;
    default:
      return false;
  }
}

// Converts a value written into a field to that field's type, as a recordset
// does when a value is put into a typed column.
Value ConvertForField(const FieldInfo& field, Value value) {
  if (value.IsNull()) return value;
  if (IsNumericType(field.type)) {
    if (value.IsNumber()) return value;
    return Value(value.AsNumber());
  }
  if (IsTextType(field.type)) {
    if (value.kind() == Value::Kind::kText) return value;
    return Value(value.AsText());
  }
  if (field.type == adBoolean) {
    if (value.kind() == Value::Kind::kBoolean) return value;
    if (value.kind() == Value::Kind::kText) {
      const std::string& t = value.text();
      if (EqualsNoCase(t, "true")) return Value::Boolean(true);
      if (EqualsNoCase(t, "false")) return Value::Boolean(false);
    }
    return Value::Boolean(value.AsNumber() != 0);
  }
  if (field.type == adDate && value.kind() == Value::Kind::kText) {
    if (auto d = Date::Parse(value.text())) return Value(*d);
    throw Error(kErrDataConversion, kSource, "Type mismatch: '" + value.text() + "' is not a date");
  }
  return value;
}

RecordsetState& Checked(RecordsetState* s) {
  if (!s->open) throw Error(kErrObjectClosed, kSource, "Operation is not allowed when the object is closed.");
  return *s;
}

}  // namespace

bool IsTextType(int type) {
  return type == adChar || type == adWChar || type == adVarChar || type == adLongVarChar || type == adVarWChar ||
         type == adLongVarWChar;
}

namespace detail {

namespace {
[[noreturn]] void NoCurrentRecord() {
  throw Error(kErrNoCurrentRecord, kSource, "Either BOF or EOF is True, or the current record has been deleted.");
}

// A static table's cell as a Value, made in the recordset's slot for its
// field. Out of line, so that a stream's reading loop, which calls Cell for
// every field of every record, pays one branch for it and no more.
[[gnu::noinline]] const Value& StaticCell(const RecordsetState& s, int ordinal) {
  if (s.current.size() != s.table->columns.size()) s.current.resize(s.table->columns.size());
  Value& value = s.current[static_cast<std::size_t>(ordinal)];
  s.table->columns[static_cast<std::size_t>(ordinal)].Load(static_cast<std::size_t>(s.pos), value);
  return value;
}
}  // namespace

const Value& RecordsetState::Cell(int ordinal) const {
  if (pos < 0 || pos >= table->rows) NoCurrentRecord();
  if (!streaming) return StaticCell(*this, ordinal);
  if (!pending_columns.empty() && pending_columns[ordinal]) [[unlikely]] {
    // First look at this column in the block: convert it now. On failure the
    // column stays pending, so every later look fails the same way.
    stream->ConvertColumn(table->cells, static_cast<std::size_t>(ordinal));
    pending_columns[ordinal] = 0;
  }
  return table->cells[static_cast<std::size_t>(pos) * table->fields.size() + ordinal];
}

void RecordsetState::SetCell(int ordinal, const Value& value) {
  if (pos < 0 || pos >= table->rows) NoCurrentRecord();
  table->columns[static_cast<std::size_t>(ordinal)].Store(static_cast<std::size_t>(pos), value);
}

bool RecordsetState::FetchNextBlock() {
  if (stream_done) return false;
  block_base += table->rows;
  table->rows = 0;
  std::size_t got = 0;
  if (stream->DefersConversion()) {
    // The cells of the last block are overwritten as columns are converted,
    // so they are neither destroyed nor built again.
    pending_columns.assign(table->fields.size(), 1);
    got = stream->FetchDeferred(table->cells, kBlockRows, pending_columns);
  } else {
    pending_columns.clear();
    table->cells.clear();
    got = stream->Fetch(table->cells, kBlockRows);
  }
  table->rows = static_cast<std::int64_t>(got);
  if (got == 0) stream_done = true;
  if (t_read_progress) [[unlikely]] {
    if (const auto share = ReadShare()) t_read_progress->Advanced(*share);
  }
  return got > 0;
}

std::optional<double> RecordsetState::ReadShare() const {
  if (!streaming || !stream) return std::nullopt;
  if (stream_done) return 1.0;
  return stream->ReadShare();
}

}  // namespace detail

// ---- Field ----

const std::string& Field::Name() const { return state_->table->fields[ordinal_].name; }
int Field::Type() const { return state_->table->fields[ordinal_].type; }
int Field::DefinedSize() const { return state_->table->fields[ordinal_].defined_size; }
int Field::Attributes() const { return state_->table->fields[ordinal_].attributes; }
const std::optional<NonNumericCells>& Field::NonNumeric() const { return state_->table->fields[ordinal_].non_numeric; }
const Value& Field::GetValue() const { return Checked(state_).Cell(ordinal_); }

void Field::SetValue(Value value) {
  RecordsetState& s = Checked(state_);
  if (s.streaming) throw Error(kErrNotSupported, kSource, "The recordset is read-only.");
  s.SetCell(ordinal_, ConvertForField(s.table->fields[ordinal_], std::move(value)));
}

// ---- Fields ----

int Fields::Count() const { return state_->FieldCount(); }

Field Fields::Item(int ordinal) const {
  if (ordinal < 0 || ordinal >= state_->FieldCount())
    throw Error(kErrItemNotFound, kSource,
                "Unknown field number " + std::to_string(ordinal) +
                    (state_->display_name.empty() ? std::string() : " in " + state_->display_name));
  return Field(state_, ordinal);
}

Field Fields::Item(std::string_view name) const {
  const int ordinal = Find(name);
  if (ordinal < 0)
    throw Error(kErrItemNotFound, kSource,
                "Unknown field '" + std::string(name) + "'" +
                    (state_->display_name.empty() ? std::string() : " in " + state_->display_name));
  return Field(state_, ordinal);
}

int Fields::Find(std::string_view name) const {
  return static_cast<int>(
      text::FindName(state_->table->fields, name, [](const FieldInfo& f) -> std::string_view { return f.name; }));
}

void Fields::Append(std::string name, int type, int defined_size, int attributes) {
  if (state_->open) throw Error(kErrObjectOpen, kSource, "Operation is not allowed when the object is open.");
  // Only a name equal but for case is taken: " a" and "a" may both be fields.
  const auto& fields = state_->table->fields;
  if (std::any_of(fields.begin(), fields.end(), [&](const FieldInfo& f) { return EqualsNoCase(f.name, name); }))
    throw Error(kErrInvalidArgument, kSource, "Field '" + name + "' is already in the recordset.");
  state_->table->fields.push_back(FieldInfo{std::move(name), type, defined_size, attributes});
}

// ---- Recordset ----

Recordset::Recordset() : state_(std::make_unique<RecordsetState>()) {}
Recordset::~Recordset() = default;

int Recordset::CursorLocation() const { return state_->cursor_location; }
void Recordset::SetCursorLocation(int location) {
  if (state_->open) throw Error(kErrObjectOpen, kSource, "Operation is not allowed when the object is open.");
  state_->cursor_location = location;
}
int Recordset::CursorType() const { return state_->cursor_type; }
int Recordset::LockType() const { return state_->lock_type; }

void Recordset::Open(std::string_view source, std::string_view connection_string, int cursor_type, int lock_type,
                     int /*options*/) {
  RecordsetState& s = *state_;
  if (s.open) throw Error(kErrObjectOpen, kSource, "Operation is not allowed when the object is open.");
  auto provider = detail::MakeProvider(connection_string);
  const bool streaming = s.cursor_location != adUseClient &&
                         (cursor_type == adOpenForwardOnly || cursor_type == adOpenUnspecified);
  auto stream = provider->Open(source, streaming);

  auto table = std::make_shared<detail::Table>();
  table->fields = stream->Schema();
  s.display_name = provider->DisplayName(source);
  s.source = std::string(source);
  s.connection = std::make_shared<Connection>(std::string(connection_string));
  s.cursor_type = streaming ? adOpenForwardOnly : (cursor_type == adOpenUnspecified ? adOpenStatic : cursor_type);
  s.lock_type = lock_type == adLockUnspecified ? adLockReadOnly : lock_type;
  s.table = table;
  s.block_base = 0;
  s.streaming = streaming;
  s.stream_done = false;
  s.pending_columns.clear();
  if (streaming) {
    s.provider = std::move(provider);
    s.stream = std::move(stream);
    s.open = true;
    s.FetchNextBlock();
  } else {
    // Block by block into the compact columns, so that a large source is
    // never held as Values.
    const std::size_t width = table->fields.size();
    table->columns.resize(width);
    std::vector<Value> block;
    std::size_t got = 0;
    while ((got = stream->Fetch(block, detail::kBlockRows)) > 0) {
      if (width == 0) {
        block.clear();
        continue;
      }
      for (std::size_t c = 0; c < width; ++c) {
        detail::CellColumn& column = table->columns[c];
        for (std::size_t r = 0; r < got; ++r) column.Append(block[r * width + c]);
      }
      table->rows += static_cast<std::int64_t>(got);
      block.clear();
    }
    s.open = true;
  }
  s.pos = 0;
}

void Recordset::Open() {
  RecordsetState& s = *state_;
  if (s.open) throw Error(kErrObjectOpen, kSource, "Operation is not allowed when the object is open.");
  s.open = true;
  s.streaming = false;
  s.table->columns.resize(s.table->fields.size());
  s.cursor_type = adOpenStatic;
  s.lock_type = adLockBatchOptimistic;
  s.pos = 0;
}

bool Recordset::IsOpen() const { return state_->open; }

void Recordset::Close() {
  RecordsetState& s = Checked(state_.get());
  s.open = false;
  s.pending_columns.clear();
  s.stream.reset();
  s.provider.reset();
  s.table = std::make_shared<detail::Table>();
  s.current.clear();
  s.connection.reset();
  s.pos = -1;
}

bool Recordset::IsEOF() const {
  const RecordsetState& s = Checked(state_.get());
  return s.pos >= s.table->rows;
}

bool Recordset::IsBOF() const {
  const RecordsetState& s = Checked(state_.get());
  return s.pos < 0 || (s.table->rows == 0 && s.block_base == 0);
}

void Recordset::MoveFirst() {
  RecordsetState& s = Checked(state_.get());
  if (s.streaming && (s.block_base > 0 || s.stream_done || s.pos > 0)) {
    // A forward-only cursor cannot go back: read the source again from the top.
    s.stream = s.provider->Open(s.source, true);
    s.table->cells.clear();
    s.table->rows = 0;
    s.block_base = 0;
    s.stream_done = false;
    s.FetchNextBlock();
  }
  s.pos = 0;
}

void Recordset::MoveNext() {
  RecordsetState& s = Checked(state_.get());
  if (s.pos >= s.table->rows)
    throw Error(kErrNoCurrentRecord, kSource, "Either BOF or EOF is True, or the current record has been deleted.");
  ++s.pos;
  if (s.streaming && s.pos >= s.table->rows && !s.stream_done) {
    if (s.FetchNextBlock()) s.pos = 0;
    else s.pos = s.table->rows;
  }
}

void Recordset::MoveLast() {
  RecordsetState& s = Checked(state_.get());
  if (s.streaming) throw Error(kErrNotSupported, kSource, "A forward-only recordset cannot move backwards.");
  s.pos = s.table->rows > 0 ? s.table->rows - 1 : 0;
}

void Recordset::MovePrevious() {
  RecordsetState& s = Checked(state_.get());
  if (s.streaming) throw Error(kErrNotSupported, kSource, "A forward-only recordset cannot move backwards.");
  if (s.pos < 0)
    throw Error(kErrNoCurrentRecord, kSource, "Either BOF or EOF is True, or the current record has been deleted.");
  --s.pos;
}

Fields Recordset::GetFields() const { return Fields(state_.get()); }

std::shared_ptr<const Connection> Recordset::ActiveConnection() const { return state_->connection; }
void Recordset::SetActiveConnection(std::shared_ptr<const Connection> connection) {
  state_->connection = std::move(connection);
}
const std::string& Recordset::Source() const { return state_->source; }

void Recordset::Reserve(std::int64_t rows) {
  RecordsetState& s = Checked(state_.get());
  if (rows <= 0 || s.streaming) return;
  for (detail::CellColumn& column : s.table->columns) column.Reserve(column.size() + static_cast<std::size_t>(rows));
}

void Recordset::AddNew() {
  RecordsetState& s = Checked(state_.get());
  if (s.streaming || s.lock_type == adLockReadOnly)
    throw Error(kErrNotSupported, kSource, "The recordset is read-only.");
  for (detail::CellColumn& column : s.table->columns) column.AppendNull();
  s.pos = s.table->rows++;
}

void Recordset::Update() { Checked(state_.get()); }

void Recordset::SetCollect(std::string_view field_name, Value value) {
  GetFields().Item(field_name).SetValue(std::move(value));
}

const Value& Recordset::Collect(std::string_view field_name) const {
  return GetFields().Item(field_name).GetValue();
}

std::int64_t Recordset::RecordCount() const {
  const RecordsetState& s = Checked(state_.get());
  return s.streaming ? -1 : s.table->rows;
}

std::int64_t Recordset::AbsolutePosition() const { return state_->block_base + state_->pos; }

std::optional<double> Recordset::ReadShare() const {
  if (!state_->open) return std::nullopt;
  return state_->ReadShare();
}

ReadProgress* SetReadProgress(ReadProgress* progress) { return std::exchange(t_read_progress, progress); }

void ReportReadShare(double share) noexcept {
  if (t_read_progress) t_read_progress->Advanced(share);
}

std::shared_ptr<Recordset> Recordset::Clone(int lock_type) const {
  const RecordsetState& s = Checked(state_.get());
  if (s.streaming) throw Error(kErrNotSupported, kSource, "A forward-only recordset cannot be cloned.");
  auto clone = std::make_shared<Recordset>();
  RecordsetState& c = *clone->state_;
  c.cursor_location = s.cursor_location;
  c.cursor_type = s.cursor_type;
  c.lock_type = lock_type == adLockUnspecified ? s.lock_type : lock_type;
  c.open = true;
  c.source = s.source;
  c.display_name = s.display_name;
  c.connection = s.connection;
  c.table = s.table;
  c.pos = 0;
  return clone;
}

}  // namespace qeldata
