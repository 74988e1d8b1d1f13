#include "qelStatsLib/QelBivariate.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "qelStatsLib/modBivariate.h"
#include "qelStatsLib/presenter.h"
#include "qelStatsLib/recording_presenter.h"

namespace qel {
namespace {

using qeldata::Recordset;

// An in-memory table P, T with the predictor values 1..n and target = value.
std::shared_ptr<Recordset> Numbers(int n) {
  auto rs = std::make_shared<Recordset>();
  rs->GetFields().Append("P", qeldata::adDouble);
  rs->GetFields().Append("T", qeldata::adDouble);
  rs->Open();
  for (int i = 1; i <= n; ++i) {
    rs->AddNew();
    rs->SetCollect("P", i);
    rs->SetCollect("T", i);
    rs->Update();
  }
  rs->MoveFirst();
  return rs;
}

std::vector<std::string> Columns(Recordset& rs) {
  std::vector<std::string> names;
  for (int i = 0; i < rs.GetFields().Count(); ++i) names.push_back(rs.GetFields().Item(i).Name());
  return names;
}

class QelBivariateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BivariateRunRecord() = BivariateRecord{};
    CancelFlag() = false;
  }
  void TearDown() override { CancelFlag() = false; }

  // An object ready to run over `data` without a window.
  static void Prepare(QelBivariate& biv, std::shared_ptr<Recordset> data, std::int16_t bins = 2) {
    biv.SetDataSource(std::move(data));
    biv.SetPredictorField("P");
    biv.SetTargetField("T");
    biv.SetBinCount(bins);
    biv.SetshowStatus(false);
  }

  RecordingPresenter presenter_;
  ScopedPresenter use_{&presenter_};
};

TEST_F(QelBivariateTest, NewObjectDefaults) {
  QelBivariate biv;
  EXPECT_EQ(biv.BinCount(), 20);
  EXPECT_TRUE(biv.showStatus());
  EXPECT_FALSE(biv.Categorical());
  EXPECT_EQ(biv.PredictorField(), "");
  EXPECT_EQ(biv.TargetField(), "");
  EXPECT_EQ(biv.WeightField(), "");
  EXPECT_EQ(biv.TargetMean() + biv.N() + biv.Missing() + biv.DI() + biv.PSI(), 0);
  EXPECT_EQ(biv.ResultSet(), nullptr);
  EXPECT_EQ(biv.DataSource(), nullptr);
}

TEST_F(QelBivariateTest, RunProducesResultsAndIndependentClones) {
  QelBivariate biv;
  auto data = Numbers(10);
  Prepare(biv, data, 4);
  EXPECT_TRUE(biv.Run());
  EXPECT_EQ(biv.N(), 10);
  EXPECT_DOUBLE_EQ(biv.TargetMean(), 5.5);
  EXPECT_EQ(biv.Cardinality(), 10);
  EXPECT_FALSE(biv.Categorical());
  EXPECT_GT(biv.PSI(), 0);
  EXPECT_TRUE(data->IsEOF());  // the caller's recordset was read directly
  EXPECT_EQ(biv.DataSource(), data);
  auto a = biv.ResultSet(), b = biv.ResultSet();
  ASSERT_TRUE(a && b);
  EXPECT_NE(a, b);
  EXPECT_EQ(a->RecordCount(), 4);
  a->MoveNext();
  EXPECT_EQ(b->AbsolutePosition(), 0);
  EXPECT_EQ(Columns(*a), (std::vector<std::string>{"Bin", "N", "Min P", "Max P", "Mean T", "Index"}));
  EXPECT_TRUE(presenter_.messages().empty());
}

TEST_F(QelBivariateTest, BlankAndInvalidInputsAreRefusedWithTheirMessages) {
  struct Case {
    const char* source;
    const char* connection;
    const char* predictor;
    const char* target;
    std::int16_t bins;
    const char* message;
  };
  const Case cases[] = {
      {"  ", "", "P", "T", 5, "Error: Source parameter is missing or blank."},
      {"t.csv", " ", "P", "T", 5, "Error: Connection String parameter is missing or blank."},
  };
  for (const Case& c : cases) {
    presenter_.Clear();
    QelBivariate biv;
    biv.SetSource(c.source);
    biv.SetConnectionString(c.connection);
    biv.SetPredictorField(c.predictor);
    biv.SetTargetField(c.target);
    biv.SetBinCount(c.bins);
    EXPECT_FALSE(biv.Run());
    EXPECT_EQ(presenter_.messages(), std::vector<std::string>{c.message});
  }

  // With an in-memory DataSource, Source and ConnectionString may be blank.
  const std::pair<std::function<void(QelBivariate&)>, const char*> field_cases[] = {
      {[](QelBivariate& b) { b.SetPredictorField(" "); }, "Error: Predictor Field is missing or blank."},
      {[](QelBivariate& b) { b.SetTargetField(""); }, "Error: Target Field parameter is missing or blank."},
      {[](QelBivariate& b) { b.SetBinCount(0); }, "Error: Bin Count is invalid. Integer values >0 are required."},
      {[](QelBivariate& b) { b.SetBinCount(-3); }, "Error: Bin Count is invalid. Integer values >0 are required."},
  };
  for (const auto& [spoil, message] : field_cases) {
    presenter_.Clear();
    QelBivariate biv;
    Prepare(biv, Numbers(3));
    spoil(biv);
    EXPECT_FALSE(biv.Run());
    EXPECT_EQ(presenter_.messages(), std::vector<std::string>{message});
    EXPECT_EQ(presenter_.windows_loaded(), 0);
  }
}

