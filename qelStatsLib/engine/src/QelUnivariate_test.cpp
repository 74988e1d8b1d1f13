#include "qelStatsLib/QelUnivariate.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "qelStatsLib/presenter.h"
#include "qeldata/error.h"
#include "qeldata/recordset.h"

namespace qel {
namespace {

namespace fs = std::filesystem;
using qeldata::Value;

// A folder of CSV files for one test, removed afterwards.
class CsvFolder {
 public:
  CsvFolder() {
    path_ = fs::temp_directory_path() /
            ("qel_univariate_" + std::to_string(::getpid()) + "_" + std::to_string(counter_++));
    fs::create_directories(path_);
  }
  ~CsvFolder() { fs::remove_all(path_); }
  void Write(const std::string& name, const std::string& text) const { std::ofstream(path_ / name) << text; }
  std::string Connection() const { return "Text;DBQ=" + path_.string(); }

 private:
  static inline int counter_ = 0;
  fs::path path_;
};

std::shared_ptr<qeldata::Recordset> InMemory(std::initializer_list<double> xs) {
  auto rs = std::make_shared<qeldata::Recordset>();
  rs->GetFields().Append("X", qeldata::adDouble);
  rs->Open();
  for (double x : xs) {
    rs->AddNew();
    rs->SetCollect("X", Value(x));
    rs->Update();
  }
  return rs;
}

// Runs `u` and returns the description of the error it raises ("" if none).
std::string RaisedBy(QelUnivariate& u, std::int32_t* number = nullptr, std::string* source = nullptr) {
  try {
    u.Run();
  } catch (const qeldata::Error& e) {
    if (number) *number = e.number();
    if (source) *source = e.source();
    return e.description();
  }
  return "";
}

TEST(QelUnivariate, ChecksSourceThenConnectionThenOpensThenFieldName) {
  CsvFolder folder;
  folder.Write("data.csv", "X\n1\n2\n2\n3\n10\n");
  QelUnivariate u;
  std::int32_t number = 0;
  std::string source;
  EXPECT_EQ(RaisedBy(u, &number, &source), "Source parameter is missing or blank.");
  EXPECT_EQ(number, qeldata::kErrLibraryInput);
  EXPECT_EQ(source, "Build Univariates");

  u.SetSource("   ");
  EXPECT_EQ(RaisedBy(u), "Source parameter is missing or blank.");
  u.SetSource("data.csv");
  u.SetConnectionString("  ");
  EXPECT_EQ(RaisedBy(u), "Connection String parameter is missing or blank.");

  // The input is opened before FieldName is checked: a missing file is
  // reported first, as the data layer reports it.
  u.SetConnectionString(folder.Connection());
  u.SetSource("nothing.csv");
  number = 0;
  const std::string open_error = RaisedBy(u, &number, &source);
  EXPECT_NE(open_error, "");
  EXPECT_NE(number, qeldata::kErrLibraryInput);
  EXPECT_NE(source, "Build Univariates");

  u.SetSource("data.csv");
  u.SetFieldName("  ");
  EXPECT_EQ(RaisedBy(u, &number), "Univariate Fieldname is missing or blank.");
  EXPECT_EQ(number, qeldata::kErrLibraryInput);

  // Correcting the property is enough for the same object to run.
  u.SetFieldName("X");
  EXPECT_TRUE(u.Run());
  EXPECT_EQ(u.N(), 5);
  EXPECT_DOUBLE_EQ(u.Mean(), 3.6);
  EXPECT_EQ(u.Median(), 2);
}

TEST(QelUnivariate, ConnectedDataSourceIsReopenedFromItsCopiedStrings) {
  CsvFolder folder;
  folder.Write("a.csv", "X,W\n1,2\n2,1\n4,1\n,1\n3,\n");
  folder.Write("b.csv", "X\n100\n200\n300\n400\n");
  auto rs = std::make_shared<qeldata::Recordset>();
  rs->SetCursorLocation(qeldata::adUseClient);
  rs->Open("select * from [a.csv]", folder.Connection(), qeldata::adOpenStatic, qeldata::adLockReadOnly, -1);
  rs->MoveLast();

  QelUnivariate u;
  u.SetDataSource(rs);
  EXPECT_EQ(u.ConnectionString(), folder.Connection());
  EXPECT_EQ(u.Source(), "select * from [a.csv]");
  EXPECT_EQ(u.DataSource(), rs);

  u.SetFieldName("X");
  u.SetWeightField("W");
  ASSERT_TRUE(u.Run());
  // The caller's recordset was not read: its cursor stays on its last record.
  EXPECT_FALSE(rs->IsEOF());
  EXPECT_EQ(u.WgtN(), 4);
  EXPECT_EQ(u.Missing(), 2);
  EXPECT_EQ(u.Median(), 1.5);

  // The strings were copied when DataSource was set; a later Source wins.
  u.SetSource("b.csv");
  u.SetWeightField("");
  ASSERT_TRUE(u.Run());
  EXPECT_EQ(u.Mean(), 250);
}

TEST(QelUnivariate, DisconnectedDataSourceIsReadItself) {
  auto rs = InMemory({1, 2, 2, 3, 10});
  QelUnivariate u;
  u.SetDataSource(rs);
  EXPECT_EQ(u.Source(), "");
  u.SetFieldName("X");
  // No Source and no ConnectionString are needed; FieldName still is.
  ASSERT_TRUE(u.Run());
  EXPECT_TRUE(rs->IsEOF());
  EXPECT_NEAR(u.Kurtosis(), 4.27214653174, 1e-10);
  EXPECT_EQ(rs.use_count(), 2);  // the test's and the object's: the input was released

  u.SetFieldName("");
  EXPECT_EQ(RaisedBy(u), "Univariate Fieldname is missing or blank.");
  EXPECT_EQ(rs.use_count(), 2);
}

TEST(QelUnivariate, EmptyDataSourceIsStoredThenRefused) {
  QelUnivariate u;
  u.SetDataSource(InMemory({1, 2}));
  try {
    u.SetDataSource(nullptr);
    FAIL() << "an empty DataSource was accepted";
  } catch (const qeldata::Error& e) {
    EXPECT_EQ(e.number(), qeldata::kErrObjectRequired);
    EXPECT_EQ(e.description(), "Object required");
  }
  EXPECT_EQ(u.DataSource(), nullptr);
  u.SetFieldName("X");
  EXPECT_EQ(RaisedBy(u), "Source parameter is missing or blank.");
}

TEST(QelUnivariate, RaisedErrorsKeepResultsAndFalseRunsReplaceThem) {
  QelUnivariate u;
  u.SetDataSource(InMemory({1, 2, 2, 3, 10}));
  u.SetFieldName("X");
  ASSERT_TRUE(u.Run());

  u.SetFieldName(" ");
  EXPECT_NE(RaisedBy(u), "");
  EXPECT_EQ(u.N(), 5);
  EXPECT_EQ(u.Mode(), 2);

  // Another object's run on this thread does not reach this one's results.
  QelUnivariate other;
  other.SetDataSource(InMemory({7, 8, 9, 10}));
  other.SetFieldName("X");
  ASSERT_TRUE(other.Run());
  EXPECT_EQ(u.Mean(), 3.6);

  // A run that stops early replaces all 21 results.
  u.SetFieldName("Y");
  EXPECT_FALSE(u.Run());
  for (double v : {u.Uniques(), u.CV(), u.Kurtosis(), u.Skewness(), u.Q3(), u.Q1(), u.IQR(), u.Median(), u.Range(),
                   u.Mode(), u.WgtN(), u.Sum(), u.Max(), u.Min(), u.TrimmedMean(), u.Mean(), u.Variance(),
                   u.Stdev(), u.Cardinality(), u.N(), u.Missing()})
    EXPECT_EQ(v, 0);
}

class CountingPresenter final : public Presenter {
 public:
  int windows = 0;
  std::unique_ptr<ProgressWindow> LoadProgressWindow() override {
    ++windows;
    return SilentPresenter().LoadProgressWindow();
  }
  void ShowMessage(const std::string&) override {}
};

TEST(QelUnivariate, ShowStatusReachesTheRun) {
  CountingPresenter presenter;
  ScopedPresenter scope(&presenter);
  QelUnivariate u;
  u.SetDataSource(InMemory({1, 2, 3, 4}));
  u.SetFieldName("X");
  ASSERT_TRUE(u.Run());
  EXPECT_EQ(presenter.windows, 0);
  u.SetshowStatus(true);
  ASSERT_TRUE(u.Run());
  EXPECT_EQ(presenter.windows, 1);
}

}  // namespace
}  // namespace qel
