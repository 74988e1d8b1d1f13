// ColumnScan::Open: which sources it reads column by column (whole text
// files under plain number reading), which it leaves to a Recordset, and that
// a source it cannot open fails with the Recordset's own error. That the
// cells read as a Recordset reads them is tested through the describe pass
// (qelStatsLib/engine/src/describe_columns_test.cpp), which compares every
// figure of the two.
#include "qeldata/column_scan.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "qeldata/error.h"
#include "qeldata/recordset.h"
#include "qeltesting/temp_folder.h"

namespace qeldata {
namespace {

namespace fs = std::filesystem;

class ColumnScanOpen : public ::testing::Test {
 protected:

  void Write(const std::string& name, const std::string& bytes) {
    std::ofstream(folder_ / name, std::ios::binary) << bytes;
  }
  std::string Text(const std::string& more = "") const { return "Text;DBQ=" + folder_.string() + more; }

  qel::testing::TempFolder temp_{"column_scan"};
  const fs::path& folder_ = temp_.path();
};

// The error of `run`, or "(no error)".
template <class Run>
std::string ErrorOf(Run&& run) {
  try {
    run();
  } catch (const Error& e) {
    return e.description();
  }
  return "(no error)";
}

std::string RecordsetError(const std::string& source, const std::string& connection) {
  return ErrorOf([&] {
    Recordset rs;
    rs.SetCursorLocation(adUseServer);
    rs.Open(source, connection, adOpenForwardOnly, adLockReadOnly, -1);
  });
}

std::vector<std::string> RecordsetNames(const std::string& source, const std::string& connection) {
  Recordset rs;
  rs.SetCursorLocation(adUseServer);
  rs.Open(source, connection, adOpenForwardOnly, adLockReadOnly, -1);
  std::vector<std::string> names;
  const Fields fields = rs.GetFields();
  for (int i = 0; i < fields.Count(); ++i) names.push_back(fields.Item(i).Name());
  return names;
}

TEST_F(ColumnScanOpen, ReadsWholeTextFilesAndLeavesTheRestToARecordset) {
  Write("a.csv", "\xEF\xBB\xBFx, y ,,z\n1,2,3,4\n");
  for (const std::string source : {"[a.csv]", "a.csv", " [ a.csv ] ;", "select * from [a.csv]", "a#csv"}) {
    const auto scan = ColumnScan::Open(source, Text());
    ASSERT_NE(scan, nullptr) << source;
    EXPECT_EQ(scan->FieldNames(), RecordsetNames(source, Text())) << source;
    EXPECT_EQ(scan->FieldNames(), (std::vector<std::string>{"x", " y ", "F3", "z"})) << source;
    EXPECT_EQ(scan->DisplayName(), source == "a#csv" ? "a#csv" : "a.csv") << source;
  }
  const auto headless = ColumnScan::Open("[a.csv]", Text(";Header=No;Delimiter={;}"));
  ASSERT_NE(headless, nullptr);
  EXPECT_EQ(headless->FieldNames(), RecordsetNames("[a.csv]", Text(";Header=No;Delimiter={;}")));

  // SQL text, numbers written with a decimal comma or group separators, and
  // other providers (which would connect for nothing) go to a Recordset.
  EXPECT_EQ(ColumnScan::Open("select x from [a.csv]", Text()), nullptr);
  EXPECT_EQ(ColumnScan::Open("select * from [a.csv] where x > 0", Text()), nullptr);
  EXPECT_EQ(ColumnScan::Open("[a.csv]", Text(";DecimalSeparator=,;Delimiter={;}")), nullptr);
  EXPECT_EQ(ColumnScan::Open("[a.csv]", Text(";ThousandsSeparator=space")), nullptr);
  const std::string db = (folder_ / "t.db").string();
  sqlite3* handle = nullptr;
  ASSERT_EQ(sqlite3_open(db.c_str(), &handle), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(handle, "create table t (x real)", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(handle);
  EXPECT_EQ(ColumnScan::Open("t", "Driver=SQLite3;Database=" + db), nullptr);
  EXPECT_EQ(ColumnScan::Open("t", "DSN=qel_no_such_dsn"), nullptr);
}

TEST_F(ColumnScanOpen, ASourceItCannotOpenFailsAsARecordsetDoes) {
  Write("empty.csv", "");
  Write("blank.csv", "\n\n");
  Write("twice.csv", "a,A\n1,2\n");
  Write("wide.csv", "\xFF\xFE" "a");
  fs::create_directories(folder_ / "sub.csv");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"[missing.csv]", Text()},
      {"[empty.csv]", Text()},
      {"[blank.csv]", Text()},
      {"[twice.csv]", Text()},
      {"[wide.csv]", Text()},
      {"[sub.csv]", Text()},
      {"[../a.csv]", Text()},
      {"", Text()},
      {"[empty.csv]", Text(";Header=maybe")},
      {"[empty.csv]", Text(";Delimiter=ab")},
      {"[empty.csv]", "Text;DBQ=" + (folder_ / "no_such_folder").string()},
      {"[empty.csv]", "Text"},
  };
  for (const auto& [source, connection] : cases) {
    const std::string want = RecordsetError(source, connection);
    EXPECT_NE(want, "(no error)") << source << " " << connection;
    EXPECT_EQ(ErrorOf([&] { ColumnScan::Open(source, connection); }), want) << source << " " << connection;
  }
}

}  // namespace
}  // namespace qeldata
