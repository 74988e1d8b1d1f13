// The column-wise pass of describe over a text file gives exactly what
// Describe_Tally gives over a forward-only Recordset of the same file: every
// field's name, type, tallies (totals, distinct values and payloads, bit for
// bit), its failure and the record it names, and the group's record count,
// whatever the number of threads and the records per block. Small blocks put
// the places where a field learns or changes its type inside blocks and on
// their edges; several threads tally different fields at once.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "describe_columns.h"
#include "qelStatsLib/describe.h"
#include "qelStatsLib/modUnivariate.h"
#include "qeldata/error.h"
#include "qeldata/recordset.h"
#include "qeltesting/temp_folder.h"

namespace qel {
namespace {

namespace fs = std::filesystem;

std::uint64_t Bits(double x) { return std::bit_cast<std::uint64_t>(x); }

void ExpectSameTotals(const TallyTotals& a, const TallyTotals& b, const std::string& what) {
  EXPECT_EQ(Bits(a.N), Bits(b.N)) << what << ": N " << a.N << " vs " << b.N;
  EXPECT_EQ(Bits(a.WgtN), Bits(b.WgtN)) << what << ": WgtN";
  EXPECT_EQ(Bits(a.Missing), Bits(b.Missing)) << what << ": Missing " << a.Missing << " vs " << b.Missing;
  EXPECT_EQ(Bits(a.Sum), Bits(b.Sum)) << what << ": Sum " << a.Sum << " vs " << b.Sum;
  EXPECT_EQ(Bits(a.SumWgt), Bits(b.SumWgt)) << what << ": SumWgt";
}

// Every figure of two univariate records, compared bit for bit.
void ExpectSameBits(const UnivariateRecord& a, const UnivariateRecord& b, const std::string& what) {
  const double* x = &a.N;
  const double* y = &b.N;
  for (std::size_t i = 0; i < sizeof(UnivariateRecord) / sizeof(double); ++i)
    EXPECT_EQ(Bits(x[i]), Bits(y[i])) << what << ": figure " << i << ": " << x[i] << " vs " << y[i];
}

// `got` against `want`, field by field; the tallies are compared on copies.
void ExpectSameGroups(const std::vector<DescribeGroup>& want, const std::vector<DescribeGroup>& got,
                      const std::string& what) {
  ASSERT_EQ(want.size(), 1u) << what;
  ASSERT_EQ(got.size(), 1u) << what;
  EXPECT_TRUE(got[0].key.IsNull()) << what;
  EXPECT_EQ(want[0].records, got[0].records) << what;
  ASSERT_EQ(want[0].fields.size(), got[0].fields.size()) << what;
  for (std::size_t i = 0; i < want[0].fields.size(); ++i) {
    const FieldTally& a = want[0].fields[i];
    const FieldTally& b = got[0].fields[i];
    const std::string field = what + ", field '" + a.name + "'";
    EXPECT_EQ(a.name, b.name) << field;
    EXPECT_EQ(a.type, b.type) << field;
    EXPECT_EQ(a.numeric, b.numeric) << field;
    EXPECT_EQ(a.failure, b.failure) << field;

    ExpectSameTotals(a.texts.Totals(), b.texts.Totals(), field + " (texts)");
    ASSERT_EQ(a.texts.Cardinality(), b.texts.Cardinality()) << field;
    for (std::uint32_t t = 0; t < a.texts.Cardinality(); ++t) {
      ASSERT_EQ(a.texts.Text(t), b.texts.Text(t)) << field << ": text " << t;
      EXPECT_EQ(Bits(a.texts.Of(t).count), Bits(b.texts.Of(t).count)) << field << ": " << a.texts.Text(t);
      EXPECT_EQ(Bits(a.texts.Of(t).weight), Bits(b.texts.Of(t).weight)) << field << ": " << a.texts.Text(t);
      EXPECT_EQ(Bits(a.texts.Of(t).target_sum), Bits(b.texts.Of(t).target_sum)) << field;
    }

    ExpectSameTotals(a.numbers.Totals(), b.numbers.Totals(), field + " (numbers)");
    NumberTally x = a.numbers, y = b.numbers;
    const std::vector<NumberTally::Entry> p = x.TakeSorted(), q = y.TakeSorted();
    ASSERT_EQ(p.size(), q.size()) << field;
    for (std::size_t k = 0; k < p.size(); ++k) {
      ASSERT_EQ(Bits(p[k].value), Bits(q[k].value)) << field << ": entry " << k << ": " << p[k].value << " vs "
                                                    << q[k].value;
      EXPECT_EQ(Bits(p[k].payload.count), Bits(q[k].payload.count)) << field << ": " << p[k].value;
      EXPECT_EQ(Bits(p[k].payload.weight), Bits(q[k].payload.weight)) << field << ": " << p[k].value;
    }
    NumberTally u = a.numbers, v = b.numbers;
    UnivariateRecord r, s;
    std::string why, why_not;
    EXPECT_EQ(Univariate_Finish(u, r, &why), Univariate_Finish(v, s, &why_not)) << field;
    EXPECT_EQ(why, why_not) << field;
    ExpectSameBits(r, s, field);
  }
}

std::vector<DescribeGroup> ThroughRecordset(const std::string& source, const std::string& connection,
                                            const DescribeRequest& request) {
  qeldata::Recordset rs;
  rs.SetCursorLocation(qeldata::adUseServer);
  rs.Open(source, connection, qeldata::adOpenForwardOnly, qeldata::adLockReadOnly, -1);
  return Describe_Tally(rs, request);
}

// The error `run` throws: a qeldata::Error's description, or a note that it
// threw something else or nothing.
template <class Run>
std::string ErrorOf(Run&& run) {
  try {
    run();
  } catch (const qeldata::Error& e) {
    return e.description();
  } catch (const std::exception& e) {
    return std::string("not a qeldata::Error: ") + e.what();
  }
  return "no error";
}

class DescribeColumns : public ::testing::Test {
 protected:

