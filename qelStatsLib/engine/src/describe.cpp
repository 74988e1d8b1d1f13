#include "qelStatsLib/describe.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <condition_variable>
#include <deque>
#include <exception>
#include <cmath>
#include <limits>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "group_keys.h"
#include "describe_columns.h"
#include "qeldata/column_scan.h"
#include "qeldata/error.h"
#include "recent_texts.h"
#include "text.h"
#include "univariate_finish.h"

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

Keyed KeyedNumber(double x, bool canonical) {
  if (std::isfinite(x) && canonical) [[likely]]
    return {x, x + 0.0};
  if (!std::isfinite(x)) throw qeldata::Error(qeldata::kErrDataConversion, kSource, "the value " + qeldata::NumberText(x) + " is no data value");
  const double key = Form15(x);
  if (!std::isfinite(key)) throw qeldata::Error(qeldata::kErrDataConversion, kSource, "an overflow");
  return {x, key};
}

Keyed NumberOf(const qeldata::Value& v) {
  if (v.IsNumber()) [[likely]]
    return KeyedNumber(v.number(), v.IsCanonicalNumber());
  return KeyedNumber(v.AsNumber(), false);  // AsNumber throws for a text that is no number
}

// What stops a numeric field: the reason, with the record (1-based).
std::string StopReason(const std::exception& e, std::int64_t record) {
  const auto* error = dynamic_cast<const qeldata::Error*>(&e);
  return (error ? error->description() : std::string(e.what())) + " (record " + std::to_string(record) + ")";
}

