// The text provider through Recordset: connection strings, sources, values,
// streaming and the errors a user sees.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "qeldata/recordset.h"

namespace qeldata {
namespace {

namespace fs = std::filesystem;

class TextProviderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) /
           ("text_provider_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "data");
    folder_ = (dir_ / "data").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  void Write(const std::string& name, const std::string& bytes) {
    std::ofstream(fs::path(folder_) / name, std::ios::binary) << bytes;
  }
  std::string Conn() const { return "Text;DBQ=" + folder_; }

  std::unique_ptr<Recordset> OpenStream(const std::string& source) {
    auto rs = std::make_unique<Recordset>();
    rs->SetCursorLocation(adUseServer);
    rs->Open(source, Conn(), adOpenForwardOnly, adLockReadOnly, -1);
    return rs;
  }
  std::unique_ptr<Recordset> OpenClient(const std::string& source) {
    auto rs = std::make_unique<Recordset>();
    rs->SetCursorLocation(adUseClient);
    rs->Open(source, Conn(), adOpenDynamic, adLockOptimistic, -1);
    return rs;
  }
  std::string OpenError(const std::string& source, const std::string& connection = "") {
    try {
      Recordset rs;
      rs.Open(source, connection.empty() ? Conn() : connection, adOpenForwardOnly, adLockReadOnly, -1);
    } catch (const Error& e) {
      return e.what();
    }
    return "(no error)";
  }

  fs::path dir_;
  std::string folder_;
};

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST_F(TextProviderTest, SourcesNamingOneFile) {
  Write("scores.csv", "Name,Score\nann,1\nbob,2\n");
  for (const char* source : {"scores.csv", "[scores.csv]", "  [ scores.csv ]  ", "select * from [scores.csv]",
                             "SELECT  *  FROM scores.csv ;", "select*from[scores.csv]", "scores#csv"}) {
    SCOPED_TRACE(source);
    std::unique_ptr<Recordset> rs;
    try {
      rs = OpenStream(source);
    } catch (const Error& e) {
      FAIL() << e.what();
    }
    EXPECT_EQ(rs->GetFields().Item("score").GetValue().AsNumber(), 1);
  }
  // The program's own connection string.
  Recordset rs;
  rs.SetCursorLocation(adUseClient);
  rs.Open("select * from [scores.csv]",
          "Driver={Microsoft Text Driver (*.txt; *.csv)};DBQ=" + folder_ + ";DefaultDir=" + folder_ +
              ";Uid=Admin;Pwd=;",
          adOpenDynamic, adLockOptimistic, -1);
  EXPECT_EQ(rs.RecordCount(), 2);
  EXPECT_EQ(rs.GetFields().Item(0).Name(), "Name");
}

TEST_F(TextProviderTest, ValuesBomCrlfAndNulls) {
  Write("v.csv",
        "\xEF\xBB\xBFid,name,when,x\r\n"
        "1,\"Smith, \"\"Jo\"\"\",2024-03-01,0.1\r\n"
        "2,   ,,1234567890.12345678\n"
        "3,\"two\nlines\",2024-03-02 08:00:00,\r\n");
  auto rs = OpenClient("v.csv");
  Fields f = rs->GetFields();
  EXPECT_EQ(f.Item(0).Name(), "id");  // no byte-order mark in the first name
  EXPECT_EQ(f.Item("when").Type(), adDate);
  EXPECT_EQ(f.Item("x").Type(), adDouble);
  EXPECT_EQ(f.Item("name").GetValue().text(), "Smith, \"Jo\"");
  EXPECT_EQ(f.Item("when").GetValue().date(), (Date{2024, 3, 1}));
  EXPECT_TRUE(f.Item("x").GetValue().IsCanonicalNumber());
  rs->MoveNext();
  EXPECT_TRUE(f.Item("name").GetValue().IsNull());  // only blanks
  EXPECT_TRUE(f.Item("when").GetValue().IsNull());
  EXPECT_FALSE(f.Item("x").GetValue().IsCanonicalNumber());  // 18 significant digits
  EXPECT_DOUBLE_EQ(f.Item("x").GetValue().number(), 1234567890.12345678);
  rs->MoveNext();
  EXPECT_EQ(f.Item("name").GetValue().text(), "two\nlines");
  EXPECT_EQ(f.Item("when").GetValue().date(), (Date{2024, 3, 2, 8, 0, 0}));
  EXPECT_TRUE(f.Item("x").GetValue().IsNull());
  rs->MoveNext();
  EXPECT_TRUE(rs->IsEOF());
  try {
    f.Item("Salry");
    FAIL();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Unknown field 'Salry' in v.csv");
  }
}

TEST_F(TextProviderTest, HeaderOnlyIsAnEmptyTable) {
  Write("h.csv", "a,b\r\n");
  auto rs = OpenStream("h.csv");
  EXPECT_TRUE(rs->IsEOF());
  EXPECT_TRUE(rs->IsBOF());
  EXPECT_EQ(rs->GetFields().Count(), 2);
  EXPECT_EQ(rs->GetFields().Item(0).Type(), adDouble);  // a column without values is numeric
  EXPECT_TRUE(OpenClient("h.csv")->IsEOF());
}

TEST_F(TextProviderTest, SingleColumnKeepsEmptyLinesAsNulls) {
  // With one field an empty line is a missing value, but the blank lines at the end are not rows.
  Write("one.csv", "v\n1\n\n3\n\n\n");
  auto rs = OpenClient("one.csv");
  ASSERT_EQ(rs->RecordCount(), 3);
  rs->MoveNext();
  EXPECT_TRUE(rs->GetFields().Item(0).GetValue().IsNull());
}

TEST_F(TextProviderTest, StreamsAcrossBlocksAndRereadsOnMoveFirst) {
  const int rows = 3 * 4096 + 17;
  std::string text = "n,label\n";
  for (int i = 1; i <= rows; ++i) text += std::to_string(i) + ",r" + std::to_string(i) + "\n";
  Write("many.csv", text);
  auto rs = OpenStream("many.csv");
  EXPECT_EQ(rs->RecordCount(), -1);
  auto count_and_sum = [&] {
    long long n = 0, sum = 0;
    for (rs->MoveFirst(); !rs->IsEOF(); rs->MoveNext()) {
      ++n;
      sum += static_cast<long long>(rs->GetFields().Item("n").GetValue().number());
      EXPECT_EQ(rs->GetFields().Item(1).GetValue().text(), "r" + std::to_string(n));
      if (n != sum * 2 / (n + 1)) break;
    }
    return std::make_pair(n, sum);
  };
  const auto first = count_and_sum();
  EXPECT_EQ(first.first, rows);
  EXPECT_EQ(first.second, static_cast<long long>(rows) * (rows + 1) / 2);
  // A forward-only cursor back at its first record reads the file again.
  EXPECT_EQ(count_and_sum(), first);
  EXPECT_THROW(rs->MovePrevious(), Error);
  EXPECT_THROW(rs->Clone(), Error);
}

// Collects what the streaming reads of this thread report.
class Shares : public ReadProgress {
 public:
  Shares() : previous_(SetReadProgress(this)) {}
  ~Shares() override { SetReadProgress(previous_); }
  void Advanced(double share) noexcept override { seen.push_back(share); }
  std::vector<double> seen;

