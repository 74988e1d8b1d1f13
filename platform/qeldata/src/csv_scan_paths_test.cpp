// The fast ways through a CSV file read it exactly as the plain ways do: the
// type scan of a large file in two halves against one scan, and a streamed
// recordset (columns converted when first read) against a fully fetched one.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>

#include "csv.h"
#include "qeldata/recordset.h"

namespace qeldata::detail {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kHalf = std::size_t{9} << 20;  // each half of a file scanned in halves

// Rows of `row` until the text grows by at least `bytes`.
void Repeat(std::string& text, const std::string& row, std::size_t bytes) {
  const std::size_t until = text.size() + bytes;
  while (text.size() < until) text += row;
}

std::string LayoutError(const std::string& bytes) {
  try {
    InferCsvLayout(bytes, "big.csv");
  } catch (const Error& e) {
    return e.description();
  }
  return "no error";
}

std::int64_t LinesIn(const std::string& text) { return static_cast<std::int64_t>(std::count(text.begin(), text.end(), '\n')); }

TEST(CsvScanInHalves, ColumnGuessesOfBothHalvesCombine) {
  std::string text = "a,b,c,d,e\n";
  Repeat(text, "1,2,x,2020-01-01,\n", kHalf);
  // Second half: a 64-bit integer, a decimal, a text in a date column, and
  // the first value of a column that was blank so far.
  Repeat(text, "2,3,y,2020-01-02,5\n", kHalf);
  text += "3000000000,2.5,z,4,6\n";
  const CsvLayout layout = InferCsvLayout(text, "big.csv");
  ASSERT_EQ(layout.fields.size(), 5u);
  EXPECT_EQ(layout.fields[0].type, adBigInt);
  EXPECT_EQ(layout.fields[1].type, adDouble);
  EXPECT_EQ(layout.fields[2].type, adVarWChar);
  EXPECT_EQ(layout.fields[3].type, adVarWChar);
  EXPECT_EQ(layout.fields[4].type, adInteger);

  // The same values in the first half only give the same types.
  std::string first = "a,b,c,d,e\n3000000000,2.5,z,4,6\n";
  Repeat(first, "1,2,x,2020-01-01,\n", 2 * kHalf);
  const CsvLayout one = InferCsvLayout(first, "big.csv");
  for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(one.fields[i].type, layout.fields[i].type) << i;
}

TEST(CsvScanInHalves, MiddleInsideAQuotedCellReadsAsOneScan) {
  // A quoted cell of many lines covers the middle of the file, so the second
  // half's guessed start lies inside it: the cell's lines look like records
  // of one field, and a bare number there must not make column a numeric.
  std::string text = "a,b\n";
  Repeat(text, "1,2\n", kHalf - kHalf / 4);
  text += "\"";
  Repeat(text, "7\n", kHalf / 2);
  text += "\",3\n";
  Repeat(text, "4,5\n", kHalf - kHalf / 4);
  const CsvLayout layout = InferCsvLayout(text, "big.csv");
  EXPECT_EQ(layout.fields[0].type, adVarWChar);
  EXPECT_EQ(layout.fields[1].type, adInteger);
}

TEST(CsvScanInHalves, ProblemsNameTheirLineAsOneScanWould) {
  std::string head = "a,b\n";
  Repeat(head, "1,2\n", kHalf + 1000);
  // A ragged record in the second half: its line is counted from the top.
  std::string text = head + "1,2,3\n";
  Repeat(text, "1,2\n", kHalf);
  EXPECT_EQ(LayoutError(text), "big.csv line " + std::to_string(LinesIn(head) + 1) + ": 3 fields, the header has 2");

  // With a problem in each half, the first one is reported.
  std::string early = "a,b\n";
  Repeat(early, "1,2\n", 1000);
  std::string both = early + "\"open,2\n";
  both += text.substr(both.size());
  EXPECT_EQ(LayoutError(both).find("big.csv line " + std::to_string(LinesIn(early) + 1) + ": "), 0u)
      << LayoutError(both);
}

// ---- a streamed recordset against a fully fetched one ----

class CsvReadPathsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) / ("csv_read_paths_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  void Write(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
  }
  std::unique_ptr<Recordset> Open(const std::string& name, bool streaming) {
    auto rs = std::make_unique<Recordset>();
    rs->SetCursorLocation(streaming ? adUseServer : adUseClient);
    rs->Open(name, "Text;DBQ=" + dir_.string(), streaming ? adOpenForwardOnly : adOpenStatic, adLockReadOnly, -1);
    return rs;
  }

  fs::path dir_;
};