  // Writes `text` as `name` in the folder and returns the source naming it.
  std::string Write(const std::string& name, const std::string& text) {
    std::ofstream(folder_ / name, std::ios::binary) << text;
    return "[" + name + "]";
  }
  std::string Connection(const std::string& more = "") const { return "Text;DBQ=" + folder_.string() + more; }

  // Describes `source` through a Recordset, then column by column with one to
  // three threads and one, two, seven and the default number of records per
  // block, and expects every pass to match the first and to re-read exactly
  // the fields `reread`. Returns the Recordset's result.
  std::vector<DescribeGroup> ExpectSameEveryWay(const std::string& source, const std::string& connection,
                                                const DescribeRequest& request,
                                                const std::vector<std::string>& reread = {},
                                                const std::vector<std::size_t>& block_rows = {1, 2, 7, 0}) {
    const std::vector<DescribeGroup> want = ThroughRecordset(source, connection, request);
    for (unsigned threads : {1u, 2u, 3u})
      for (std::size_t rows : block_rows) {
        const std::string what = source + " with " + std::to_string(threads) + " thread(s), " +
                                 std::to_string(rows) + " records a block";
        detail::ColumnPassReport report;
        const std::vector<DescribeGroup> got =
            detail::DescribeSource(source, connection, request, {threads, rows}, &report);
        EXPECT_TRUE(report.column_pass) << what;
        EXPECT_EQ(report.reread, reread) << what;
        ExpectSameGroups(want, got, what);
        if (::testing::Test::HasFailure()) return want;  // one way's faults are enough to read
      }
    return want;
  }