 private:
  ReadProgress* previous_;
};

// The share a progress display shows is the bytes of the records handed out
// so far, of the file's: exact after every block, rising, 1 at the end; on
// the thread that reads ahead (files above 8 MB) as without it.
TEST_F(TextProviderTest, ReadShareIsTheBytesOfTheBlocksReadOfTheFile) {
  for (const int rows : {3 * 4096 + 17, 1000000}) {
    std::string text = "n,label\n";  // 8 bytes, then 11 bytes a record
    text.reserve(8 + 11 * static_cast<std::size_t>(rows));
    char record[16];
    for (int i = 0; i < rows; ++i) {
      std::snprintf(record, sizeof record, "%07d,ab\n", i);
      text += record;
    }
    Write("fixed.csv", text);
    const double bytes = static_cast<double>(text.size());
    Shares shares;
    auto rs = OpenStream("fixed.csv");
    ASSERT_TRUE(rs->ReadShare().has_value());
    EXPECT_EQ(*rs->ReadShare(), (8 + 11 * 4096) / bytes) << "the first block, read at the opening";
    std::int64_t n = 0;
    for (; !rs->IsEOF(); rs->MoveNext()) ++n;
    ASSERT_EQ(n, rows);
    EXPECT_EQ(rs->ReadShare(), 1.0);
    // One report per block, the opening's first, and the last at the end.
    const std::size_t blocks = (static_cast<std::size_t>(rows) + 4095) / 4096;
    ASSERT_EQ(shares.seen.size(), blocks + 1);
    for (std::size_t b = 0; b < blocks; ++b)
      EXPECT_EQ(shares.seen[b], std::min<double>(8 + 11.0 * 4096 * (b + 1), bytes) / bytes) << rows << " block " << b;
    EXPECT_EQ(shares.seen.back(), 1.0);
    for (std::size_t b = 1; b < shares.seen.size(); ++b) EXPECT_GE(shares.seen[b], shares.seen[b - 1]);
  }
}

// A query's rows cannot say how much is left until the end; static copies
// are read whole at their opening.
TEST_F(TextProviderTest, QueriesSayTheirShareAtTheEndOnly) {
  std::string text = "n\n";
  for (int i = 0; i < 10000; ++i) text += std::to_string(i) + "\n";
  Write("q.csv", text);
  Shares shares;
  auto query = OpenStream("select n from [q.csv] where n > 10");
  EXPECT_FALSE(query->ReadShare().has_value());
  while (!query->IsEOF()) {
    query->MoveNext();
    if (!query->IsEOF()) {
      EXPECT_FALSE(query->ReadShare().has_value());
    }
  }
  EXPECT_EQ(query->ReadShare(), 1.0);
  EXPECT_EQ(shares.seen, std::vector<double>{1.0});
  auto copy = OpenClient("q.csv");
  EXPECT_FALSE(copy->ReadShare().has_value());
}

TEST_F(TextProviderTest, InputFileIsNeverModified) {
  const std::string bytes = "a,b\r\n1,\"x\"\"y\"\r\n2,z";
  Write("keep.csv", bytes);
  const auto before = fs::last_write_time(fs::path(folder_) / "keep.csv");
  OpenClient("keep.csv");
  OpenStream("select b, count(*) from [keep.csv] group by b");
  EXPECT_EQ(ReadAll(fs::path(folder_) / "keep.csv"), bytes);
  EXPECT_EQ(fs::last_write_time(fs::path(folder_) / "keep.csv"), before);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1);
}

