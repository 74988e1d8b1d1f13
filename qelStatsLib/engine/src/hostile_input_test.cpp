// Hostile values through the three analyses: each gets a correct result or a
// failure through the analysis's own failure path with a reason that says
// what and where. No value silently becomes null or zero.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "qelStatsLib/QelBivariate.h"
#include "qelStatsLib/QelOutlier.h"
#include "qelStatsLib/QelUnivariate.h"
#include "qelStatsLib/modUnivariate.h"
#include "qelStatsLib/recording_presenter.h"
#include "qeltesting/temp_folder.h"

namespace qel {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// An in-memory table with a numeric field "v" and a target "t" (= 1 each).
std::shared_ptr<qeldata::Recordset> Table(const std::vector<qeldata::Value>& values) {
  auto rs = std::make_shared<qeldata::Recordset>();
  rs->GetFields().Append("v", qeldata::adDouble, 8, qeldata::adFldIsNullable);
  rs->GetFields().Append("t", qeldata::adDouble, 8, qeldata::adFldIsNullable);
  rs->Open();
  for (const auto& v : values) {
    rs->AddNew();
    rs->GetFields().Item(0).SetValue(v);
    rs->GetFields().Item(1).SetValue(1.0);
    rs->Update();
  }
  return rs;
}

struct Outcome {
  bool univariate = false;
  std::string univariate_reason;
  double univariate_n = 0, cardinality = 0, mean = 0;
  bool outlier = false;
  std::string outlier_reason;
  std::vector<std::string> bivariate_messages;
};

Outcome RunAll(const std::shared_ptr<qeldata::Recordset>& table) {
  Outcome out;
  RecordingPresenter rec;
  ScopedPresenter use(&rec);
  QelUnivariate u;
  u.SetFieldName("v");
  u.SetDataSource(table);
  out.univariate = u.Run();
  out.univariate_reason = LastStopReason();
  out.univariate_n = u.N();
  out.cardinality = u.Cardinality();
  out.mean = u.Mean();
  QelOutlier o;
  o.SetOutlierField("v");
  o.SetFindType(outSTD);
  o.SetTypeParm(2);
  o.SetDataSource(table);
  out.outlier = o.Run();
  out.outlier_reason = o.StopReason();
  QelBivariate b;
  b.SetPredictorField("t");
  b.SetTargetField("v");
  b.SetBinCount(2);
  b.SetDataSource(table);
  b.Run();
  // And the same values as the predictor, cut into bins.
  QelBivariate p;
  p.SetPredictorField("v");
  p.SetTargetField("t");
  p.SetBinCount(2);
  p.SetDataSource(table);
  p.Run();
  out.bivariate_messages = rec.messages();
  return out;
}

TEST(HostileValues, NaNAndInfinitiesFailNamingTheRecord) {
  const double inf = std::numeric_limits<double>::infinity();
  for (const double bad : {std::nan(""), inf, -inf}) {
    const Outcome out = RunAll(Table({1.0, 2.0, bad, 4.0}));
    const std::string text = qeldata::NumberText(bad);
    EXPECT_FALSE(out.univariate) << text;
    EXPECT_TRUE(Contains(out.univariate_reason, "3")) << out.univariate_reason;  // the record
    EXPECT_FALSE(out.outlier) << text;
    EXPECT_TRUE(Contains(out.outlier_reason, "record 3")) << out.outlier_reason;
    ASSERT_EQ(out.bivariate_messages.size(), 2u) << text;  // as the target, then as the predictor
    for (const std::string& m : out.bivariate_messages) {
      EXPECT_TRUE(Contains(m, "Com_Bivariate: Bivariate_Run ")) << m;
      EXPECT_TRUE(Contains(m, "'" + text + "' is not a finite number (field 'v', record 3)")) << m;
    }
  }
}

TEST(HostileValues, NumbersWhoseTextFormOverflowsAreNotTalliedAsZero) {
  // 1.7976931348623157E+308 prints as 1.79769313486232E+308, which lies beyond
  // the largest double: such a value must stop the run, not count as 0.
  const double top = std::numeric_limits<double>::max();
  const Outcome out = RunAll(Table({top, 1.0, 2.0}));
  EXPECT_FALSE(out.univariate);
  EXPECT_FALSE(out.outlier);
  EXPECT_FALSE(out.outlier_reason.empty());
  // As a target it is a finite number, but the spread of the bin means
  // around it overflows: PSI takes the error path. As a predictor it has no
  // text form to bin by.
  ASSERT_EQ(out.bivariate_messages.size(), 2u);
  EXPECT_TRUE(Contains(out.bivariate_messages[0], "Overflow: PSI")) << out.bivariate_messages[0];
  EXPECT_TRUE(Contains(out.bivariate_messages[1], "'1.79769313486232E+308' is not a finite number"))
      << out.bivariate_messages[1];
  // Large values whose text form reads back, and whose squares fit, are ordinary values.
  const Outcome fine = RunAll(Table({1e150, 1e150, 2e149, 2e149, 1e149}));
  EXPECT_TRUE(fine.univariate) << fine.univariate_reason;
  EXPECT_EQ(fine.cardinality, 3);
}

TEST(HostileValues, NegativeZeroAndDigitsBeyondFifteenFoldIntoOneValue) {
  // Values that print alike are one value: -0 is 0, and digits beyond the
  // fifteenth do not make a new value.
  const Outcome zeros = RunAll(Table({-0.0, 0.0, -0.0, 1.0}));
  EXPECT_TRUE(zeros.univariate) << zeros.univariate_reason;
  EXPECT_EQ(zeros.cardinality, 2);
  const Outcome digits = RunAll(Table({1.0000000000000002, 1.0, 0.1 + 0.2, 0.3}));
  EXPECT_TRUE(digits.univariate) << digits.univariate_reason;
  EXPECT_EQ(digits.cardinality, 2);
  EXPECT_TRUE(digits.outlier) << digits.outlier_reason;
  EXPECT_TRUE(digits.bivariate_messages.empty());
}

class HostileFiles : public ::testing::Test {
 protected:
  void Write(const std::string& bytes) { std::ofstream(folder_ / "h.csv", std::ios::binary) << bytes; }