// The numeric fields of an ungrouped pass tallied on a second thread. The
// reading thread converts each record's value of such a field as the
// one-thread pass does (NumberOf) and appends it to the field's batch; the
// tallying thread adds each batch to the fields' tallies, field by field, in
// record order. Every tally thus takes exactly the additions of the
// one-thread pass in exactly its order, and its figures are the same bit for
// bit; only different fields' tallies are filled at the same time.
class NumberTallier {
 public:
  // Starts the thread. Throws std::system_error when there is none to be had.
  explicit NumberTallier(std::vector<FieldTally*> fields)
      : fields_(std::move(fields)), reasons_(fields_.size()), stopped_(fields_.size(), 0), tallied_(fields_.size(), 0) {
    for (Batch& b : batches_) b.items.resize(fields_.size());
    thread_ = std::thread([this] { Work(); });
  }
  // Leaves the batches not handed over yet untallied (the pass failed).
  ~NumberTallier() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
  }
  NumberTallier(const NumberTallier&) = delete;
  NumberTallier& operator=(const NumberTallier&) = delete;

  // Field `i` of this record: a value with its key and the record's weight,
  // a missing value (also counted after the field stopped, as in the
  // one-thread pass), or the reason the field stops here.
  void Add(std::size_t i, double value, double key, double weight) { Filling(i).push_back({value, key, weight}); }
  void AddMissing(std::size_t i, bool weight_null) { Filling(i).push_back({0, kMissing, weight_null ? 1.0 : 0.0}); }
  void Stop(std::size_t i, std::string reason) {
    reasons_[i] = std::move(reason);  // read by the thread only after this batch is handed over
    Filling(i).push_back({0, kStop, 0});
  }
  // Ends a record; a full batch goes to the thread.
  void EndRecord() {
    if (++records_ == kBatchRecords) HandOver();
  }
  // Tallies what is left and waits for the thread to finish. Throws what
  // the thread could not carry on after (out of memory, say).
  void Finish() {
    if (records_ > 0) HandOver();
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return !handed_ || failure_; });
      done_ = true;
    }
    changed_.notify_all();
    thread_.join();
    if (failure_) std::rethrow_exception(failure_);
  }

 private:
  struct Item {
    double value, key, weight;
  };
  struct Batch {
    std::vector<std::vector<Item>> items;  // per field
  };
  static constexpr std::size_t kBatchRecords = 8192;
  static constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();
  static constexpr double kStop = std::numeric_limits<double>::infinity();

  std::vector<Item>& Filling(std::size_t i) { return batches_[filling_].items[i]; }

  // One batch is tallied while the other fills. After the thread failed,
  // batches are dropped: Finish reports the failure.
  void HandOver() {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return !handed_ || failure_; });
      if (!failure_) {
        handed_ = true;
        handed_index_ = filling_;
      }
    }
    changed_.notify_all();
    filling_ ^= 1;
    for (std::vector<Item>& v : batches_[filling_].items) v.clear();
    records_ = 0;
  }

  void Work() {
    for (;;) {
      std::size_t index;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return handed_ || done_; });
        if (!handed_ || failure_) return;
        index = handed_index_;
      }
      std::exception_ptr failure;
      try {
        for (std::size_t i = 0; i < fields_.size(); ++i) Tally(i, batches_[index].items[i]);
      } catch (...) {
        failure = std::current_exception();
      }
      {
        std::lock_guard<std::mutex> lock(mutex_);
        handed_ = false;
        if (failure) {
          failure_ = failure;
          done_ = true;  // no more batches: Finish reports it
        }
      }
      changed_.notify_all();
    }
  }

  void Tally(std::size_t i, const std::vector<Item>& items) {
    NumberTally& tally = fields_[i]->numbers;
    for (const Item& item : items) {
      if (item.key != item.key) {  // missing; for a null weight also after a stop
        if (!stopped_[i] || item.weight != 0) tally.AddMissing();
        ++tallied_[i];
        continue;
      }
      if (stopped_[i]) continue;
      ++tallied_[i];
      if (item.key == kStop) {
        fields_[i]->failure = reasons_[i];
        stopped_[i] = 1;
        continue;
      }
      try {
        tally.AddKeyed(item.value, item.key, item.weight);
      } catch (const std::exception& e) {
        fields_[i]->failure = StopReason(e, tallied_[i]);
        stopped_[i] = 1;
      }
    }
  }

  std::vector<FieldTally*> fields_;
  std::vector<std::string> reasons_;    // written by the reading thread before its stop item is handed over
  std::vector<char> stopped_;           // the thread's
  std::vector<std::int64_t> tallied_;   // the thread's: records met per field
  Batch batches_[2];
  std::size_t filling_ = 0;             // the reading thread's
  std::size_t records_ = 0;             // records in the filling batch
  std::mutex mutex_;
  std::condition_variable changed_;
  bool handed_ = false;                 // a batch waits for, or is in, the thread
  std::size_t handed_index_ = 0;
  bool done_ = false;
  std::exception_ptr failure_;
  std::thread thread_;
};

// A group's reading state: its fields' tallies and whether each still reads.
struct GroupState {
  DescribeGroup group;
  std::vector<char> stopped;
};

class Reader {
 public:
  // `columns`, when given, are the fields to tally by their position in the
  // recordset, in place of request.fields.
  Reader(qeldata::Recordset& rs, const DescribeRequest& request, const std::vector<std::size_t>* columns = nullptr)
      : rs_(rs), request_(request) {
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
    if (columns) {
      for (const std::size_t c : *columns) fields_.push_back(all.Item(static_cast<int>(c)));
    } else if (request.fields.empty()) {
      for (int i = 0; i < all.Count(); ++i)
        if (i != weight_ordinal && i != group_ordinal) fields_.push_back(all.Item(i));
    } else {
      for (const std::string& name : request.fields) fields_.push_back(all.Item(text::Trim(name)));
    }
    for (const qeldata::Field& f : fields_) numeric_.push_back(IsDescribedAsNumber(f.Type()));
  }

  std::vector<DescribeGroup> Read() {
    GroupState* only = grouped() ? nullptr : &NewGroup(qeldata::Value());
    if (only) StartTallier(*only);
    std::int64_t records = 0;
    for (; !rs_.IsEOF(); rs_.MoveNext()) {
      GroupState& g = only ? *only : GroupOf(group_->GetValue());
      ++g.group.records;
      Tally(g);
      if (tallier_) tallier_->EndRecord();
      if (++records % kProgressEvery == 0 && request_.on_records) request_.on_records(records);
    }
    if (tallier_) tallier_->Finish();
    if (request_.on_records) request_.on_records(records);
    return Sorted();
  }