TEST_F(TextProviderTest, OtherSqlRunsOnTheLoadedFiles) {
  Write("p.csv", "team,salary,born\nA,100,1990-01-01\nB,300,1985-06-30\nA,200,\n");
  Write("t.csv", "team,city\nA,Oslo\nB,Rome\n");
  std::unique_ptr<Recordset> rs;
  try {
    rs = OpenClient(
      "select p.team, sum(salary) as total, max(born) as latest, city from [p.csv] p "
      "join t.csv on [t.csv].team = p.team group by p.team order by p.team");
  } catch (const Error& e) {
    FAIL() << e.what();
  }
  Fields f = rs->GetFields();
  ASSERT_EQ(rs->RecordCount(), 2);
  EXPECT_EQ(f.Item("total").GetValue().AsNumber(), 300);
  EXPECT_EQ(f.Item("city").GetValue().text(), "Oslo");
  EXPECT_EQ(f.Item("city").Type(), adVarWChar);
  rs->MoveNext();
  EXPECT_EQ(f.Item("total").GetValue().AsNumber(), 300);

  // Columns keep their inferred types through SQLite.
  auto typed = OpenStream("select * from [p.csv] where salary > 100");
  EXPECT_EQ(typed->GetFields().Item("salary").Type(), adInteger);
  EXPECT_EQ(typed->GetFields().Item("born").Type(), adDate);
  EXPECT_EQ(typed->GetFields().Item("born").GetValue().date(), (Date{1985, 6, 30}));

  // A WITH table is the query's own name, not a file.
  auto with = OpenClient("with big as (select * from [p.csv] where salary >= 200) select count(*) as n from big");
  EXPECT_EQ(with->GetFields().Item("n").GetValue().AsNumber(), 2);

  // Only reading: no writes, no attaching files.
  EXPECT_NE(OpenError("select * from [p.csv]; delete from [p.csv]").find("more than one statement"),
            std::string::npos);
  EXPECT_NE(OpenError("with a as (select * from [p.csv]) insert into [p.csv] select * from a")
                .find("only statements that read data"),
            std::string::npos);
  EXPECT_NE(OpenError("select no_such from [p.csv]").find("no such column"), std::string::npos);
  // Errors that quote multi-line SQL stay on one line.
  const std::string error = OpenError("select\n  team,\n  nope\nfrom [p.csv]");
  EXPECT_EQ(error, "select   team,   nope from [p.csv]: no such column: nope");
}

