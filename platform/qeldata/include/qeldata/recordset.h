// Recordsets with the cursor semantics and type codes of ADO 2.x.
//
// A Recordset is either opened from a connection string and a source (a table
// name or SQL text), or built in memory: Fields().Append(...), then Open() with
// no source, then AddNew / field writes / Update.
//
//   qeldata::Recordset rs;
//   rs.SetCursorLocation(qeldata::adUseServer);
//   rs.Open("BaseBall.csv", "Text;DBQ=/data", qeldata::adOpenForwardOnly,
//           qeldata::adLockReadOnly, -1);
//   for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext())
//     total += rs.Fields().Item("Salary").GetValue().AsNumber();
//
// A server-side forward-only open streams its source block by block; any
// other open holds a static, fully fetched copy. Clone() shares the rows of a
// static recordset with an independent cursor.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qeldata/error.h"
#include "qeldata/value.h"

namespace qeldata {

// ADO data-type codes (DataTypeEnum).
enum DataType : int {
  adEmpty = 0,
  adSmallInt = 2,
  adInteger = 3,
  adSingle = 4,
  adDouble = 5,
  adCurrency = 6,
  adDate = 7,
  adBSTR = 8,
  adBoolean = 11,
  adDecimal = 14,
  adTinyInt = 16,
  adBigInt = 20,
  adBinary = 128,
  adChar = 129,
  adWChar = 130,
  adNumeric = 131,
  adDBDate = 133,
  adDBTime = 134,
  adDBTimeStamp = 135,
  adVarNumeric = 139,
  adVarChar = 200,
  adLongVarChar = 201,
  adVarWChar = 202,
  adLongVarWChar = 203,
  adVarBinary = 204,
  adLongVarBinary = 205,
};

enum CursorLocationEnum : int { adUseServer = 2, adUseClient = 3 };
enum CursorTypeEnum : int {
  adOpenUnspecified = -1,
  adOpenForwardOnly = 0,
  adOpenKeyset = 1,
  adOpenDynamic = 2,
  adOpenStatic = 3,
};
enum LockTypeEnum : int {
  adLockUnspecified = -1,
  adLockReadOnly = 1,
  adLockPessimistic = 2,
  adLockOptimistic = 3,
  adLockBatchOptimistic = 4,
};
enum FieldAttributeEnum : int { adFldUnspecified = -1, adFldIsNullable = 0x20, adFldMayBeNull = 0x40 };

// True for the text codes 129, 130, 200, 201, 202, 203.
bool IsTextType(int type);

// Why a column of a text file reads as text although numbers fill it: its
// non-empty cells that do not read as numbers (under the connection's reading
// options), how many non-empty cells it has in all, and the first of those
// that are no number, by line (1-based, as an editor counts) and text.
// Example: Salary with one "NA" among 920 values gives {1, 920, 18, "NA"}.
struct NonNumericCells {
  std::int64_t count = 0;
  std::int64_t values = 0;
  std::int64_t first_line = 0;
  std::string first_text;
};

// A field's name and type as a provider or Fields::Append declares it.
struct FieldInfo {
  std::string name;
  int type = adEmpty;
  int defined_size = 0;
  int attributes = adFldUnspecified;
  // Set by the text provider for a text column in which some cells read as
  // numbers and the cells that do not are a minority (or at most 100).
  std::optional<NonNumericCells> non_numeric = std::nullopt;
};

// An open data source: the connection string a recordset was opened with.
class Connection {
 public:
  explicit Connection(std::string connection_string) : connection_string_(std::move(connection_string)) {}
  const std::string& ConnectionString() const { return connection_string_; }

 private:
  std::string connection_string_;
};

namespace detail {
struct RecordsetState;
}

class Field {
 public:
  const std::string& Name() const;
  int Type() const;
  int DefinedSize() const;
  int Attributes() const;
  int Ordinal() const { return ordinal_; }
  // For a text column of a text file that is text because of a few cells:
  // which cells (see NonNumericCells). Empty for every other field.
  const std::optional<NonNumericCells>& NonNumeric() const;

  // The value on the current record. Throws Error (kErrNoCurrentRecord) at EOF or BOF.
  // The reference holds that value until the next GetValue of this field on
  // this recordset (a static table keeps its cells compact and makes the
  // Value when asked), the cursor's next block (streams), or Close: copy the
  // Value to keep it across records.
  const Value& GetValue() const;
  // Writes the value on the current record (in-memory recordsets, or a row
  // being added). Numeric field types (139 and the other number codes) convert
  // a text to a number; a text that is no number throws kErrDataConversion.
  void SetValue(Value value);