 private:
  bool grouped() const { return group_.has_value(); }

  // Without groups, with two processors and more than one field, the
  // numeric fields are tallied on a second thread while this one reads.
  void StartTallier(GroupState& g) {
    if (fields_.size() < 2 || std::thread::hardware_concurrency() < 2) return;
    std::vector<FieldTally*> numbers;
    slot_.assign(fields_.size(), kNoSlot);
    for (std::size_t c = 0; c < fields_.size(); ++c)
      if (numeric_[c]) {
        slot_[c] = numbers.size();
        numbers.push_back(&g.group.fields[c]);
      }
    if (numbers.empty()) return;
    try {
      tallier_.emplace(std::move(numbers));
    } catch (const std::system_error&) {
      slot_.clear();  // no thread to be had: this one tallies them all
    }
  }

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
        for (std::size_t c = 0; c < fields_.size(); ++c) {
          FieldTally& f = g.group.fields[c];
          if (tallier_ && f.numeric) tallier_->AddMissing(slot_[c], true);
          else f.numeric ? f.numbers.AddMissing() : f.texts.AddMissing();
        }
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
      const bool elsewhere = tallier_ && f.numeric;
      if (v.IsNull()) {
        if (elsewhere) tallier_->AddMissing(slot_[c], false);
        else f.numeric ? f.numbers.AddMissing() : f.texts.AddMissing();
        continue;
      }
      if (!f.numeric) {
        f.texts.Add(v.kind() == qeldata::Value::Kind::kText ? std::string_view(v.text()) : std::string_view(v.AsText()),
                    weight);
        continue;
      }
      try {
        const Keyed x = NumberOf(v);
        if (elsewhere) tallier_->Add(slot_[c], x.value, x.key, weight);
        else f.numbers.AddKeyed(x.value, x.key, weight);
      } catch (const std::exception& e) {
        g.stopped[c] = 1;
        if (elsewhere) tallier_->Stop(slot_[c], StopReason(e, g.group.records));
        else f.failure = StopReason(e, g.group.records);
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
  static constexpr std::size_t kNoSlot = static_cast<std::size_t>(-1);
  detail::GroupKeys group_keys_;
  std::vector<std::size_t> slot_;  // a field's place in the tallier (numeric fields)
  std::optional<NumberTallier> tallier_;  // last: stopped before the groups go
};

// ---- the column-wise pass over a text file ----

// Every field of a text file tallied in one pass without the file's type
// scan: blocks of records are split into cells once, and each field's cells
// of a block are read and tallied as one work item, by whichever thread is
// free, a field's blocks one after another in file order. Each tally thus
// takes exactly the records, in exactly the order, of the one-thread pass
// over a Recordset, and its figures are the same bit for bit; only different
// fields are tallied at the same time.
//
// A field learns its type from its cells, as the type scan would: its first
// value decides between numbers and text. A field whose later cells belie
// that (a text in a column of numbers), or whose first value is a date, is
// left to a Recordset pass over those fields alone, which scans the file for
// their types.
class ColumnPass {
 public:
  ColumnPass(qeldata::ColumnScan& scan, const std::vector<std::size_t>& file_columns, DescribeGroup& group,
             const DescribeRequest& request, const detail::ColumnPassOptions& options)
      : scan_(scan), request_(request) {
    columns_.resize(file_columns.size());
    for (std::size_t i = 0; i < file_columns.size(); ++i) {
      columns_[i].file_column = file_columns[i];
      columns_[i].field = &group.fields[i];
    }
    // Blocks of about a million bytes of cells, so that a wide file does not
    // hold thousands of records per block.
    const std::size_t width = std::max<std::size_t>(scan.FieldNames().size(), 1);
    block_rows_ = options.block_rows ? options.block_rows : std::clamp<std::size_t>((std::size_t{1} << 16) / width, 16, 4096);
    unsigned threads = options.threads ? options.threads : std::min(std::thread::hardware_concurrency(), 4u);
    threads_ = std::clamp<std::size_t>(threads, 1, columns_.size() + 1);
    slots_.resize(std::max<std::size_t>(4 * threads_, 2));
    for (Slot& s : slots_) s.block = scan.NewBlock(block_rows_);
  }

