// The fast ways through a CSV file read it exactly as the plain ways do: the
// type scan of a large file in two halves against one scan, and a streamed
// recordset (columns converted when first read) against a fully fetched one.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

#include "csv.h"
#include "qeldata/recordset.h"
#include "qeltesting/temp_folder.h"

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

  void Write(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
  }
  std::unique_ptr<Recordset> Open(const std::string& name, bool streaming) {
    auto rs = std::make_unique<Recordset>();
    rs->SetCursorLocation(streaming ? adUseServer : adUseClient);
    rs->Open(name, "Text;DBQ=" + dir_.string(), streaming ? adOpenForwardOnly : adOpenStatic, adLockReadOnly, -1);
    return rs;
  }

  qel::testing::TempFolder temp_{"csv_read_paths"};
  const fs::path& dir_ = temp_.path();
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

TEST_F(CsvReadPathsTest, ShortNumbersReadAsTheGeneralReadingReadsThem) {
  // Streamed numbers of up to sixteen bytes take a shorter way (sixteen bytes
  // classified at once, eight digits converted at once) than fetched ones:
  // every shape of plain number near its limits (8 and 9 digits on either
  // side of the point, 15 and 16 digits in all, leading zeros, -0, a bare
  // point at either end) reads to the same double, canonical flag and type.
  std::mt19937_64 random(20261207);
  std::vector<std::string> tokens = {"0",         "-0",         "0.000",          "-0.0",          ".5",
                                     "5.",        "-.25",       "007",            "999999999",     "-999999999",
                                     "1000000000", "123456789012345", "1234567890123456", "0.000000000000001",
                                     "12345678.1234567", "1.23456789012345", "99999999.99999999", "-00000000000001.5"};
  for (int i = 0; i < 20000; ++i) {
    std::string t = random() % 4 == 0 ? "-" : "";
    const int integer_digits = static_cast<int>(random() % 12);
    const int fraction_digits = static_cast<int>(random() % 10);
    for (int d = 0; d < integer_digits; ++d) t.push_back(static_cast<char>('0' + random() % (d == 0 ? 3 : 10)));
    if (random() % 3 != 0) {
      t.push_back('.');
      for (int d = 0; d < fraction_digits; ++d) t.push_back(static_cast<char>('0' + random() % 10));
    }
    if (t.find_first_of("0123456789") == std::string::npos) t += "1";
    tokens.push_back(t);
  }
  std::string text = "id,x\n";
  for (std::size_t i = 0; i < tokens.size(); ++i) text += std::to_string(i) + "," + tokens[i] + "\n";
  Write("numbers.csv", text);
  auto fetched = Open("numbers.csv", false);
  auto streamed = Open("numbers.csv", true);
  EXPECT_EQ(streamed->GetFields().Item(1).Type(), adDouble);
  for (std::size_t i = 0; i < tokens.size(); ++i, fetched->MoveNext(), streamed->MoveNext()) {
    ASSERT_FALSE(streamed->IsEOF());
    const Value& v = streamed->GetFields().Item(1).GetValue();
    ExpectSameValue(v, fetched->GetFields().Item(1).GetValue(), tokens[i]);
    const auto general = ParseCsvNumber(tokens[i]);
    ASSERT_TRUE(general.has_value()) << tokens[i];
    EXPECT_EQ(v.number(), std::strtod(tokens[i].c_str(), nullptr)) << tokens[i];
    EXPECT_EQ(v.IsCanonicalNumber(), general->canonical) << tokens[i];
  }
  EXPECT_TRUE(streamed->IsEOF());
}

TEST(CsvShortCells, TypesAtTheLimitsOfTheShortClassification) {
  // Cells the scan classifies by one sixteen-byte look, and their neighbours
  // that it leaves to the full classification: the same column types.
  const auto type_of = [](const std::string& cells) {
    std::string text = "x,pad\n";
    for (std::size_t at = 0, next; at < cells.size(); at = next + 1) {
      next = cells.find(' ', at);
      if (next == std::string::npos) next = cells.size();
      text += cells.substr(at, next - at) + ",padding-to-keep-sixteen-bytes-readable\n";
    }
    return InferCsvLayout(text, "t.csv").fields[0].type;
  };
  EXPECT_EQ(type_of("1 999999999 -999999999"), adInteger);
  EXPECT_EQ(type_of("1 2147483647 -2147483648"), adInteger);
  EXPECT_EQ(type_of("1 2147483648"), adBigInt);
  EXPECT_EQ(type_of("1 1234567890123456"), adBigInt);
  EXPECT_EQ(type_of("1 12345678901234567890"), adDouble);
  EXPECT_EQ(type_of("1 5."), adDouble);
  EXPECT_EQ(type_of("1 .5"), adDouble);
  EXPECT_EQ(type_of("1 1234567.123456789"), adDouble);
  EXPECT_EQ(type_of("1 ."), adVarWChar);
  EXPECT_EQ(type_of("1 -"), adVarWChar);
  EXPECT_EQ(type_of("1 1.2.3"), adVarWChar);
  EXPECT_EQ(type_of("1 --1"), adVarWChar);
  EXPECT_EQ(type_of("1 1e5"), adDouble);
  EXPECT_EQ(type_of("2024-01-01 2024-01-02"), adDate);
  EXPECT_EQ(type_of("2024-01-01 5"), adVarWChar);
}

}  // namespace
}  // namespace qeldata::detail
