// A text file read column by column in one pass, without the scan of the
// whole file that opening it as a Recordset makes first to learn the column
// types.
//
// Each block of records is split into cells once; each column of the block is
// then read on its own, as numbers or as texts, by whichever thread asks, so
// that a reader of every column (describe) can give different columns to
// different threads, each taking its column's cells in record order. The
// reader learns a column's type on the way: Numbers() says where the first
// cell that is no number lies.
//
//   auto scan = qeldata::ColumnScan::Open("[sales.csv]", "Text;DBQ=/data");
//   if (!scan) ...;  // not a text file: read it through a Recordset
//   auto block = scan->NewBlock(4096);
//   qeldata::NumberCells cells;
//   while (scan->Read(*block) > 0) {
//     scan->Numbers(*block, 1, cells);
//     ...
//   }
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qeldata {

// The cells of one column of a block read as numbers, as a Recordset reads
// them in a numeric column: blank cells and the null tokens are null; every
// other cell reads as a number or is no number.
struct NumberCells {
  enum Kind : std::uint8_t {
    kNull,
    kCanonical,  // a number of at most 15 significant digits: its own 15-digit form
    kNumber,     // any other number
  };
  std::vector<Kind> kinds;     // one per row read
  std::vector<double> values;  // one per row read (0 for a null)
  // The rows read: all of the block's, or those before the first cell that is
  // no number, which is not read.
  std::size_t read = 0;
  // Whether every number read is a whole number in the range of 32 (64) bits,
  // written without a fraction or an exponent: the column types of a Recordset.
  bool int32 = true;
  bool int64 = true;
};

// The cells of one column of a block read as texts, as a Recordset reads
// them in a text column: blank cells and the null tokens are null; others are
// their text, quotes undone.
struct TextCells {
  std::vector<std::string_view> texts;  // one per row; points into the file or into `unescaped`
  std::vector<std::uint8_t> null;       // one per row
  std::deque<std::string> unescaped;    // quoted cells with doubled quotes, made single
};

class ColumnScan {
 public:
  // Opens `source` of a text connection for a column-wise pass: a whole
  // file ("[sales.csv]" or a bare file name), read with the connection's
  // reading options, of which only those for numbers written with a '.'
  // and without group separators. Returns nullptr for any other source (SQL
  // text, another provider, numbers written with a decimal comma): read it
  // through a Recordset. Throws Error as Recordset::Open does for a file it
  // cannot open or whose header it cannot read.
  static std::unique_ptr<ColumnScan> Open(std::string_view source, std::string_view connection_string);

  virtual ~ColumnScan() = default;

  // The fields in file order, as a Recordset of the file names them.
  virtual const std::vector<std::string>& FieldNames() const = 0;
  // How errors name the source ("BaseBall.csv").
  virtual const std::string& DisplayName() const = 0;

  // Records read together, as spans into the file.
  class Block {
   public:
    virtual ~Block() = default;
    std::size_t rows() const { return rows_; }
    // The share (0 to 1) of the file in the records read up to this block's
    // last, for a progress display.
    double share() const { return share_; }

   protected:
    std::size_t rows_ = 0;
    double share_ = 0;
  };
  // A block of up to `rows` records.
  virtual std::unique_ptr<Block> NewBlock(std::size_t rows) const = 0;

  // Reads the next records into `block` and returns how many; 0 at the end.
  // Checks every record as a Recordset does (quotes, field count, UTF-8) and
  // throws Error naming the file and the line. Calls must not overlap.
  virtual std::size_t Read(Block& block) = 0;

  // Column `column` of `block`. Calls for different columns may run at the
  // same time on different threads, while no Read fills that block.
  virtual void Numbers(const Block& block, std::size_t column, NumberCells& out) const = 0;
  virtual void Texts(const Block& block, std::size_t column, TextCells& out) const = 0;
};

}  // namespace qeldata