  // Reads the file to its end, or until every field is left to a Recordset,
  // and returns the records read. Throws what the reading throws (a record
  // that cannot be read, say).
  std::int64_t Run() {
    std::vector<std::thread> helpers;
    try {
      for (std::size_t i = 1; i < threads_; ++i) helpers.emplace_back([this] { Work(false); });
    } catch (const std::system_error&) {
      // Fewer threads to be had: those there are do it all.
    }
    Work(true);
    for (std::thread& t : helpers) t.join();
    if (failure_) std::rethrow_exception(failure_);
    if (request_.on_records) request_.on_records(records_);
    qeldata::ReportReadShare(1.0);
    return records_;
  }

  // After Run: each field's type, and whether it was left to a Recordset.
  bool Left(std::size_t i) const { return columns_[i].mode == Column::kLeft; }
  void Settle() {
    for (Column& c : columns_) {
      FieldTally& f = *c.field;
      switch (c.mode) {
        case Column::kUnknown:  // no value at all: a column of numbers, as the type scan has it
          f.type = qeldata::adDouble;
          f.numeric = true;
          if (c.nulls > 0) f.numbers.AddMissing(static_cast<double>(c.nulls));
          break;
        case Column::kNumbers:
          f.type = c.int32 ? qeldata::adInteger : c.int64 ? qeldata::adBigInt : qeldata::adDouble;
          f.numeric = true;
          break;
        case Column::kTexts:
          f.type = qeldata::adVarWChar;
          f.numeric = false;
          break;
        case Column::kLeft:
          break;
      }
    }
  }

 private:
  struct Column {
    enum Mode { kUnknown, kNumbers, kTexts, kLeft };
    std::size_t file_column = 0;
    FieldTally* field = nullptr;
    Mode mode = kUnknown;
    bool stopped = false;      // a value stopped the field's tally; its cells still tell its type
    std::int64_t nulls = 0;    // nulls before the first value
    bool int32 = true, int64 = true;
    std::int64_t next = 0;     // the block it reads next
    bool busy = false;
    bool counted_left = false;  // in left_
    qeldata::NumberCells numbers;
    qeldata::TextCells texts;
    detail::RecentTexts recent;  // of the field's texts
  };
  struct Slot {
    std::unique_ptr<qeldata::ColumnScan::Block> block;
    std::int64_t base = 0;        // records before the block
    std::size_t remaining = 0;    // fields still to read it; 0: free
  };

