// Result tables are written row by row: the JSON object with its table
// streamed reads exactly as the one built as text, the text table is laid
// out from a first pass over the rows, and a table of more rows than the
// limit is announced on stderr first.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

#include "cli_common.h"
#include "qeldata/recordset.h"

namespace qelcli {
namespace {

std::shared_ptr<qeldata::Recordset> SmallTable() {
  auto rs = std::make_shared<qeldata::Recordset>();
  auto fields = rs->GetFields();
  fields.Append("Value", qeldata::adVarNumeric, 255, qeldata::adFldIsNullable);
  fields.Append("Label", qeldata::adVarWChar, 255, qeldata::adFldIsNullable);
  fields.Append("Outlier", qeldata::adBoolean, 0, qeldata::adFldIsNullable);
  rs->Open();
  rs->Reserve(3);
  const char* labels[] = {"a", "b \"quoted\"", "wide cell text"};
  for (int i = 0; i < 3; ++i) {
    rs->AddNew();
    fields.Item(0).SetValue(i * 1.5 - 1);
    fields.Item(1).SetValue(std::string(labels[i]));
    fields.Item(2).SetValue(qeldata::Value::Boolean(i == 2));
    rs->Update();
  }
  rs->MoveNext();  // handed over after its last row, as the runs do
  return rs;
}

TEST(CliOutput, StreamedTableWritesTheSameJson) {
  auto table = SmallTable();
  JsonObject built;
  built.Add("Run", true);
  built.AddRaw("ResultSet", JsonRecordset(*table));
  built.AddNull("messages");
  JsonObject streamed;
  streamed.Add("Run", true);
  streamed.AddRecordset("ResultSet", *table);
  streamed.AddNull("messages");
  std::ostringstream out;
  streamed.Write(out);
  EXPECT_EQ(out.str(), built.str());
  EXPECT_EQ(out.str(),
            "{\"Run\": true, \"ResultSet\": {\"columns\": [\"Value\", \"Label\", \"Outlier\"], \"rows\": "
            "[[-1, \"a\", false], [0.5, \"b \\\"quoted\\\"\", false], [2, \"wide cell text\", true]]}, "
            "\"messages\": null}");
}

TEST(CliOutput, TextTableIsLaidOutFromAllRows) {
  auto table = SmallTable();
  std::ostringstream out;
  PrintRecordset(out, *table);
  EXPECT_EQ(out.str(),
            "Value           Label  Outlier\n"
            "-----  --------------  -------\n"
            "   -1               a    False\n"
            "  0.5      b \"quoted\"    False\n"
            "    2  wide cell text     True\n");
}

TEST(CliOutput, LargeTablesAreAnnouncedOnce) {
  auto table = SmallTable();
  std::ostringstream quiet, warned;
  WarnOfLargeTable(quiet, "outlier", *table, 3);
  EXPECT_EQ(quiet.str(), "");
  WarnOfLargeTable(warned, "outlier", *table, 2);
  EXPECT_EQ(warned.str(),
            "qelstats outlier: warning: the result table has 3 rows (one per distinct value or bin); writing it "
            "takes a while\n");
}

}  // namespace
}  // namespace qelcli