void ExpectSameValue(const Value& a, const Value& b, const std::string& where) {
  ASSERT_EQ(a.kind(), b.kind()) << where;
  EXPECT_EQ(a.IsCanonicalNumber(), b.IsCanonicalNumber()) << where;
  if (a.IsNumber()) {
    EXPECT_EQ(std::signbit(a.number()), std::signbit(b.number())) << where;
    EXPECT_EQ(a.number(), b.number()) << where;
  } else {
    EXPECT_TRUE(a == b) << where;
  }
}

class CsvReadPathsBySize : public CsvReadPathsTest, public ::testing::WithParamInterface<std::size_t> {};

// Without and with padding: a large file's blocks are read ahead on a second
// thread, which converts the columns read so far on its own.
INSTANTIATE_TEST_SUITE_P(SmallAndLarge, CsvReadPathsBySize, ::testing::Values(std::size_t{0}, std::size_t{1200}));

TEST_P(CsvReadPathsBySize, StreamedColumnsReadAsFetchedOnes) {
  // Plain and quoted cells, CRLF and LF, blanks, -0, long digits, dates and
  // texts; more rows than one streamed block, so blocks are refilled.
  const std::string pad(GetParam(), 'p');
  std::string text = "n,x,t,d\r\n";
  for (int i = 0; i < 9000; ++i) {
    const std::string x = i % 7 == 0 ? "" : i % 11 == 0 ? "-0" : i % 13 == 0 ? "0.1234567890123456789" : std::to_string(i * 0.25);
    // (Texts are built by append: GCC 12 warns, -Wrestrict, about "w" + string.)
    const std::string t = i % 5 == 0 ? "\"a, \"\"quoted\"\"\ntext\"" : i % 3 == 0 ? " " : std::string("w").append(std::to_string(i % 50));
    const std::string d =
        i % 9 == 0 ? "" : std::string("2024-02-").append(std::to_string(10 + i % 19)).append(i % 2 ? " 12:30:00" : "");
    text += std::to_string(i) + pad + "," + x + "," + t + "," + d + (i % 4 ? "\n" : "\r\n");
  }
  Write("mixed.csv", text);
  auto fetched = Open("mixed.csv", false);
  auto streamed = Open("mixed.csv", true);
  // The streamed reader looks at the columns in a changing order and skips
  // some on some records: every value it sees is the fetched one.
  std::int64_t row = 0;
  for (; !fetched->IsEOF(); fetched->MoveNext(), streamed->MoveNext(), ++row) {
    ASSERT_FALSE(streamed->IsEOF());
    for (int k = 0; k < 4; ++k) {
      const int c = static_cast<int>((row + k) % 4);
      // Column t only from the second block on, and only on some records.
      if ((row + c) % 3 == 0 || (c == 2 && row < 5000)) continue;
      ExpectSameValue(streamed->GetFields().Item(c).GetValue(), fetched->GetFields().Item(c).GetValue(),
                      "row " + std::to_string(row) + " column " + std::to_string(c));
    }
  }
  EXPECT_TRUE(streamed->IsEOF());
  EXPECT_EQ(row, 9000);

  // Read again from the top: the first values are converted afresh.
  streamed->MoveFirst();
  fetched->MoveFirst();
  for (int c = 3; c >= 0; --c)
    ExpectSameValue(streamed->GetFields().Item(c).GetValue(), fetched->GetFields().Item(c).GetValue(), "again");
}

}  // namespace
}  // namespace qeldata::detail