  // The work loop of every thread: read the next block while a slot is
  // free, else tally a field's next block, else wait. The calling thread
  // also tells the progress display.
  void Work(bool calling) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (failure_) break;
      if (calling && records_ - reported_ >= kProgressEvery) {
        reported_ = records_;
        const std::int64_t records = records_;
        const double share = share_;
        lock.unlock();
        if (request_.on_records) request_.on_records(records);
        qeldata::ReportReadShare(share);
        lock.lock();
        continue;
      }
      // Once every field is left to a Recordset, the rest of the file is not
      // worth reading here.
      if (left_ == columns_.size()) ended_ = true;
      Slot& slot = slots_[static_cast<std::size_t>(read_) % slots_.size()];
      if (!reading_ && !ended_ && slot.remaining == 0) {
        reading_ = true;
        lock.unlock();
        std::size_t rows = 0;
        std::exception_ptr failure;
        try {
          rows = scan_.Read(*slot.block);
        } catch (...) {
          failure = std::current_exception();
        }
        lock.lock();
        reading_ = false;
        if (failure) {
          failure_ = failure;
        } else if (rows == 0) {
          ended_ = true;
        } else {
          slot.base = records_;
          slot.remaining = columns_.size();
          records_ += static_cast<std::int64_t>(rows);
          share_ = slot.block->share();
          for (std::size_t c = 0; c < columns_.size(); ++c)
            if (!columns_[c].busy && columns_[c].next == read_) ready_.push_back(c);
          ++read_;
        }
        changed_.notify_all();
        continue;
      }
      if (!ready_.empty()) {
        const std::size_t c = ready_.front();
        ready_.pop_front();
        Column& column = columns_[c];
        Slot& from = slots_[static_cast<std::size_t>(column.next) % slots_.size()];
        column.busy = true;
        ++busy_;
        lock.unlock();
        std::exception_ptr failure;
        try {
          ReadColumn(column, *from.block, from.base);
        } catch (...) {
          failure = std::current_exception();  // out of memory, say: the pass fails
        }
        lock.lock();
        column.busy = false;
        --busy_;
        ++column.next;
        if (column.mode == Column::kLeft && !column.counted_left) {
          column.counted_left = true;
          ++left_;
        }
        if (failure && !failure_) failure_ = failure;
        --from.remaining;
        if (column.next < read_) ready_.push_back(c);
        changed_.notify_all();
        continue;
      }
      if (ended_ && busy_ == 0) break;
      changed_.wait(lock);
    }
    changed_.notify_all();
  }

  // One field's cells of one block, tallied in record order.
  void ReadColumn(Column& c, const qeldata::ColumnScan::Block& block, std::int64_t base) {
    if (c.mode == Column::kLeft) return;
    if (c.mode == Column::kTexts) {
      scan_.Texts(block, c.file_column, c.texts);
      TallyTexts(c, 0);
      return;
    }
    FieldTally& f = *c.field;
    scan_.Numbers(block, c.file_column, c.numbers);
    const qeldata::NumberCells& cells = c.numbers;
    c.int32 = c.int32 && cells.int32;
    c.int64 = c.int64 && cells.int64;
    for (std::size_t r = 0; r < cells.read; ++r) {
      if (cells.kinds[r] == qeldata::NumberCells::kNull) {
        if (c.mode == Column::kUnknown) ++c.nulls;
        else if (!c.stopped) f.numbers.AddMissing();
        continue;
      }
      if (c.mode == Column::kUnknown) {
        c.mode = Column::kNumbers;
        if (c.nulls > 0) f.numbers.AddMissing(static_cast<double>(c.nulls));
        c.nulls = 0;
      }
      if (c.stopped) continue;
      try {
        const Keyed x = KeyedNumber(cells.values[r], cells.kinds[r] == qeldata::NumberCells::kCanonical);
        f.numbers.AddKeyed(x.value, x.key, 1.0);
      } catch (const std::exception& e) {
        f.failure = StopReason(e, base + static_cast<std::int64_t>(r) + 1);
        c.stopped = true;
      }
    }
    if (cells.read == block.rows()) return;
    // A cell that is no number: a field of numbers so far is text (or dates)
    // after all; a field without a value so far is text unless it is a date.
    if (c.mode == Column::kNumbers) {
      c.mode = Column::kLeft;
      return;
    }
    scan_.Texts(block, c.file_column, c.texts);
    if (qeldata::Date::Parse(c.texts.texts[cells.read])) {
      c.mode = Column::kLeft;
      return;
    }
    c.mode = Column::kTexts;
    if (c.nulls > 0) f.texts.AddMissing(static_cast<double>(c.nulls));
    c.nulls = 0;
    TallyTexts(c, cells.read);
  }

  void TallyTexts(Column& c, std::size_t from) {
    TextTally& texts = c.field->texts;
    const qeldata::TextCells& cells = c.texts;
    for (std::size_t r = from; r < cells.texts.size(); ++r) {
      if (cells.null[r]) texts.AddMissing();
      else texts.AddAt(c.recent.Position(texts, cells.texts[r]), 1.0, 0.0);
    }
  }

  qeldata::ColumnScan& scan_;
  const DescribeRequest& request_;
  std::vector<Column> columns_;
  std::vector<Slot> slots_;
  std::size_t block_rows_ = 0;
  std::size_t threads_ = 1;

  std::mutex mutex_;  // guards what follows, and each column's `next` and `busy`
  std::condition_variable changed_;
  std::deque<std::size_t> ready_;  // fields with a block read that they have not tallied, none of them busy
  std::int64_t read_ = 0;          // blocks read
  bool reading_ = false;
  bool ended_ = false;
  std::size_t busy_ = 0;
  std::size_t left_ = 0;           // fields left to a Recordset
  std::int64_t records_ = 0;
  std::int64_t reported_ = 0;
  double share_ = 0;
  std::exception_ptr failure_;
};