TEST_F(TextProviderTest, FilesDifferingOnlyInCaseAreNeverConfused) {
  Write("A.csv", "v\n1\n");
  Write("a.csv", "v\n2\n");
  // Each on its own reads its own file.
  EXPECT_EQ(OpenStream("select v from [a.csv]")->GetFields().Item("v").GetValue().AsNumber(), 2);
  EXPECT_EQ(OpenStream("select v from [A.csv]")->GetFields().Item("v").GetValue().AsNumber(), 1);
  // Together they would be one SQL table: refused, naming both.
  EXPECT_EQ(OpenError("select * from [A.csv] union all select * from [a.csv]"),
            "the query names both 'A.csv' and 'a.csv', two files whose names differ only in case; SQL table "
            "names ignore case, so query them separately");
  // One file named twice in different case (where the file system folds case) stays one table.
  EXPECT_NO_THROW(OpenStream("select * from [A.csv] x join [A.csv] y on x.v = y.v"));
}

TEST_F(TextProviderTest, TableNamesStayInsideTheFolder) {
  Write("ok.csv", "a\n1\n");
  std::ofstream(dir_ / "secret.csv") << "s\nhidden\n";
  fs::create_symlink(dir_ / "secret.csv", fs::path(folder_) / "link.csv");
  fs::create_directories(fs::path(folder_) / "sub");
  std::ofstream(fs::path(folder_) / "sub" / "in.csv") << "a\n1\n";
  for (const std::string& source : std::vector<std::string>{"../secret.csv", "[../secret.csv]", "select * from [../secret.csv]", "sub/../../secret.csv",
        (dir_ / "secret.csv").string(), "link.csv", "select s from [link.csv] where 1",
        "select * from [ok.csv] join [../secret.csv] on 1"}) {
    SCOPED_TRACE(source);
    const std::string error = OpenError(source);
    EXPECT_NE(error.find("the table name"), std::string::npos) << error;
    EXPECT_EQ(error.find("hidden"), std::string::npos);
  }
  EXPECT_NO_THROW(OpenStream("sub/in.csv"));  // below the folder is inside it
}