 private:
  friend class Fields;
  Field(detail::RecordsetState* state, int ordinal) : state_(state), ordinal_(ordinal) {}
  detail::RecordsetState* state_;
  int ordinal_;
};

class Fields {
 public:
  int Count() const;
  // By ordinal (0-based) or by name (case-insensitive, ASCII; a name with
  // blanks around it, as "id, price" gives, is also found without them: see
  // text::FindName). Throws Error (kErrItemNotFound, "Unknown field 'X' in
  // <source>") when there is none.
  Field Item(int ordinal) const;
  Field Item(std::string_view name) const;
  // The ordinal of a field by name, or -1.
  int Find(std::string_view name) const;
  // Declares a field of an in-memory recordset before Open().
  void Append(std::string name, int type, int defined_size = 0, int attributes = adFldUnspecified);

 private:
  friend class Recordset;
  explicit Fields(detail::RecordsetState* state) : state_(state) {}
  detail::RecordsetState* state_;
};

class Recordset {
 public:
  Recordset();
  ~Recordset();
  Recordset(const Recordset&) = delete;
  Recordset& operator=(const Recordset&) = delete;

  int CursorLocation() const;
  void SetCursorLocation(int location);  // before Open
  int CursorType() const;
  int LockType() const;

  // Opens `source` (a table name, "[file.csv]", or SQL text) over
  // `connection_string`. Throws Error with the provider's description.
  void Open(std::string_view source, std::string_view connection_string, int cursor_type = adOpenUnspecified,
            int lock_type = adLockUnspecified, int options = -1);
  // Opens an in-memory recordset over the appended fields (no source, no connection).
  void Open();
  bool IsOpen() const;
  void Close();

  bool IsEOF() const;
  bool IsBOF() const;
  void MoveFirst();  // on a forward-only stream that has moved on, reopens the source
  void MoveNext();
  void MoveLast();      // not on forward-only recordsets
  void MovePrevious();  // not on forward-only recordsets

  Fields GetFields() const;

  // The connection this recordset was opened on; null when disconnected
  // (in-memory recordsets, clones handed out without a connection).
  std::shared_ptr<const Connection> ActiveConnection() const;
  void SetActiveConnection(std::shared_ptr<const Connection> connection);
  const std::string& Source() const;

  // Row editing on static recordsets.
  // Room for `rows` more rows before AddNew adds them: a table built row by
  // row then holds its rows once, instead of old and new storage at once each
  // time it grows. Changes nothing else.
  void Reserve(std::int64_t rows);
  void AddNew();
  void Update();
  void SetCollect(std::string_view field_name, Value value);
  const Value& Collect(std::string_view field_name) const;

  // Number of rows of a static recordset; -1 for a forward-only stream.
  std::int64_t RecordCount() const;
  // Position (0-based) of the current record in a static recordset.
  std::int64_t AbsolutePosition() const;

  // How far a server-side forward-only recordset has read its source: the
  // share (0 to 1) of a text file's bytes in the blocks fetched so far, or of
  // the rows an ODBC driver said the result holds (one that holds the whole
  // result, as psqlODBC with UseDeclareFetch=0); 1 once the source is read to
  // its end. nullopt where the source cannot say (SQLite's rows, a driver
  // that streams) and for static and in-memory recordsets.
  std::optional<double> ReadShare() const;

  // A new recordset sharing this one's rows (and later additions) with its
  // own cursor on the first row. Forward-only streams cannot be cloned.
  std::shared_ptr<Recordset> Clone(int lock_type = adLockUnspecified) const;

  // Internal state; used by Field, Fields and the providers.
  detail::RecordsetState* state() const { return state_.get(); }

 private:
  std::unique_ptr<detail::RecordsetState> state_;
};

// Told how far the streaming reads of one thread have come: after each block
// that a server-side forward-only recordset fetches on the thread where it is
// installed, with that recordset's ReadShare() (sources that cannot say tell
// nothing). It is called on the reading thread, between records, so it must
// neither throw nor take long. With none installed a block costs one test.
class ReadProgress {
 public:
  virtual ~ReadProgress() = default;
  virtual void Advanced(double share) noexcept = 0;
};

// Installs `progress` (not owned; nullptr for none) for the calling thread
// and returns the one it replaces. REQUIRES: `progress` outlives its
// installation, which ends on the same thread.
ReadProgress* SetReadProgress(ReadProgress* progress);

// Tells the calling thread's ReadProgress, if one is installed, that a read
// not made through a Recordset (a ColumnScan's) has come to `share`.
void ReportReadShare(double share) noexcept;

}  // namespace qeldata