  std::unique_ptr<QelUnivariate> Univariate(const std::string& field) {
    auto u = std::make_unique<QelUnivariate>();
    u->SetConnectionString("Text;DBQ=" + folder_.string());
    u->SetSource("h.csv");
    u->SetFieldName(field);
    return u;
  }

  qel::testing::TempFolder temp_{"hostile_input"};
  const fs::path& folder_ = temp_.path();
};

TEST_F(HostileFiles, WordsInANumericLookingColumnStopTheRunNotBecomeZero) {
  for (const char* word : {"NaN", "inf", "1e400", "\"1,5\""}) {
    Write(std::string("v\n1\n2\n") + word + "\n");
    auto u = Univariate("v");
    EXPECT_FALSE(u->Run()) << word;
    EXPECT_EQ(LastStopReason(), "Numeric Data types only") << word;
    EXPECT_EQ(u->N(), 0) << word;
  }
}

TEST_F(HostileFiles, FieldNamesWithBlanksAndNonAsciiLetters) {
  Write("Home Runs,Gr\xc3\xb6\xc3\x9f" "e\n1,10\n2,20\n3,30\n4,40\n5,50\n");
  auto u = Univariate("Home Runs");
  ASSERT_TRUE(u->Run()) << LastStopReason();
  EXPECT_EQ(u->Mean(), 3);
  auto g = Univariate("Gr\xc3\xb6\xc3\x9f" "e");
  ASSERT_TRUE(g->Run()) << LastStopReason();
  EXPECT_EQ(g->Mean(), 30);
  auto missing = Univariate("Home  Runs");
  EXPECT_FALSE(missing->Run());
  EXPECT_TRUE(Contains(LastStopReason(), "Home  Runs")) << LastStopReason();
}

TEST_F(HostileFiles, MalformedFilesReachTheCallerWithFileAndLine) {
  // Opening reads the whole file first: a malformed one fails before the run,
  // with the data layer's own message, unchanged.
  for (const std::string& bytes : {std::string("v\n1\n\"2\n3\n"), std::string("v,w\n1,2\n3\n"),
                                   std::string("v\n1\n\xff\n"), std::string("v\n1\n2\0\n", 7)}) {
    Write(bytes);
    auto u = Univariate("v");
    try {
      u->Run();
      ADD_FAILURE() << "opened: " << bytes;
    } catch (const qeldata::Error& e) {
      EXPECT_TRUE(Contains(e.what(), "h.csv line ")) << e.what();
    }
  }
}

TEST_F(HostileFiles, ThreeMillionDistinctValues) {
  std::string text = "v\n";
  text.reserve(30u << 20);
  constexpr int kCount = 3'000'000;
  // A scrambled order, so that neither the tally nor the sort sees a run.
  for (std::int64_t i = 0; i < kCount; ++i) text += std::to_string((i * 1'000'003) % kCount) + "\n";
  Write(text);
  text.clear();
  const auto start = Clock::now();
  auto u = Univariate("v");
  ASSERT_TRUE(u->Run()) << LastStopReason();
  EXPECT_EQ(u->N(), kCount);
  EXPECT_EQ(u->Cardinality(), kCount);
  EXPECT_EQ(u->Uniques(), kCount);
  EXPECT_EQ(u->Min(), 0);
  EXPECT_EQ(u->Max(), kCount - 1);
  EXPECT_DOUBLE_EQ(u->Mean(), (kCount - 1) / 2.0);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(120));
}

TEST_F(HostileFiles, TenMillionIdenticalValues) {
  std::string text = "v\n";
  text.reserve(21u << 20);
  for (int i = 0; i < 10'000'000; ++i) text += "7\n";
  Write(text);
  text.clear();
  const auto start = Clock::now();
  auto u = Univariate("v");
  ASSERT_TRUE(u->Run()) << LastStopReason();
  EXPECT_EQ(u->N(), 1e7);
  EXPECT_EQ(u->Cardinality(), 1);
  EXPECT_EQ(u->Median(), 7);
  EXPECT_EQ(u->Variance(), 0);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(120));

  // The run tallies before it sorts: the sort sees one value, never the ten
  // million equal ones that would make its partition quadratic.
}

}  // namespace
}  // namespace qel
