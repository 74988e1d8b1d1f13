// The CSV tokenizer, number reading and type inference, below the recordset.
#include "csv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "qeldata/error.h"

namespace qeldata::detail {
namespace {

using namespace std::string_literals;

std::vector<std::vector<std::string>> Tokenize(std::string_view text) {
  CsvTokenizer tok(text, "t.csv");
  std::vector<std::vector<std::string>> records;
  std::vector<CellSpan> cells;
  std::string scratch;
  while (tok.Next(cells)) {
    records.emplace_back();
    for (const auto& c : cells) records.back().emplace_back(CellText(c, scratch));
  }
  return records;
}

std::string ErrorOf(std::string_view text) {
  try {
    InferCsvLayout(text, "t.csv");
  } catch (const Error& e) {
    return e.what();
  }
  return "(no error)";
}

using Records = std::vector<std::vector<std::string>>;

TEST(CsvTokenizer, QuotingFollowsRfc4180) {
  EXPECT_EQ(Tokenize("a,\"b,c\",\"say \"\"hi\"\"\"\n"), (Records{{"a", "b,c", "say \"hi\""}}));
  // Line breaks inside quotes stay in the value; the next record still splits.
  EXPECT_EQ(Tokenize("\"x\r\ny\",z\n1,2"), (Records{{"x\r\ny", "z"}, {"1", "2"}}));
  // A quote inside an unquoted field is kept as written.
  EXPECT_EQ(Tokenize("5'11\",b\n"), (Records{{"5'11\"", "b"}}));
  // Empty fields, including a trailing one, and an empty quoted field.
  EXPECT_EQ(Tokenize(",\"\",\n"), (Records{{"", "", ""}}));
}

// Random records written the RFC 4180 way (quoted when they hold a delimiter,
// a quote or a line break) read back cell for cell, whatever the line ends.
TEST(CsvTokenizer, RandomRecordsRoundTrip) {
  std::mt19937 rng(7);
  const std::vector<std::string> pieces = {"a", "Z", "0", "9", " ", ",", "\"", "\n", "\r", "\r\n",
                                           "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "xyzxyzxyz"};
  const char* const line_ends[] = {"\n", "\r\n", "\r"};
  for (int trial = 0; trial < 300; ++trial) {
    Records expected;
    std::string text;
    const int records = 1 + static_cast<int>(rng() % 20);
    for (int r = 0; r < records; ++r) {
      expected.emplace_back();
      const int fields = 2 + static_cast<int>(rng() % 6);
      for (int f = 0; f < fields; ++f) {
        std::string value;
        const int length = static_cast<int>(rng() % 12);
        for (int i = 0; i < length; ++i) value += pieces[rng() % pieces.size()];
        expected.back().push_back(value);
        const bool quote = value.find_first_of(",\"\r\n") != std::string::npos || rng() % 4 == 0;
        if (f) text += ',';
        if (quote) {
          text += '"';
          for (char c : value) text += c == '"' ? std::string("\"\"") : std::string(1, c);
          text += '"';
        } else {
          text += value;
        }
      }
      if (r + 1 < records || rng() % 2) text += line_ends[rng() % 3];
    }
    ASSERT_EQ(Tokenize(text), expected) << text;
  }
}

TEST(CsvTokenizer, LineEndsMayBeMixed) {
  EXPECT_EQ(Tokenize("a\r\nb\nc\rd"), (Records{{"a"}, {"b"}, {"c"}, {"d"}}));
}

TEST(CsvTokenizer, LineNumbersCountBreaksInsideQuotes) {
  CsvTokenizer tok("h\n\"a\nb\nc\"\nnext\n", "t.csv");
  std::vector<CellSpan> cells;
  ASSERT_TRUE(tok.Next(cells));
  ASSERT_TRUE(tok.Next(cells));
  EXPECT_EQ(tok.record_line(), 2);
  ASSERT_TRUE(tok.Next(cells));
  EXPECT_EQ(tok.record_line(), 5);
}

TEST(CsvNumber, ReadsDecimalNumbersOnly) {
  EXPECT_DOUBLE_EQ(ParseCsvNumber(" -2.5e3 ")->value, -2500);
  EXPECT_DOUBLE_EQ(ParseCsvNumber("+.5")->value, 0.5);
  EXPECT_DOUBLE_EQ(ParseCsvNumber("7.")->value, 7);
  for (const char* bad : {"", " ", "1,000", "inf", "nan", "0x1A", "1e", "--1", ".", "1.2.3", "12a", "1e999", "-",
                          "+.", "1e+", "1 2", "١٢"}) {
    EXPECT_FALSE(ParseCsvNumber(bad).has_value()) << bad;
    EXPECT_EQ(ShapeOfCell(bad), *bad && std::string_view(bad) != " " ? CsvCellShape::kText : CsvCellShape::kBlank)
        << bad;
  }
  EXPECT_EQ(ShapeOfCell(" -2147483648 "), CsvCellShape::kInt32);
  EXPECT_EQ(ShapeOfCell("2147483648"), CsvCellShape::kInt64);
  EXPECT_EQ(ShapeOfCell("-9223372036854775808"), CsvCellShape::kInt64);
  EXPECT_EQ(ShapeOfCell("9223372036854775808"), CsvCellShape::kReal);
  EXPECT_EQ(ShapeOfCell("00000000000000000000000042"), CsvCellShape::kInt32);
}

TEST(CsvNumber, IntegersKeepEveryDigit) {
  const auto big = ParseCsvNumber("9223372036854775807");
  ASSERT_TRUE(big && big->is_integer);
  EXPECT_EQ(big->integer, INT64_MAX);
  const auto low = ParseCsvNumber("-9223372036854775808");
  ASSERT_TRUE(low && low->is_integer);
  EXPECT_EQ(low->integer, INT64_MIN);
  const auto beyond = ParseCsvNumber("9223372036854775808");
  ASSERT_TRUE(beyond);
  EXPECT_FALSE(beyond->is_integer);
  EXPECT_DOUBLE_EQ(beyond->value, 9223372036854775808.0);
}

TEST(CsvNumber, CanonicalUpToFifteenSignificantDigits) {
  EXPECT_TRUE(ParseCsvNumber("0.1")->canonical);
  EXPECT_TRUE(ParseCsvNumber("123456789012345")->canonical);
  EXPECT_TRUE(ParseCsvNumber("0.000123456789012345")->canonical);  // leading zeros do not count
  EXPECT_TRUE(ParseCsvNumber("1234567890123450000")->canonical);   // nor trailing ones
  EXPECT_FALSE(ParseCsvNumber("1234567890123456")->canonical);
  EXPECT_FALSE(ParseCsvNumber("0.1234567890123456")->canonical);
  EXPECT_FALSE(ParseCsvNumber("-0")->canonical);    // -0 is not the key of 0
  EXPECT_FALSE(ParseCsvNumber("1e-310")->canonical);  // subnormal: digits lost
  // Every canonical number must equal its 15-digit canonical value.
  for (const char* t : {"0.1", "2.675", "1e22", "-33.3333333333333", "4.35", "1234567890123450000"}) {
    const auto n = ParseCsvNumber(t);
    ASSERT_TRUE(n && n->canonical) << t;
    EXPECT_EQ(n->value, Canonical15(n->value)) << t;
  }
}

// Values must be the correctly rounded doubles strtod gives, and the
// canonical flag must match the count of significant digits, for all shapes
// of token: leading and trailing zeros, fractions, exponents, long mantissas.
TEST(CsvNumber, AgreesWithStrtodOnRandomTokens) {
  std::mt19937_64 rng(20240131);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  for (int trial = 0; trial < 200000; ++trial) {
    std::string token;
    if (pick(4) == 0) token += pick(2) ? "-" : "+";
    const int int_digits = pick(22), frac_digits = pick(3) ? pick(20) : 0;
    for (int i = 0; i < int_digits; ++i) token += static_cast<char>('0' + (pick(3) ? pick(10) : 0));
    if (frac_digits || int_digits == 0) {
      token += '.';
      for (int i = 0; i < std::max(frac_digits, int_digits == 0 ? 1 : 0); ++i)
        token += static_cast<char>('0' + (pick(3) ? pick(10) : 0));
    }
    if (pick(4) == 0) token += "e" + std::to_string(pick(60) - 30);
    const auto n = ParseCsvNumber(token);
    ASSERT_TRUE(n.has_value()) << token;
    const double expected = std::strtod(token.c_str(), nullptr);
    ASSERT_EQ(n->value, expected) << token;
    // Reference count of significant digits from the text.
    std::string digits;
    for (char c : token.substr(0, token.find('e')))
      if (c >= '0' && c <= '9') digits += c;
    const auto first = digits.find_first_not_of('0');
    const std::size_t significant =
        first == std::string::npos ? 0 : digits.find_last_not_of('0') - first + 1;
    const bool expect_canonical =
        significant <= 15 && (expected == 0 ? !std::signbit(expected) : std::isnormal(expected));
    ASSERT_EQ(n->canonical, expect_canonical) << token;
    // The inference scan's shortcut agrees with the full reading.
    const CsvCellShape shape = ShapeOfCell(token);
    if (!n->is_integer) ASSERT_EQ(shape, CsvCellShape::kReal) << token;
    else if (n->integer >= INT32_MIN && n->integer <= INT32_MAX) ASSERT_EQ(shape, CsvCellShape::kInt32) << token;
    else ASSERT_EQ(shape, CsvCellShape::kInt64) << token;
    if (n->canonical) {
      ASSERT_EQ(n->value, Canonical15(n->value)) << token;
    }
  }
}

TEST(CsvLayout, InfersTypesOverTheWholeFile) {
  const std::string text =
      "int,big,dbl,date,text,empty,late\n"
      "1,1,1,2024-01-31,a,,1\n"
      "-2147483648,9000000000,2.5,2024-02-01 10:30,b,,2\n"
      ",,,,, ,3\n"
      "2147483647,3,1e3,2024-02-01T10:30:15,12,,x\n";
  const CsvLayout layout = InferCsvLayout(text, "t.csv");
  ASSERT_EQ(layout.fields.size(), 7u);
  EXPECT_EQ(layout.fields[0].type, adInteger);
  EXPECT_EQ(layout.fields[1].type, adBigInt);
  EXPECT_EQ(layout.fields[2].type, adDouble);
  EXPECT_EQ(layout.fields[3].type, adDate);
  EXPECT_EQ(layout.fields[4].type, adVarWChar);   // "12" among texts stays text
  EXPECT_EQ(layout.fields[5].type, adDouble);     // no value at all: every value it has is a number
  EXPECT_EQ(layout.fields[6].type, adVarWChar);   // a text in the last row decides
  EXPECT_EQ(layout.data_line, 2);
}

TEST(CsvLayout, IntegerOutside32BitsIsBigInt) {
  EXPECT_EQ(InferCsvLayout("n\n2147483648\n", "t.csv").fields[0].type, adBigInt);
  EXPECT_EQ(InferCsvLayout("n\n-2147483649\n", "t.csv").fields[0].type, adBigInt);
  EXPECT_EQ(InferCsvLayout("n\n99999999999999999999\n", "t.csv").fields[0].type, adDouble);
  // Dates and numbers mixed are text.
  EXPECT_EQ(InferCsvLayout("n\n2024-01-01\n5\n", "t.csv").fields[0].type, adVarWChar);
}

TEST(CsvLayout, HeaderNamesAreKeptAsWritten) {
  const CsvLayout layout = InferCsvLayout("\xEF\xBB\xBF Salary ,\"Home, Team\",\r\n1,2,3\r\n", "t.csv");
  ASSERT_EQ(layout.fields.size(), 3u);
  EXPECT_EQ(layout.fields[0].name, " Salary ");
  EXPECT_EQ(layout.fields[1].name, "Home, Team");
  EXPECT_EQ(layout.fields[2].name, "F3");  // a column without a heading
}

TEST(CsvLayout, BadInputNamesFileLineAndField) {
  EXPECT_EQ(ErrorOf(""), "t.csv is empty: there is no header row of field names");
  EXPECT_EQ(ErrorOf("\xEF\xBB\xBF\r\n"), "t.csv is empty: there is no header row of field names");
  EXPECT_EQ(ErrorOf("a,b\n1,2\n3\n"), "t.csv line 3: 1 field, the header has 2");
  EXPECT_EQ(ErrorOf("a,b\n1,2,3\n"), "t.csv line 2: 3 fields, the header has 2");
  EXPECT_EQ(ErrorOf("a,b\n1,\"open\n2,3\n"), "t.csv line 2: unterminated quoted field in field 2 (b)");
  EXPECT_EQ(ErrorOf("a,b\n\"x\"y,2\n"), "t.csv line 2: unexpected text after the closing quote of field 1 (a)");
  EXPECT_EQ(ErrorOf("a,B,A\n"), "t.csv line 1: duplicate field name 'A' (fields 1 and 3)");
  EXPECT_EQ(ErrorOf("a\n1\n2\x00\n"s), "t.csv line 3: NUL byte in field 1 (a); this is not a text file");
  EXPECT_EQ(ErrorOf("a\nCaf\xE9\n"),
            "t.csv line 2: invalid UTF-8 (byte 0xE9) in field 1 (a); the file must be saved as UTF-8");
  EXPECT_EQ(ErrorOf("a\n\xED\xA0\x80\n"),  // an encoded UTF-16 surrogate
            "t.csv line 2: invalid UTF-8 (byte 0xED) in field 1 (a); the file must be saved as UTF-8");
  EXPECT_EQ(ErrorOf("\xFF\xFE" "a\0"s), "t.csv is a UTF-16 file; only UTF-8 text files can be read");
}

TEST(CsvLayout, WideHeaderChecksNamesInLinearTime) {
  // 100,000 headings: comparing each with every earlier one took minutes.
  constexpr int kFields = 100'000;
  std::string header;
  for (int i = 0; i < kFields; ++i) header += (i ? ",Col" : "Col") + std::to_string(i);
  const std::clock_t start = std::clock();
  const CsvLayout layout = InferCsvLayout(header + "\n" + std::string(kFields - 1, ',') + "\n", "t.csv");
  EXPECT_EQ(layout.fields.size(), static_cast<std::size_t>(kFields));
  EXPECT_EQ(ErrorOf(header + ",COL77777\n"), "t.csv line 1: duplicate field name 'COL77777' (fields 77778 and 100001)");
  // Processor time, not wall time: a busy machine does not fail the test.
  EXPECT_LT(static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC, 20.0);
}

TEST(CsvLayout, DuplicateNamesFoldOnlyAsciiLetters) {
  EXPECT_EQ(ErrorOf("Id,iD\n"), "t.csv line 1: duplicate field name 'iD' (fields 1 and 2)");
  // Ã and Ã© (E and e with an acute accent) are two names.
  EXPECT_EQ(InferCsvLayout("\xC3\x89t\xC3\xA9,\xC3\xA9t\xC3\xA9\n1,2\n", "t.csv").fields.size(), 2u);
}

TEST(CsvLayout, ValidUtf8AndBlankLines) {
  // Multi-byte text passes; blank lines between records of several fields carry nothing.
  const CsvLayout layout = InferCsvLayout("name,n\n\nZo\xC3\xAB,1\n\n\xF0\x9F\x98\x80,2\n\n", "t.csv");
  EXPECT_EQ(layout.fields[1].type, adInteger);
}

}  // namespace
}  // namespace qeldata::detail