  qel::testing::TempFolder temp_{"describe_columns"};
  const fs::path& folder_ = temp_.path();
};

const FieldTally& FieldOf(const std::vector<DescribeGroup>& groups, const std::string& name) {
  for (const FieldTally& f : groups.at(0).fields)
    if (f.name == name) return f;
  throw std::runtime_error("no field " + name);
}

// A field's type follows from its first value, wherever in the file and in
// its block that comes: numbers after blanks, texts after blanks (numbers
// among them later), no value at all (numbers with only Missing). A field of
// numbers that meets a text far down, and a field of dates, are read again
// through a Recordset.
TEST_F(DescribeColumns, EachFieldTakesTheTypeOfItsFirstValue) {
  std::string csv = "late_number,late_text,blank,text_far_down,when,not_a_date,mixed\n";
  for (int i = 1; i <= 60; ++i) {
    const std::string late_number = i < 12 ? "" : i % 5 == 0 ? " " : std::to_string(i * 3 - 50) + ".25";
    const std::string late_text = i < 9 ? "" : i % 4 == 0 ? std::to_string(i) : "t" + std::to_string(i % 6);
    const std::string text_far_down = i == 57 ? "oops" : i % 9 == 0 ? "" : std::to_string(i % 13);
    const std::string when = i % 7 == 0 ? "" : "2024-03-" + std::to_string(10 + i % 18);
    const std::string not_a_date = i == 3 ? "hello" : i < 3 ? "" : "2024-01-0" + std::to_string(1 + i % 9);
    const std::string mixed = i % 3 == 0 ? "x" + std::to_string(i % 4) : std::to_string(i % 4);
    csv += late_number + "," + late_text + ",," + text_far_down + "," + when + "," + not_a_date + "," +
           (i == 1 ? "" : mixed) + "\n";
  }
  const std::string source = Write("types.csv", csv);
  const std::vector<DescribeGroup> want =
      ExpectSameEveryWay(source, Connection(), {}, {"text_far_down", "when", "mixed"});
  // What the Recordset makes of them, so that the comparison compares what
  // it should.
  EXPECT_TRUE(FieldOf(want, "late_number").numeric);
  EXPECT_EQ(FieldOf(want, "late_number").numbers.Totals().Missing, 11 + 10);
  EXPECT_EQ(FieldOf(want, "late_text").type, qeldata::adVarWChar);
  EXPECT_EQ(FieldOf(want, "blank").type, qeldata::adDouble);
  EXPECT_EQ(FieldOf(want, "blank").numbers.Totals().Missing, 60);
  EXPECT_EQ(FieldOf(want, "text_far_down").type, qeldata::adVarWChar);
  EXPECT_EQ(FieldOf(want, "when").type, qeldata::adDate);
  EXPECT_EQ(FieldOf(want, "not_a_date").type, qeldata::adVarWChar);
  EXPECT_EQ(FieldOf(want, "mixed").type, qeldata::adVarWChar);
}

// Quoted cells (doubled quotes, delimiters and line breaks inside them,
// quoted numbers and quoted blanks), CRLF and lone-CR line ends, blank lines
// between records, trailing blank lines and a last line without its break.
TEST_F(DescribeColumns, QuotedCellsAndLineEnds) {
  std::string csv = "id,\"say, \"\"what\"\"\",n\r\n";
  for (int i = 0; i < 30; ++i) {
    std::string text;
    switch (i % 6) {
      case 0: text = "\"He said \"\"hi\"\", twice\""; break;
      case 1: text = "\"two\nlines, one cell\""; break;
      case 2: text = "\"\""; break;
      case 3: text = "\"  \""; break;
      case 4: text = "plain"; break;
      default: text = "\"\"\"\"";  // one quote
    }
    const std::string n = i % 4 == 0 ? "\"" + std::to_string(i) + ".5\"" : i % 4 == 1 ? "\" \"" : std::to_string(-i);
    csv += std::to_string(i) + "," + text + "," + n + (i % 3 == 0 ? "\r\n" : i % 3 == 1 ? "\n" : "\r");
    if (i % 10 == 4) csv += "\r\n\n";
  }
  csv += "30,last,\"7\"\n\n\r\n";
  ExpectSameEveryWay(Write("quoted.csv", csv), Connection(), {});
  csv.resize(csv.size() - 4);  // no line break after the last record
  const std::vector<DescribeGroup> want = ExpectSameEveryWay(Write("unended.csv", csv), Connection(), {});
  EXPECT_EQ(want[0].records, 31);
  EXPECT_EQ(want[0].fields[1].name, "say, \"what\"");
  EXPECT_EQ(want[0].fields[1].texts.Totals().Missing, 10);
}

// Null tokens read as null in a column of numbers: no text there, so the
// field stays numbers and is not read again; in a column of texts too.
TEST_F(DescribeColumns, NullTokensAreNullsNotTexts) {
  std::string csv = "x,t,u\n";
  for (int i = 0; i < 40; ++i) {
    const std::string x = i % 5 == 0 ? "NA" : i % 7 == 0 ? " N/A " : i % 11 == 0 ? "\"NA\"" : std::to_string(i) + ".5";
    const std::string t = i % 3 == 0 ? "NA" : i % 3 == 1 ? "" : "t" + std::to_string(i % 4);
    csv += (i == 0 ? "0.5" : x) + "," + t + "," + (i < 25 ? "NA" : std::to_string(i)) + "\n";
  }
  const std::string source = Write("na.csv", csv);
  const std::vector<DescribeGroup> want = ExpectSameEveryWay(source, Connection(";NA=NA,N/A"), {});
  EXPECT_EQ(FieldOf(want, "x").type, qeldata::adDouble);
  // NA (i = 5, 10, ... 35), " N/A " (7, 14, 21, 28), "NA" quoted (11, 22, 33)
  EXPECT_EQ(FieldOf(want, "x").numbers.Totals().Missing, 7 + 4 + 3);
  EXPECT_EQ(FieldOf(want, "t").texts.Totals().Missing, 27);
  EXPECT_EQ(FieldOf(want, "u").type, qeldata::adInteger);
  // Without the tokens the same cells are texts: x, numbers first, is read
  // again; u, a text first, is text from the start.
  const std::vector<DescribeGroup> plain = ExpectSameEveryWay(source, Connection(), {}, {"x"});
  EXPECT_EQ(FieldOf(plain, "x").type, qeldata::adVarWChar);
  EXPECT_EQ(FieldOf(plain, "u").type, qeldata::adVarWChar);
}

// Numbers in every written form the reading knows, with the column types of
// the Recordset: 32-bit, 64-bit and other whole numbers, and decimals.
TEST_F(DescribeColumns, NumberFormsAndColumnTypes) {
  const std::vector<std::vector<std::string>> columns = {
      // int32: its bounds, signs, blanks and leading zeros
      {"2147483647", "-2147483648", "+5", " 7 ", "-0", "0", "007", "\t12", "00000000000000000000001", ""},
      // int64: just past int32, and the bounds of 64 bits
      {"2147483648", "-2147483649", "9223372036854775807", "-9223372036854775808", "+9223372036854775807", "1",
       "", "0000000000000000000000000000042", "-1", "12345678901"},
      // whole numbers past 64 bits, and written with an exponent or a point
      {"9223372036854775808", "-9223372036854775809", "12345678901234567890", "1e3", "5.", "1E+2", "100", "",
       "99999999999999999999", "3"},
      // decimals of more than 15 significant digits, -0, subnormal, tiny, huge
      {"0.1000000000000000055511151231257827", "-0.0", "4.9e-324", "2.2250738585072014e-308", "1.5e300",
       "123456789012345.678", ".5", "-.25", "1234567890123456", "0.30000000000000004"},
  };
  std::string csv = "i32,i64,wide,dec\n";
  for (int repeat = 0; repeat < 3; ++repeat)
    for (std::size_t r = 0; r < columns[0].size(); ++r) {
      for (std::size_t c = 0; c < columns.size(); ++c) csv += (c ? "," : "") + columns[c][(r + repeat) % 10];
      csv += "\n";
    }
  const std::vector<DescribeGroup> want = ExpectSameEveryWay(Write("numbers.csv", csv), Connection(), {});
  EXPECT_EQ(FieldOf(want, "i32").type, qeldata::adInteger);
  EXPECT_EQ(FieldOf(want, "i64").type, qeldata::adBigInt);
  EXPECT_EQ(FieldOf(want, "wide").type, qeldata::adDouble);
  EXPECT_EQ(FieldOf(want, "dec").type, qeldata::adDouble);
  for (const FieldTally& f : want[0].fields) EXPECT_EQ(f.failure, "") << f.name;
}

// A value whose 15-digit form overflows stops its field at its record (with
// the records after it still read); a field whose sums overflow stops too; a
// field that stopped and then meets a text is text after all.
TEST_F(DescribeColumns, AFieldStopsAtTheSameRecordWithTheSameReason) {
  std::string csv = "top,sum,stop_then_text,fine\n";
  for (int i = 1; i <= 45; ++i) {
    const std::string top = i == 23 ? "1.7976931348623157e308" : i % 6 == 0 ? "" : std::to_string(i) + ".5";
    const std::string sum = i == 17 || i == 31 ? "1.5e308" : i % 8 == 0 ? "" : std::to_string(i);
    const std::string stop_then_text = i == 5 ? "1.79769313486231579e308" : i == 40 ? "late text" : "1";
    csv += top + "," + sum + "," + stop_then_text + "," + std::to_string(i % 9) + "\n";
  }
  const std::vector<DescribeGroup> want =
      ExpectSameEveryWay(Write("stops.csv", csv), Connection(), {}, {"stop_then_text"});
  EXPECT_NE(FieldOf(want, "top").failure.find("(record 23)"), std::string::npos) << FieldOf(want, "top").failure;
  EXPECT_NE(FieldOf(want, "sum").failure.find("(record 31)"), std::string::npos) << FieldOf(want, "sum").failure;
  EXPECT_EQ(FieldOf(want, "stop_then_text").type, qeldata::adVarWChar);
  EXPECT_EQ(FieldOf(want, "stop_then_text").failure, "");
}

// Files of one field (where a blank line is a record of a null), of a
// header only, and without a header line.
TEST_F(DescribeColumns, OneFieldHeaderOnlyAndNoHeader) {
  ExpectSameEveryWay(Write("one.csv", "v\n1\n\n2.5\n\n\n-3\n\"\"\n4\n\n\n"), Connection(), {});
  const std::vector<DescribeGroup> one = ThroughRecordset("[one.csv]", Connection(), {});
  EXPECT_EQ(one[0].records, 8);
  EXPECT_EQ(one[0].fields[0].numbers.Totals().Missing, 4);

  const std::vector<DescribeGroup> empty = ExpectSameEveryWay(Write("header.csv", "a,b,c\n"), Connection(), {});
  EXPECT_EQ(empty[0].records, 0);
  ExpectSameEveryWay(Write("header_no_break.csv", "a;b"), Connection(), {});

  const std::string rows = "1,x,\n2,y,2024-01-02\n,z,2024-01-03\n";
  const std::vector<DescribeGroup> plain =
      ExpectSameEveryWay(Write("rows.csv", rows), Connection(";Header=No"), {}, {"F3"});
  EXPECT_EQ(plain[0].records, 3);
  EXPECT_EQ(plain[0].fields[1].name, "F2");
}

// The fields asked for, in the order asked, found without regard to case
// and blanks around the names; names in the file with blanks around them
// (a header written "id, price, when") are found and read again by their own
// names. A name asked for twice, or unknown, goes the Recordset's way.
TEST_F(DescribeColumns, TheFieldsAskedFor) {
  std::string csv = "id, price, when ,Note\n";
  for (int i = 0; i < 25; ++i)
    csv += std::to_string(i) + "," + std::to_string(i * 1.25) + ",2024-02-" + std::to_string(10 + i % 15) + "," +
           (i == 20 ? "text" : std::to_string(i % 3)) + "\n";
  const std::string source = Write("asked.csv", csv);
  ExpectSameEveryWay(source, Connection(), {}, {" when ", "Note"});

  DescribeRequest request;
  request.fields = {" NOTE", "ID "};
  const std::vector<DescribeGroup> some = ExpectSameEveryWay(source, Connection(), request, {"Note"});
  EXPECT_EQ(some[0].fields[0].name, "Note");
  EXPECT_EQ(some[0].fields[1].name, "id");
  request.fields = {"id"};
  ExpectSameEveryWay(source, Connection(), request);
  // Headings with blanks around them are found by the names without.
  request.fields = {"price", "When"};
  const std::vector<DescribeGroup> padded = ExpectSameEveryWay(source, Connection(), request, {" when "});
  EXPECT_EQ(padded[0].fields[0].name, " price");
  EXPECT_TRUE(padded[0].fields[0].numeric);

  for (const std::vector<std::string>& names : {std::vector<std::string>{"id", "ID"}, {"id", "nope"}}) {
    request.fields = names;
    detail::ColumnPassReport report;
    const std::string want = ErrorOf([&] { ThroughRecordset(source, Connection(), request); });
    const std::string got = ErrorOf([&] { detail::DescribeSource(source, Connection(), request, {2, 3}, &report); });
    EXPECT_EQ(want, got);
    EXPECT_FALSE(report.column_pass);
  }
  request.fields = {"id", "ID"};  // tallied twice, as a Recordset pass does
  const std::vector<DescribeGroup> twice = detail::DescribeSource(source, Connection(), request, {2, 3});
  ExpectSameGroups(ThroughRecordset(source, Connection(), request), twice, "a field asked for twice");
}

// A file the reading refuses fails both ways with the same message, however
// deep in the file the fault lies; a weighted pass goes the Recordset's way.
TEST_F(DescribeColumns, AFaultyFileFailsWithTheRecordsetsError) {
  std::string good = "a,b,c\n";
  for (int i = 0; i < 500; ++i) good += std::to_string(i) + ",t" + std::to_string(i % 7) + "," + std::to_string(i % 3) + "\n";
  const std::vector<std::pair<std::string, std::string>> files = {
      {"count.csv", good + "1,2\n" + "3,4,5\n"},
      {"count_more.csv", good + "1,2,3,4\n"},
      {"quote.csv", good + "1,\"open,2\n3,4,5\n"},
      {"after_quote.csv", good + "1,\"x\"y,2\n"},
      {"utf8.csv", good + "1,caf\xC3,2\n"},
      {"nul.csv", good + std::string("1,a\0b,2\n", 8)},
      {"empty.csv", ""},
      {"blank_header.csv", "\n1,2\n"},
      {"duplicate.csv", "a,A\n1,2\n"},
      {"utf16.csv", "\xFF\xFE" "a\0,\0b\0"},
  };
  for (const auto& [name, text] : files) {
    const std::string source = Write(name, text);
    const std::string want = ErrorOf([&] { ThroughRecordset(source, Connection(), {}); });
    EXPECT_NE(want, "no error") << name;
    for (unsigned threads : {1u, 3u})
      for (std::size_t rows : {std::size_t{1}, std::size_t{64}, std::size_t{0}})
        EXPECT_EQ(want, ErrorOf([&] { detail::DescribeSource(source, Connection(), {}, {threads, rows}); }))
            << name << " with " << threads << " thread(s), " << rows << " records a block";
  }
  const std::string missing = ErrorOf([&] { ThroughRecordset("[missing.csv]", Connection(), {}); });
  EXPECT_NE(missing, "no error");
  EXPECT_EQ(missing, ErrorOf([&] { detail::DescribeSource("[missing.csv]", Connection(), {}, {}); }));

  const std::string source = Write("weighted.csv", good);
  DescribeRequest weighted;
  weighted.weight_field = "c";
  detail::ColumnPassReport report;
  ExpectSameGroups(ThroughRecordset(source, Connection(), weighted),
                   detail::DescribeSource(source, Connection(), weighted, {2, 5}, &report), "weighted");
  EXPECT_FALSE(report.column_pass);
}

// Short texts are found by their length and bytes: every text of up to nine
// letters from "ab" (texts that differ in a single byte, at every place),
// some with a two-byte letter, in a random order with repeats, so that many
// share a place among the recent ones. Each text keeps its own count.
TEST_F(DescribeColumns, ShortTextsThatDifferInOneByte) {
  std::vector<std::string> texts;
  for (int n = 1; n <= 9; ++n)
    for (int bits = 0; bits < (1 << n); ++bits) {
      std::string t;
      for (int i = 0; i < n; ++i) t += bits >> i & 1 ? 'b' : 'a';
      texts.push_back(t);
      if (bits % 7 == 0) texts.push_back(t + "\xC3\xA9");  // + e acute
    }
  std::mt19937_64 rng(7);
  std::string csv = "t,n\n";
  for (int i = 0; i < 30000; ++i) csv += texts[rng() % texts.size()] + "," + std::to_string(i % 3) + "\n";
  const std::vector<DescribeGroup> want =
      ExpectSameEveryWay(Write("short_texts.csv", csv), Connection(), {}, {}, {1, 1000, 0});
  EXPECT_EQ(FieldOf(want, "t").texts.Cardinality(), texts.size());
}

// A larger file of several kinds of columns, from a fixed seed: ascending
// ids, few repeated values, many distinct decimals (some beyond 15 digits),
// texts with quotes, a column with nulls, CRLF lines here and there.
TEST_F(DescribeColumns, ALargeFileAcrossThreadsAndBlocks) {
  std::mt19937_64 rng(20261207);
  auto pick = [&](std::uint64_t n) { return rng() % n; };
  std::string csv = "id,code,price,ratio,label,sparse,big\n";
  for (int i = 0; i < 70000; ++i) {
    std::string price = std::to_string(pick(100000)) + "." + std::to_string(pick(100));
    if (pick(50) == 0) price = "0.1000000000000000055511151231257827";
    if (pick(97) == 0) price = "-0";
    const double ratio = static_cast<double>(pick(1u << 30)) / 7.0 - 1e8;
    char ratio_text[40];
    std::snprintf(ratio_text, sizeof ratio_text, "%.17g", ratio);
    const std::uint64_t k = pick(40);
    const std::string label = k == 0 ? "" : k < 3 ? "\"a \"\"q\"\", " + std::to_string(k) + "\"" : "L" + std::to_string(k);
    const std::string sparse = pick(5) == 0 ? std::to_string(pick(1000)) : "";
    const std::string big = std::to_string(3000000000LL + static_cast<long long>(pick(1000)) * 1000003LL);
    csv += std::to_string(i + 1) + "," + std::to_string(pick(12)) + "," + price + "," + ratio_text + "," + label +
           "," + sparse + "," + big + (i % 17 == 0 ? "\r\n" : "\n");
  }
  const std::string source = Write("large.csv", csv);
  const std::vector<DescribeGroup> want = ExpectSameEveryWay(source, Connection(), {}, {}, {7, 1000, 0});
  // The progress of the records read comes on the calling thread, never
  // backwards, and ends at the file's records.
  for (unsigned threads : {1u, 3u}) {
    std::vector<std::int64_t> seen;
    bool elsewhere = false;
    const std::thread::id caller = std::this_thread::get_id();
    DescribeRequest request;
    request.on_records = [&](std::int64_t records) {
      elsewhere = elsewhere || std::this_thread::get_id() != caller;
      seen.push_back(records);
    };
    detail::DescribeSource(source, Connection(), request, {threads, 7});
    EXPECT_FALSE(elsewhere);
    ASSERT_GT(seen.size(), 1u);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_EQ(seen.back(), 70000);
  }
  EXPECT_EQ(want[0].records, 70000);
  EXPECT_EQ(FieldOf(want, "id").type, qeldata::adInteger);
  EXPECT_EQ(FieldOf(want, "big").type, qeldata::adBigInt);
  EXPECT_EQ(FieldOf(want, "label").type, qeldata::adVarWChar);
}

}  // namespace
}  // namespace qel