TEST_F(QelBivariateTest, AFailedCheckKeepsTheTableAndTakesTheThreadsResults) {
  QelBivariate biv;
  Prepare(biv, Numbers(10), 4);
  ASSERT_TRUE(biv.Run());
  biv.SetDataSource(Numbers(3));
  biv.SetBinCount(0);
  biv.SetCategorical(true);
  EXPECT_FALSE(biv.Run());
  ASSERT_TRUE(biv.ResultSet());
  EXPECT_EQ(biv.ResultSet()->RecordCount(), 4);  // the previous run's table
  EXPECT_EQ(biv.N(), 10);
  EXPECT_FALSE(biv.Categorical());  // the run record's value undoes the caller's
}

TEST_F(QelBivariateTest, ObjectsOnOneThreadShareCardinality) {
  QelBivariate a, b;
  Prepare(a, Numbers(10), 4);
  Prepare(b, Numbers(3), 4);
  ASSERT_TRUE(a.Run());
  EXPECT_EQ(a.Cardinality(), 10);
  ASSERT_TRUE(b.Run());
  EXPECT_EQ(a.Cardinality(), 3);
  EXPECT_EQ(a.N(), 10);
  EXPECT_TRUE(b.Categorical());
  EXPECT_FALSE(a.Categorical());
}

TEST_F(QelBivariateTest, AfterAFailedRunResultSetIsTheEmptyTableUntilTheNextRun) {
  QelBivariate biv;
  Prepare(biv, Numbers(5));
  biv.SetTargetField("Salry");
  EXPECT_FALSE(biv.Run());
  ASSERT_EQ(presenter_.messages().size(), 1u);
  EXPECT_EQ(presenter_.messages()[0].rfind("Com_Bivariate: Bivariate_Run ", 0), 0u);
  auto empty = biv.ResultSet();
  ASSERT_TRUE(empty);
  EXPECT_EQ(Columns(*empty), (std::vector<std::string>{"Bin", "N", "Min ", "Max ", "Mean ", "Index"}));
  EXPECT_EQ(empty->RecordCount(), 0);
  EXPECT_EQ(empty->GetFields().Item(4).Type(), qeldata::adVarWChar);
  EXPECT_EQ(empty->GetFields().Item(4).DefinedSize(), 255);
  // Another object on the thread sees the same.
  EXPECT_TRUE(QelBivariate().ResultSet());

  // The next run, even without a window, starts afresh.
  biv.SetDataSource(Numbers(5));
  biv.SetTargetField("T");
  EXPECT_TRUE(biv.Run());
  EXPECT_EQ(biv.ResultSet()->RecordCount(), 2);
}

TEST_F(QelBivariateTest, CancelledRunStoresNoTable) {
  QelBivariate biv;
  Prepare(biv, Numbers(10));
  biv.SetshowStatus(true);
  presenter_.PressCancelAtCheckpoint(4);
  EXPECT_FALSE(biv.Run());
  EXPECT_TRUE(presenter_.messages().empty());
  EXPECT_EQ(presenter_.windows_open(), 0);
  EXPECT_EQ(biv.N(), 10);
  EXPECT_EQ(biv.ResultSet()->RecordCount(), 0);
}

TEST_F(QelBivariateTest, ForcedCategoricalStaysTrue) {
  QelBivariate biv;
  Prepare(biv, Numbers(30), 2);
  biv.SetCategorical(true);
  EXPECT_TRUE(biv.Run());
  EXPECT_TRUE(biv.Categorical());
  EXPECT_EQ(biv.ResultSet()->RecordCount(), 30);
}

TEST_F(QelBivariateTest, DataSourceWithAConnectionIsReopenedFromItsSource) {
  QelBivariate biv;
  biv.SetSource("old");
  auto data = Numbers(3);
  biv.SetDataSource(data);  // in memory: Source and ConnectionString stay
  EXPECT_EQ(biv.Source(), "old");
  data->SetActiveConnection(std::make_shared<qeldata::Connection>("Driver=Nowhere;Server=none"));
  biv.SetDataSource(data);
  EXPECT_EQ(biv.ConnectionString(), "Driver=Nowhere;Server=none");
  EXPECT_EQ(biv.Source(), "");
  biv.SetSource("select * from t");
  biv.SetPredictorField("P");
  biv.SetTargetField("T");
  biv.SetshowStatus(false);
  EXPECT_FALSE(biv.Run());  // opens its own recordset, which fails here
  ASSERT_EQ(presenter_.messages().size(), 1u);
  EXPECT_EQ(presenter_.messages()[0].rfind("Error: ", 0), 0u);
  EXPECT_FALSE(data->IsEOF());  // the caller's recordset was not read

  EXPECT_THROW(biv.SetDataSource(nullptr), qeldata::Error);
  EXPECT_EQ(biv.DataSource(), nullptr);
}

}  // namespace
}  // namespace qel