// Reads `rs` from its first record (see Reader for `columns`).
std::vector<DescribeGroup> TallyFromStart(qeldata::Recordset& rs, const DescribeRequest& request,
                                          const std::vector<std::size_t>* columns) {
  if (!(rs.IsBOF() && rs.IsEOF())) rs.MoveFirst();
  Reader reader(rs, request, columns);
  return reader.Read();
}

}  // namespace

bool IsDescribedAsNumber(int type) { return !qeldata::IsTextType(type) && !IsDateType(type) && !IsBinaryType(type); }

std::vector<DescribeGroup> Describe_Tally(qeldata::Recordset& rs, const DescribeRequest& request) {
  return TallyFromStart(rs, request, nullptr);
}

std::vector<DescribeGroup> Describe_Source(const std::string& source, const std::string& connection_string,
                                           const DescribeRequest& request) {
  return detail::DescribeSource(source, connection_string, request, {});
}

namespace detail {

namespace {

// `source` tallied through a Recordset: the fields of `request`, or, when
// given, the fields at `columns`, found by position: the fields the column
// pass settled on, whatever names they were asked for by.
std::vector<DescribeGroup> DescribeThroughRecordset(const std::string& source, const std::string& connection_string,
                                                    const DescribeRequest& request,
                                                    const std::vector<std::size_t>* columns = nullptr) {
  qeldata::Recordset rs;
  rs.SetCursorLocation(qeldata::adUseServer);
  rs.Open(source, connection_string, qeldata::adOpenForwardOnly, qeldata::adLockReadOnly, -1);
  return TallyFromStart(rs, request, columns);
}

}  // namespace

std::vector<DescribeGroup> DescribeSource(const std::string& source, const std::string& connection_string,
                                          const DescribeRequest& request, const ColumnPassOptions& options,
                                          ColumnPassReport* report) {
  if (report) *report = ColumnPassReport{};
  // Weights and groups tie the fields' tallies to other fields' cells: those
  // passes read through a Recordset.
  if (!text::IsBlank(request.weight_field) || !text::IsBlank(request.group_field))
    return DescribeThroughRecordset(source, connection_string, request);
  const std::unique_ptr<qeldata::ColumnScan> scan = qeldata::ColumnScan::Open(source, connection_string);
  if (!scan) return DescribeThroughRecordset(source, connection_string, request);

  // The fields asked for, found as a Recordset finds them. An unknown name,
  // or one asked for twice, reads through a Recordset, which reports it (or
  // tallies the field twice) as it always has.
  const std::vector<std::string>& names = scan->FieldNames();
  std::vector<std::size_t> columns;
  if (request.fields.empty()) {
    for (std::size_t i = 0; i < names.size(); ++i) columns.push_back(i);
  } else {
    for (const std::string& asked : request.fields) {
      const std::ptrdiff_t found =
          qeldata::text::FindName(names, text::Trim(asked), [](const std::string& n) -> std::string_view { return n; });
      const std::size_t column = static_cast<std::size_t>(found);
      if (found < 0 || std::find(columns.begin(), columns.end(), column) != columns.end())
        return DescribeThroughRecordset(source, connection_string, request);
      columns.push_back(column);
    }
  }

  std::vector<DescribeGroup> groups(1);
  DescribeGroup& group = groups[0];
  group.fields.resize(columns.size());
  for (std::size_t i = 0; i < columns.size(); ++i) group.fields[i].name = names[columns[i]];
  ColumnPass pass(*scan, columns, group, request, options);
  group.records = pass.Run();
  pass.Settle();
  if (report) report->column_pass = true;

  std::vector<std::size_t> left, left_columns;
  std::vector<std::string> left_names;
  for (std::size_t i = 0; i < columns.size(); ++i)
    if (pass.Left(i)) {
      left.push_back(i);
      left_columns.push_back(columns[i]);
      left_names.push_back(group.fields[i].name);
    }
  if (!left.empty()) {
    const DescribeRequest every;
    std::vector<DescribeGroup> reread = DescribeThroughRecordset(source, connection_string, every, &left_columns);
    for (std::size_t k = 0; k < left.size(); ++k) group.fields[left[k]] = std::move(reread[0].fields[k]);
    group.records = reread[0].records;  // the pass stops early when it leaves every field
    if (report) report->reread = std::move(left_names);
  }
  for (FieldTally& f : group.fields)
    if (f.numeric) f.numbers.Flush();
  return groups;
}

}  // namespace detail

