#include "qelStatsLib/results.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "qelStatsLib/QelBivariate.h"
#include "qelStatsLib/QelOutlier.h"
#include "qelStatsLib/QelUnivariate.h"
#include "qelStatsLib/presenter.h"
#include "qelStatsLib/recording_presenter.h"
#include "qeltesting/tables.h"

namespace qel {
namespace {

using qeldata::Value;

template <typename Record, std::size_t N>
void ExpectDistinctNames(const ResultMember<Record> (&table)[N]) {
  std::set<std::string_view> names;
  for (std::size_t i = 0; i < N; ++i) {
    EXPECT_TRUE(names.insert(table[i].name).second) << table[i].name;
    for (std::size_t j = 0; j < i; ++j) EXPECT_NE(table[i].member, table[j].member) << table[i].name;
  }
}

TEST(ResultTables, EachNameAndEachMemberOnce) {
  ExpectDistinctNames(kUnivariateResults);
  ExpectDistinctNames(kOutlierResults);
  ExpectDistinctNames(kBivariateResults);
  EXPECT_EQ(std::size(kUnivariateResults), 21u);
  EXPECT_EQ(std::size(kOutlierResults), 17u);
}

TEST(ResultTables, TheClassesGettersReadTheRowsOfTheirTable) {
  auto table = testing::Table({{"X"}, {"W"}}, {{1.0, 2.0}, {2.0, 1.0}, {4.0, 1.0}, {8.0, 3.0}});
  QelUnivariate u;
  u.SetDataSource(table);
  u.SetFieldName("X");
  u.SetWeightField("W");
  ASSERT_TRUE(u.Run()) << u.StopReason();
  EXPECT_EQ(FindResult<UnivariateRecord>(kUnivariateResults, u.Results(), "Mean"), u.Mean());
  EXPECT_EQ(FindResult<UnivariateRecord>(kUnivariateResults, u.Results(), "Kurtosis"), u.Kurtosis());
  EXPECT_EQ(FindResult<UnivariateRecord>(kUnivariateResults, u.Results(), "WgtN"), 7);
  EXPECT_FALSE(FindResult<UnivariateRecord>(kUnivariateResults, u.Results(), "mean"));  // names are exact
}

// Each class says in StopReason why its last Run returned false, and nothing
// once a Run completes.
TEST(StopReason, TheSameWayInEveryClass) {
  RecordingPresenter presenter;
  ScopedPresenter use(&presenter);
  auto table = testing::Table({{"X"}, {"T"}}, {{1.0, 2.0}, {2.0, 4.0}, {3.0, 5.0}, {5.0, 1.0}});

  QelUnivariate u;
  u.SetDataSource(table);
  u.SetFieldName("Salry");
  EXPECT_FALSE(u.Run());
  EXPECT_NE(u.StopReason().find("Salry"), std::string::npos) << u.StopReason();
  u.SetFieldName("X");
  EXPECT_TRUE(u.Run());
  EXPECT_EQ(u.StopReason(), "");

  QelOutlier o;
  o.SetDataSource(table);
  o.SetOutlierField("Salry");
  EXPECT_FALSE(o.Run());
  EXPECT_NE(o.StopReason().find("Salry"), std::string::npos) << o.StopReason();
  o.SetOutlierField("X");
  EXPECT_TRUE(o.Run());
  EXPECT_EQ(o.StopReason(), "");

  QelBivariate b;
  b.SetDataSource(table);
  b.SetPredictorField("X");
  b.SetTargetField("Salry");
  b.SetBinCount(2);
  b.SetshowStatus(false);
  EXPECT_FALSE(b.Run());
  EXPECT_NE(b.StopReason().find("Salry"), std::string::npos) << b.StopReason();
  b.SetBinCount(0);
  EXPECT_FALSE(b.Run());
  EXPECT_EQ(b.StopReason(), "Bin Count is invalid. Integer values >0 are required.");
  b.SetBinCount(2);
  b.SetTargetField("T");
  EXPECT_TRUE(b.Run());
  EXPECT_EQ(b.StopReason(), "");
}

// Binary data reads as text ("0x..."): every run refuses it before its first
// record, naming the field.
TEST(NonNumericFields, BinaryTypesAreRefusedUpFront) {
  RecordingPresenter presenter;
  ScopedPresenter use(&presenter);
  for (int type : {qeldata::adBinary, qeldata::adVarBinary, qeldata::adLongVarBinary}) {
    auto table = testing::Table({{"X"}, {"Blob", type, 16}}, {{1.0, Value("0x01")}, {2.0, Value("0x02")}});
    QelUnivariate u;
    u.SetDataSource(table);
    u.SetFieldName("Blob");
    EXPECT_FALSE(u.Run());
    EXPECT_EQ(u.StopReason(), "Numeric Data types only: field 'Blob' holds binary data") << type;
    EXPECT_EQ(u.N(), 0);

    QelOutlier o;
    o.SetDataSource(table);
    o.SetOutlierField("Blob");
    EXPECT_FALSE(o.Run());
    EXPECT_EQ(o.StopReason(), "Numeric Data types only: field 'Blob' holds binary data") << type;

    QelBivariate b;
    b.SetDataSource(table);
    b.SetPredictorField("X");
    b.SetTargetField("Blob");
    b.SetBinCount(2);
    b.SetshowStatus(false);
    EXPECT_FALSE(b.Run());
    EXPECT_EQ(b.StopReason(), "Numeric Data types only: field 'Blob' holds binary data") << type;
    EXPECT_EQ(b.N(), 0);
  }
}

}  // namespace
}  // namespace qel