TEST_F(TextProviderTest, MissingFolderAndFile) {
  EXPECT_EQ(OpenError("x.csv", "Text;DBQ=" + folder_ + "/nope"), "cannot open folder " + folder_ + "/nope: no such folder");
  EXPECT_EQ(OpenError("nope.csv"), "cannot open file 'nope.csv' in folder " + folder_ + ": no such file");
  EXPECT_EQ(OpenError("select * from [nope.csv] where 1"),
            "cannot open file 'nope.csv' in folder " + folder_ + ": no such file");
  EXPECT_EQ(OpenError("x.csv", "Text;Uid=Admin"), "the connection string names no folder (DBQ=...)");
  fs::create_directories(fs::path(folder_) / "dir.csv");
  EXPECT_NE(OpenError("dir.csv").find("not a file"), std::string::npos);
}

TEST_F(TextProviderTest, BadFilesFailAtOpenWithFileAndLine) {
  std::string text = "a,b\n";
  for (int i = 0; i < 10; ++i) text += "1,2\n";
  Write("late.csv", text + "1,2,3\n");
  // The whole file is checked before the first record is handed out.
  EXPECT_EQ(OpenError("late.csv"), "late.csv line 12: 3 fields, the header has 2");
  Write("q.csv", "a,b\n1,\"x\n");
  EXPECT_EQ(OpenError("[q.csv]"), "q.csv line 2: unterminated quoted field in field 2 (b)");
  Write("e.csv", "");
  EXPECT_EQ(OpenError("e.csv"), "e.csv is empty: there is no header row of field names");
}

TEST_F(TextProviderTest, FileChangedBetweenOpensIsScannedAgain) {
  Write("c.csv", "a\n1\n");
  auto rs = OpenStream("c.csv");
  EXPECT_EQ(rs->GetFields().Item(0).Type(), adInteger);
  Write("c.csv", "a\nx\ny\n");
  auto again = OpenStream("c.csv");
  EXPECT_EQ(again->GetFields().Item(0).Type(), adVarWChar);
}

TEST(TextProviderBaseBall, FieldList) {
  const std::string folder = std::string(QEL_SOURCE_DIR) + "/VesquinDemo/datasets";
  Recordset rs;
  rs.SetCursorLocation(adUseClient);
  rs.Open("select * from [BaseBall.csv]", "Text;DBQ=" + folder, adOpenDynamic, adLockOptimistic, -1);
  Fields f = rs.GetFields();
  ASSERT_EQ(f.Count(), 29);
  EXPECT_EQ(f.Item(0).Name(), "Salary");
  EXPECT_EQ(f.Item("Salary").Type(), adInteger);
  EXPECT_EQ(f.Item("AVG").Type(), adDouble);
  EXPECT_EQ(f.Item("Player").Type(), adVarWChar);
  EXPECT_EQ(f.Item(28).Name(), "Player");
  EXPECT_EQ(rs.RecordCount(), 920);
  EXPECT_EQ(f.Item("Salary").GetValue().AsNumber(), 4200000);
  EXPECT_EQ(f.Item("Player").GetValue().text(), "Steve Avery");
}

// "]]" inside brackets stands for one "]": a file or column name holding a
// bracket is one name, and SQL around it stays out of the name.
TEST_F(TextProviderTest, DoubledBracketIsOneBracketInAName) {
  Write("a]b.csv", "x]y,z\n1,2\n");
  Write("other.csv", "x]y,z\n500,600\n");
  auto whole = OpenStream("select * from [a]]b.csv]");
  EXPECT_EQ(whole->Collect("x]y").number(), 1);
  auto query = OpenStream("select [x]]y] + z as s from [a]]b.csv]");
  EXPECT_EQ(query->Collect("s").number(), 3);
  // The closing bracket of a pasted name cannot end the name early.
  EXPECT_NE(OpenError("select * from [a]]b.csv]] union all select * from [other.csv]").find("no such file"),
            std::string::npos);
}

}  // namespace
}  // namespace qeldata