NumberFinish Describe_FinishField(NumberTally& tally, std::span<const double> levels) {
  NumberFinish r;
  const double wgt_n = tally.Totals().WgtN;
  bool sorted = false;
  r.ran = detail::UnivariateFinishSorted(tally, r.record, &r.reason, [&](std::span<const NumberTally::Entry> entries) {
    sorted = true;
    if (!levels.empty()) r.percentiles = Percentiles(entries, wgt_n, levels);
  });
  // A finish that stopped before sorting left the values: sorted here.
  if (!sorted && !levels.empty()) r.percentiles = Percentiles(tally.TakeSorted(), wgt_n, levels);
  return r;
}

std::vector<std::vector<NumberFinish>> Describe_Finish(std::vector<DescribeGroup>& groups,
                                                       std::span<const double> levels) {
  std::vector<std::vector<NumberFinish>> out(groups.size());
  std::vector<std::pair<std::size_t, std::size_t>> work;  // (group, field)
  for (std::size_t g = 0; g < groups.size(); ++g) {
    out[g].resize(groups[g].fields.size());
    for (std::size_t i = 0; i < groups[g].fields.size(); ++i)
      if (groups[g].fields[i].numeric && groups[g].fields[i].failure.empty()) work.emplace_back(g, i);
  }
  // The longest finishes start first, so that they do not start last.
  std::stable_sort(work.begin(), work.end(), [&](const auto& a, const auto& b) {
    return groups[a.first].fields[a.second].numbers.Cardinality() >
           groups[b.first].fields[b.second].numbers.Cardinality();
  });
  std::atomic<std::size_t> next{0};
  std::mutex mutex;
  std::exception_ptr failure;
  auto finish = [&] {
    for (;;) {
      const std::size_t k = next.fetch_add(1);
      if (k >= work.size()) return;
      const auto [g, i] = work[k];
      try {
        out[g][i] = Describe_FinishField(groups[g].fields[i].numbers, levels);
      } catch (...) {
        std::lock_guard<std::mutex> lock(mutex);
        if (!failure) failure = std::current_exception();
      }
    }
  };
  std::vector<std::thread> helpers;
  const std::size_t threads = std::min<std::size_t>(std::max(std::thread::hardware_concurrency(), 1u), work.size());
  try {
    for (std::size_t t = 1; t < threads; ++t) helpers.emplace_back(finish);
  } catch (const std::system_error&) {
    // Fewer threads: those there are finish every field.
  }
  finish();
  for (std::thread& t : helpers) t.join();
  if (failure) std::rethrow_exception(failure);
  return out;
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
  std::optional<TextMode> best;
  for (std::uint32_t i = 0; i < texts.Cardinality(); ++i) {
    const TargetSums& p = texts.Of(i);
    const std::string_view text = texts.Text(i);
    if (!best || p.weight > best->payload.weight || (p.weight == best->payload.weight && text < best->text))
      best = TextMode{std::string(text), p};
  }
  return best;
}

}  // namespace qel
