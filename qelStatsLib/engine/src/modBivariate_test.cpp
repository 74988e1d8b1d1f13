#include "qelStatsLib/modBivariate.h"

#include <gtest/gtest.h>

#include "bivariate_rounding.h"
#include "modQuickSort.h"

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "qelStatsLib/presenter.h"
#include "qelStatsLib/recording_presenter.h"
#include "qeltesting/tables.h"

namespace qel {
namespace {

using qeldata::Recordset;
using qeldata::Value;
using Rows = std::vector<std::vector<std::string>>;

struct Record {
  Value p, t, w = 1.0;
};

// An in-memory input with the columns P (of `predictor_type`), T and W.
std::shared_ptr<Recordset> Input(int predictor_type, const std::vector<Record>& records) {
  auto rs = std::make_shared<Recordset>();
  auto fields = rs->GetFields();
  fields.Append("P", predictor_type, qeldata::IsTextType(predictor_type) ? 255 : 0);
  fields.Append("T", qeldata::adDouble);
  fields.Append("W", qeldata::adDouble);
  rs->Open();
  for (const Record& r : records) {
    rs->AddNew();
    fields.Item(0).SetValue(r.p);
    fields.Item(1).SetValue(r.t);
    fields.Item(2).SetValue(r.w);
    rs->Update();
  }
  rs->MoveFirst();
  return rs;
}

// Predictor values with their weights, target = the value itself.
std::shared_ptr<Recordset> Weighted(const std::vector<double>& values, const std::vector<double>& weights) {
  std::vector<Record> records;
  for (std::size_t i = 0; i < values.size(); ++i) records.push_back({values[i], values[i], weights[i]});
  return Input(qeldata::adDouble, records);
}

Rows Read(Recordset& rs) {
  Rows rows;
  auto fields = rs.GetFields();
  for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext()) {
    std::vector<std::string> row;
    for (int i = 0; i < fields.Count(); ++i) row.push_back(fields.Item(i).GetValue().AsText());
    rows.push_back(row);
  }
  return rows;
}

class BivariateRunTest : public ::testing::Test {
 protected:
  void SetUp() override { BivariateRunRecord() = BivariateRecord{}; }

  // Runs over P and T (and W when `weighted`), no window.
  std::shared_ptr<Recordset> Run(Recordset& rs, std::int16_t bins, bool weighted = false, bool show = false) {
    return Bivariate_Run(rs, "P", "T", show, weighted ? "W" : "", bins);
  }
  // Bin, N, Min, Max of each row.
  static Rows Ranges(Recordset& rs) {
    Rows rows = Read(rs);
    for (auto& r : rows) r.resize(4);
    return rows;
  }

  RecordingPresenter presenter_;
  ScopedPresenter use_{&presenter_};
};

// ---- Bins ----

TEST_F(BivariateRunTest, TenEqualValuesInFourBinsKeepTheTieInBinTwo) {
  std::vector<double> v;
  for (int i = 1; i <= 10; ++i) v.push_back(i);
  auto table = Run(*Weighted(v, std::vector<double>(10, 1)), 4);
  ASSERT_TRUE(table);
  EXPECT_EQ(Ranges(*table),
            (Rows{{"1", "3", "1", "3"}, {"2", "3", "4", "6"}, {"3", "2", "7", "8"}, {"4", "2", "9", "10"}}));
  EXPECT_FALSE(BivariateRunRecord().Categorical);
  EXPECT_EQ(BivariateRunRecord().Cardinality, 10);
}

TEST_F(BivariateRunTest, HeavyValuesShapeTheBins) {
  // A heavy last value: the share never passes 0.25 before it, so one bin.
  auto last = Run(*Weighted({1, 2, 3, 4, 5}, {1, 1, 1, 1, 16}), 4, true);
  ASSERT_TRUE(last);
  EXPECT_EQ(Ranges(*last), (Rows{{"1", "20", "1", "5"}}));
  // A heavy first value: each of the next three values opens a bin at once.
  auto first = Run(*Weighted({1, 2, 3, 4, 5}, {16, 1, 1, 1, 1}), 4, true);
  ASSERT_TRUE(first);
  EXPECT_EQ(Ranges(*first),
            (Rows{{"1", "16", "1", "1"}, {"2", "1", "2", "2"}, {"3", "1", "3", "3"}, {"4", "2", "4", "5"}}));
  // The last value opening a bin of its own: its Min and Max are that value.
  auto alone = Run(*Weighted({1, 2, 3, 4, 5}, {1, 1, 1, 1, 1}), 4, true);
  ASSERT_TRUE(alone);
  EXPECT_EQ(Read(*alone).back()[2], "5");
  EXPECT_EQ(Read(*alone).back()[3], "5");
  // One bin asked for: the whole range.
  auto one = Run(*Weighted({3, -1, 0, 7.5}, {1, 1, 1, 1}), 1);
  ASSERT_TRUE(one);
  EXPECT_EQ(Ranges(*one), (Rows{{"1", "4", "-1", "7.5"}}));
}

TEST_F(BivariateRunTest, BinnedValuesAndMeansAreRoundedToFiveDecimalsHalvesToEven) {
  // Bins {2.1234567, 2.5}, {3.5}, {4.25}. The predictor shows as 2.12346;
  // the means are 1/64 = 0.015625 (an exact tie, to 0.01562) and 3/64 (to 0.04688).
  auto table =
      Run(*Input(qeldata::adDouble, {{2.1234567, 0.015625}, {2.5, 0.015625}, {3.5, 0.046875}, {4.25, 0.046875}}), 3);
  ASSERT_TRUE(table);
  const Rows rows = Read(*table);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0][2], "2.12346");
  EXPECT_EQ(rows[0][4], "0.01562");
  EXPECT_EQ(rows[1][4], "0.04688");
  EXPECT_EQ(table->GetFields().Item(2).Name(), "Min P");
  EXPECT_EQ(table->GetFields().Item(4).Name(), "Mean T");
}

TEST_F(BivariateRunTest, TheCategoricalDecision) {
  std::vector<Record> five;
  for (int i = 1; i <= 5; ++i) five.push_back({i, i});
  Run(*Input(qeldata::adDouble, five), 5);
  EXPECT_TRUE(BivariateRunRecord().Categorical);
  BivariateRunRecord().Categorical = false;
  auto binned = Run(*Input(qeldata::adDouble, five), 4);
  EXPECT_FALSE(BivariateRunRecord().Categorical);
  EXPECT_EQ(Read(*binned).size(), 4u);

  // Text is categorical whatever BinCount says, sorted in binary order.
  BivariateRunRecord().Categorical = false;
  auto towns = Run(*Input(qeldata::adVarWChar, {{"B", 1}, {"A", 2}, {"C", 3}, {"a", 4}, {"B", 5}}), 1);
  ASSERT_TRUE(towns);
  EXPECT_TRUE(BivariateRunRecord().Categorical);
  EXPECT_EQ(Ranges(*towns),
            (Rows{{"1", "1", "A", "A"}, {"2", "2", "B", "B"}, {"3", "1", "C", "C"}, {"4", "1", "a", "a"}}));
  EXPECT_EQ(Read(*towns)[1][4], "3");
}

TEST_F(BivariateRunTest, NumbersSortByValueUnlessForcedToText) {
  std::vector<Record> records = {{10, 1}, {9, 2}, {100, 3}, {-0.0, 4}, {0, 5}, {-2.5, 6}};
  auto numeric = Run(*Input(qeldata::adDouble, records), 10);
  ASSERT_TRUE(numeric);
  std::vector<std::string> mins;
  for (const auto& r : Read(*numeric)) mins.push_back(r[2]);
  // -0 and 0 are one value.
  EXPECT_EQ(mins, (std::vector<std::string>{"-2.5", "0", "9", "10", "100"}));

  BivariateRunRecord().Categorical = true;
  auto forced = Run(*Input(qeldata::adDouble, records), 1);
  ASSERT_TRUE(forced);
  mins.clear();
  for (const auto& r : Read(*forced)) mins.push_back(r[2]);
  EXPECT_EQ(mins, (std::vector<std::string>{"-2.5", "0", "10", "100", "9"}));
}

TEST_F(BivariateRunTest, DatesAreKeyedByTheirIsoText) {
  const qeldata::Date d1{2024, 3, 1}, d2{2023, 12, 31, 13, 5, 0};
  auto table = Run(*Input(qeldata::adDate, {{d1, 1}, {d2, 2}, {d1, 3}}), 20);
  ASSERT_TRUE(table);
  EXPECT_EQ(Ranges(*table),
            (Rows{{"1", "1", "2023-12-31 13:05:00", "2023-12-31 13:05:00"}, {"2", "2", "2024-03-01", "2024-03-01"}}));
}

// ---- Indices ----

TEST_F(BivariateRunTest, IndexIsTheBinMeanAgainstTheOverallMean) {
  // Overall mean 0.5; the upper bin's mean 0.75 gives 150, the lower 0.25 gives 50.
  auto table = Run(*Input(qeldata::adDouble, {{1, 0}, {1, 0.5}, {2, 0.5}, {2, 1}}), 2);
  ASSERT_TRUE(table);
  EXPECT_DOUBLE_EQ(BivariateRunRecord().TargetMean, 0.5);
  const Rows rows = Read(*table);
  EXPECT_EQ(rows[0][5], "50");
  EXPECT_EQ(rows[1][5], "150");
  EXPECT_DOUBLE_EQ(BivariateRunRecord().PSI, 0.25);
  EXPECT_EQ(BivariateRunRecord().DI, 0);
}

TEST_F(BivariateRunTest, IndexHasNoThirtyTwoBitLimit) {
  // The overall mean is about 5e-10, the bin means +-1: indices of about +-2e11.
  auto table = Run(*Input(qeldata::adDouble, {{1, 1}, {2, -1 + 1e-9}}), 2);
  ASSERT_TRUE(table);
  for (const auto& row : Read(*table)) {
    const double index = std::stod(row[5]);
    EXPECT_GT(std::fabs(index), 1e11);
    EXPECT_EQ(index, std::trunc(index));
    EXPECT_EQ(row[5].find_first_of(".E"), std::string::npos) << row[5];
  }
}

TEST_F(BivariateRunTest, ZeroTargetMeanLeavesIndexEmptyButComputesPsiAndDi) {
  auto table = Run(*Input(qeldata::adDouble, {{1, -1}, {1, -1}, {2, 1}, {2, 1}}), 2);
  ASSERT_TRUE(table);
  for (const auto& row : Read(*table)) EXPECT_EQ(row[5], "");
  EXPECT_DOUBLE_EQ(BivariateRunRecord().PSI, 1);
  EXPECT_EQ(BivariateRunRecord().DI, 0);
}

TEST_F(BivariateRunTest, DiCountsFallingPairsOfBinMeans) {
  auto rising = Run(*Input(qeldata::adDouble, {{1, 1}, {2, 2}, {3, 3}, {4, 4}}), 3);
  ASSERT_TRUE(rising);
  EXPECT_EQ(BivariateRunRecord().DI, 0);
  auto falling = Run(*Input(qeldata::adDouble, {{1, 4}, {2, 3}, {3, 2}, {4, 1}}), 3);
  ASSERT_TRUE(falling);
  EXPECT_EQ(BivariateRunRecord().DI, 100);
  // Means 3, 1, 2: two of the three pairs fall.
  auto mixed = Run(*Input(qeldata::adDouble, {{1, 3}, {2, 1}, {3, 2}}), 3);
  ASSERT_TRUE(mixed);
  EXPECT_DOUBLE_EQ(BivariateRunRecord().DI, 2.0 / 3 * 100);
  // A single row: no pairs, and the mean is the overall mean.
  auto single = Run(*Input(qeldata::adDouble, {{7, 0.3}}), 5);
  ASSERT_TRUE(single);
  EXPECT_EQ(Read(*single).size(), 1u);
  EXPECT_EQ(BivariateRunRecord().DI, 0);
  EXPECT_NEAR(BivariateRunRecord().PSI, 0, 1e-12);
}

TEST_F(BivariateRunTest, MoreCategoriesThanThirtyTwoBitPairsCanCount) {
  // 50,000 categories: (R - 1) x R passes 2^31. Six-digit keys sort as text
  // in the order of their values, and the means fall all the way.
  std::vector<Record> records;
  for (int i = 100000; i < 150000; ++i) records.push_back({i, -i});
  BivariateRunRecord().Categorical = true;
  auto table = Run(*Input(qeldata::adDouble, records), 20);
  ASSERT_TRUE(table);
  EXPECT_EQ(table->RecordCount(), 50000);
  EXPECT_EQ(BivariateRunRecord().DI, 100);
  EXPECT_TRUE(presenter_.messages().empty());
}

TEST_F(BivariateRunTest, BinsThatWeighNothingHaveNoMeanAndNoPartInTheIndices) {
  // The value 2 has weight 0: its own categorical bin has N 0.
  auto table = Run(*Input(qeldata::adDouble, {{1, 1, 1}, {2, 100, 0}, {3, 3, 1}}), 5, true);
  ASSERT_TRUE(table);
  const Rows rows = Read(*table);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[1][1], "0");
  EXPECT_EQ(rows[1][4], "");
  EXPECT_EQ(rows[1][5], "");
  EXPECT_EQ(BivariateRunRecord().DI, 0);  // 1 then 3: rising, the empty bin ignored
  EXPECT_DOUBLE_EQ(BivariateRunRecord().PSI, 1);
}

// ---- Totals and missing values ----

TEST_F(BivariateRunTest, UnweightedMissingCountsRecords) {
  auto table = Run(*Input(qeldata::adDouble, {{1, 2}, {Value(), 5}, {3, Value()}, {Value(), Value()}, {3, 4, 9}}), 5);
  ASSERT_TRUE(table);
  const BivariateRecord& rec = BivariateRunRecord();
  EXPECT_EQ(rec.N, 2);
  EXPECT_EQ(rec.Missing, 3);
  EXPECT_DOUBLE_EQ(rec.TargetMean, 3);
}

TEST_F(BivariateRunTest, WeightedMissingCountsWeightsOrOneForAMissingWeight) {
  auto table =
      Run(*Input(qeldata::adDouble, {{1, 2, 2}, {2, Value(), 2.5}, {3, 4, Value()}, {4, 6, 0}, {5, 1, 1}}), 20, true);
  ASSERT_TRUE(table);
  const BivariateRecord& rec = BivariateRunRecord();
  EXPECT_EQ(rec.N, 3);
  EXPECT_EQ(rec.Missing, 3.5);
  EXPECT_DOUBLE_EQ(rec.TargetMean, 5.0 / 3);
  // The zero-weight value is still a distinct value.
  EXPECT_EQ(rec.Cardinality, 3);
}

TEST_F(BivariateRunTest, AllMissingFailsAtTheMeanWithCountsKept) {
  auto table = Run(*Input(qeldata::adDouble, {{Value(), 1}, {2, Value()}}), 5);
  EXPECT_FALSE(table);
  EXPECT_TRUE(CancelFlag());
  ASSERT_EQ(presenter_.messages().size(), 1u);
  EXPECT_EQ(presenter_.messages()[0].rfind("Com_Bivariate: Bivariate_Run Division by zero", 0), 0u);
  EXPECT_EQ(BivariateRunRecord().N, 0);
  EXPECT_EQ(BivariateRunRecord().Missing, 2);
  // No records at all fails the same way.
  presenter_.Clear();
  EXPECT_FALSE(Run(*Input(qeldata::adDouble, {}), 5));
  ASSERT_EQ(presenter_.messages().size(), 1u);
}

// ---- Failures ----

TEST_F(BivariateRunTest, NoRecordsFailAtTheFirstRecordBeforeTheTypeDecides) {
  for (bool forced : {false, true}) {
    presenter_.Clear();
    BivariateRunRecord().Categorical = forced;
    EXPECT_FALSE(Run(*Input(qeldata::adVarWChar, {}), 5));  // a text predictor would be categorical
    EXPECT_EQ(BivariateRunRecord().Categorical, forced);
    ASSERT_EQ(presenter_.messages().size(), 1u);
    EXPECT_EQ(presenter_.messages()[0],
              "Com_Bivariate: Bivariate_Run Either BOF or EOF is True, or the current record has been deleted.");
    EXPECT_TRUE(CancelFlag());
  }
}

TEST_F(BivariateRunTest, ANegativeWeightThatLeavesNoSquareRootTakesTheErrorPath) {
  // Weights 3 and -1: N is 2, but the bin of value 2 weighs -1, so the sum of
  // squares under the root is negative.
  auto table = Run(*Weighted({1, 2}, {3, -1}), 1, true);
  EXPECT_FALSE(table);
  EXPECT_TRUE(CancelFlag());
  ASSERT_EQ(presenter_.messages().size(), 1u);
  EXPECT_EQ(presenter_.messages()[0].rfind("Com_Bivariate: Bivariate_Run ", 0), 0u) << presenter_.messages()[0];
  EXPECT_EQ(BivariateRunRecord().N, 2);
}

TEST_F(BivariateRunTest, LongTextPredictorIsRefused) {
  for (int type : {qeldata::adLongVarChar, qeldata::adLongVarWChar}) {
    presenter_.Clear();
    EXPECT_FALSE(Run(*Input(type, {{"x", 1}}), 5));
    EXPECT_EQ(presenter_.messages(),
              std::vector<std::string>{"Com_Bivariate: Bivariate_Run Invalid Data Type on input data."});
    EXPECT_TRUE(CancelFlag());
  }
}

TEST_F(BivariateRunTest, BadInputFailsWithAClearMessageNeverAZero) {
  auto rs = Input(qeldata::adDouble, {{1, 1}});
  EXPECT_FALSE(Bivariate_Run(*rs, "P", "Salry", false, "", 5));
  ASSERT_EQ(presenter_.messages().size(), 1u);
  EXPECT_NE(presenter_.messages()[0].find("Salry"), std::string::npos);

  // A target text that is no number is a type mismatch.
  presenter_.Clear();
  auto text_target = std::make_shared<Recordset>();
  text_target->GetFields().Append("P", qeldata::adDouble);
  text_target->GetFields().Append("T", qeldata::adVarWChar, 255);
  text_target->Open();
  text_target->AddNew();
  text_target->SetCollect("P", 1.0);
  text_target->SetCollect("T", "abc");
  EXPECT_FALSE(Bivariate_Run(*text_target, "P", "T", false, "", 5));
  ASSERT_EQ(presenter_.messages().size(), 1u);
  EXPECT_NE(presenter_.messages()[0].find("'abc' is not a number (field 'T', record 1)"), std::string::npos)
      << presenter_.messages()[0];

  // So is a predictor text in a field of no declared type, which is read as numeric.
  presenter_.Clear();
  constexpr int kVariant = 12;
  auto mixed = Input(kVariant, {{1.5, 1}, {"n/a", 2}});
  EXPECT_FALSE(Run(*mixed, 5));
  ASSERT_EQ(presenter_.messages().size(), 1u);
  EXPECT_NE(presenter_.messages()[0].find("(field 'P', record 2)"), std::string::npos) << presenter_.messages()[0];
}

// ---- Progress and cancellation ----

TEST_F(BivariateRunTest, ProgressShowsEachPhase) {
  auto table = Run(*Weighted({1, 2, 3}, {1, 1, 1}), 2, false, true);
  ASSERT_TRUE(table);
  EXPECT_EQ(presenter_.statuses(),
            (std::vector<std::string>{"Process Running", "System Initialization", "Extracting Summary Totals",
                                      "Building Cummulative Counts", "Assigning Bin/Segments", "Accessing Results"}));
  EXPECT_EQ(presenter_.bar_values(), (std::vector<int>{0, 50, 70, 83, 99}));
  EXPECT_EQ(presenter_.EventTexts()[1], "caption:Processing Bivariate: P");
  EXPECT_EQ(presenter_.windows_open(), 0);
  EXPECT_EQ(presenter_.process_events_calls(), 5);

  presenter_.Clear();
  Run(*Weighted({1, 2, 3}, {1, 1, 1}), 2, false, false);
  EXPECT_EQ(presenter_.windows_loaded(), 0);
  EXPECT_EQ(presenter_.process_events_calls(), 5);  // checkpoints run without a window too
}

TEST_F(BivariateRunTest, CancelStopsAtTheCheckpointKeepingWhatWasComputed) {
  for (bool show : {true, false}) {
    presenter_.Clear();
    presenter_.PressCancelAtCheckpoint(3);
    EXPECT_FALSE(Run(*Input(qeldata::adDouble, {{1, 2}, {2, 4}}), 1, false, show));
    EXPECT_TRUE(presenter_.messages().empty());
    EXPECT_EQ(presenter_.process_events_calls(), 3);
    EXPECT_EQ(presenter_.windows_open(), 0);
    EXPECT_EQ(BivariateRunRecord().N, 2);
    EXPECT_EQ(BivariateRunRecord().TargetMean, 3);
    EXPECT_EQ(BivariateRunRecord().PSI, 0);
    EXPECT_TRUE(CancelFlag());
  }
  // At the last checkpoint, the table is built but not handed out.
  presenter_.Clear();
  presenter_.PressCancelAtCheckpoint(5);
  EXPECT_FALSE(Run(*Input(qeldata::adDouble, {{1, 2}, {2, 4}}), 1));
  EXPECT_EQ(BivariateRunRecord().DI, 0);
}

TEST_F(BivariateRunTest, AFailedRunDoesNotStopTheNextOne) {
  CancelFlag() = true;
  EXPECT_TRUE(Run(*Input(qeldata::adDouble, {{1, 2}}), 1));
  EXPECT_FALSE(CancelFlag());
}

// ---- Helpers ----

// ---- The finish on its own ----

TEST_F(BivariateRunTest, TheFinishOfATallyFilledFromArraysMatchesTheRun) {
  const std::vector<double> p{3, 1, 4, 1, 5, 9, 2, 6, 5, 3}, t{2, 7, 1, 8, 2, 8, 1, 8, 2, 8},
                            w{1, 0.5, 2, 1, 1.5, 1, 1, 0.25, 1, 3};
  std::vector<Record> records;
  for (std::size_t i = 0; i < p.size(); ++i) records.push_back({p[i], t[i], w[i]});
  auto table = Run(*Input(qeldata::adDouble, records), 3, true);
  ASSERT_TRUE(table);
  const BivariateRecord run = BivariateRunRecord();

  Tally<TargetSums> tally;
  tally.AddArrays(p, w, t);
  BivariateRecord rec;
  std::string reason;
  std::vector<std::pair<std::string, int>> phases;
  auto finished = Bivariate_Finish(tally, BivariateOptions{"P", "T", 3, false, true}, rec, &reason,
                                   [&](const char* status, int bar) { phases.emplace_back(status, bar); });
  ASSERT_TRUE(finished) << reason;
  EXPECT_EQ(Read(*finished), Read(*table));
  EXPECT_EQ(rec.N, run.N);
  EXPECT_EQ(rec.TargetMean, run.TargetMean);
  EXPECT_EQ(rec.PSI, run.PSI);
  EXPECT_EQ(rec.DI, run.DI);
  EXPECT_EQ(rec.Cardinality, 7);
  EXPECT_EQ(phases, (std::vector<std::pair<std::string, int>>{
                        {"Building Cummulative Counts", 70}, {"Assigning Bin/Segments", 83}, {"Accessing Results", 99}}));
}

TEST_F(BivariateRunTest, TheFinishOfATextTallyIsCategoricalAndFailsOnZeroWeight) {
  TextTally tally;
  tally.Add("b", 1, 10);
  tally.Add("a", 1, 20);
  tally.Add("b", 2, 40);
  BivariateRecord rec;
  auto table = Bivariate_Finish(tally, BivariateOptions{"P", "T", 1, false, false}, rec);
  ASSERT_TRUE(table);
  EXPECT_TRUE(rec.Categorical);
  EXPECT_EQ(Ranges(*table), (Rows{{"1", "1", "a", "a"}, {"2", "3", "b", "b"}}));
  EXPECT_TRUE(presenter_.messages().empty());

  TextTally empty;
  empty.AddMissing(2);
  std::string reason;
  EXPECT_FALSE(Bivariate_Finish(empty, BivariateOptions{"P", "T", 1, false, true}, rec, &reason));
  EXPECT_NE(reason.find("and a weight is 0"), std::string::npos) << reason;
  EXPECT_EQ(rec.Missing, 2);
  EXPECT_FALSE(CancelFlag());  // the finish leaves the flag and the messages to the run
  EXPECT_TRUE(presenter_.messages().empty());
}

TEST(BivariateRounding, FiveDecimalsFromTheBinaryValue) {
  EXPECT_EQ(detail::RoundTo5Decimals(0.015625), 0.01562);  // exact tie, to even
  EXPECT_EQ(detail::RoundTo5Decimals(0.046875), 0.04688);
  EXPECT_EQ(detail::RoundTo5Decimals(0.123455), 0.12345);  // held just below the tie
  EXPECT_EQ(detail::RoundTo5Decimals(1.000005), 1.00001);  // held just above
  EXPECT_EQ(detail::RoundTo5Decimals(-2.1234567), -2.12346);
  EXPECT_EQ(qeldata::NumberText(detail::RoundTo5Decimals(-0.000001)), "0");
  EXPECT_EQ(detail::RoundTo5Decimals(1e20), 1e20);
}

TEST(BivariateRounding, WholeNumbersHalvesToEven) {
  EXPECT_EQ(detail::RoundHalfEven(0.5), 0);
  EXPECT_EQ(detail::RoundHalfEven(1.5), 2);
  EXPECT_EQ(detail::RoundHalfEven(2.5), 2);
  EXPECT_EQ(detail::RoundHalfEven(-2.5), -2);
  EXPECT_EQ(detail::RoundHalfEven(-3.5), -4);
  EXPECT_EQ(detail::RoundHalfEven(149.50000001), 150);
  EXPECT_EQ(detail::RoundHalfEven(3e12 + 0.5), 3e12);
}

TEST(BivariateFallingPairs, MatchesCountingEveryPair) {
  std::mt19937 gen(7);
  std::uniform_int_distribution<int> small(0, 5);  // many ties: equal means never count
  for (int n : {0, 1, 2, 3, 17, 200}) {
    std::vector<double> m(n);
    for (double& x : m) x = small(gen);
    std::int64_t brute = 0;
    for (int i = 0; i < n; ++i)
      for (int j = i + 1; j < n; ++j) brute += m[j] < m[i];
    EXPECT_EQ(detail::CountFallingPairs(m), brute) << n;
  }
}

}  // namespace
}  // namespace qel

namespace qel {
namespace {

// A complete record counts in N before its target is read as a number, so
// after a type mismatch N includes the failing record.
TEST(BivariateRunRecords, ATargetThatIsNoNumberFailsAfterItsRecordIsCounted) {
  auto rs = qel::testing::Table({{"P"}, {"T", qeldata::adVarWChar}},
                                {{1.0, Value("5")}, {2.0, Value("7")}, {3.0, Value("abc")}, {4.0, Value("1")}});
  RecordingPresenter presenter;
  ScopedPresenter use(&presenter);
  EXPECT_EQ(Bivariate_Run(*rs, "P", "T", false, "", 2), nullptr);
  EXPECT_EQ(BivariateRunRecord().N, 3);
  EXPECT_TRUE(CancelFlag());
}

// ---- By group ----

// The rows of `rows` whose first value is `key`, without it.
std::vector<std::vector<Value>> GroupRows(const std::vector<std::vector<Value>>& rows, const std::string& key) {
  std::vector<std::vector<Value>> out;
  for (const auto& r : rows)
    if (r[0].AsText() == key) out.emplace_back(r.begin() + 1, r.end());
  return out;
}

// One pass by group against a run over each group's records: the same
// results and table, the same failure with the record counted in the group,
// and later records of a failed group counted only.
TEST(BivariateGroups, EachGroupIsTheRunOverItsRecordsAlone) {
  const std::vector<std::vector<Value>> rows = {
      {"b", 2.0, Value("7"), 2.0},   {"a", 1.0, Value("5"), 1.0}, {"a", 3.0, Value("6"), 0.5},
      {"b", 4.0, Value("abc"), 3.0}, {"a", Value(), Value("9"), 1.0}, {"b", 5.0, Value("1"), 1.0},
      {"a", 3.0, Value("2.25"), 2.0}, {"a", 8.0, Value("4"), Value()}};
  const std::vector<qel::testing::Column> columns = {{"G", qeldata::adVarWChar}, {"P"}, {"T", qeldata::adVarWChar}, {"W"}};
  auto all = qel::testing::Table(columns, rows);
  RecordingPresenter presenter;
  ScopedPresenter use(&presenter);
  BivariateGroups read = Bivariate_TallyGroups(*all, "P", "T", "W", "G", false);
  EXPECT_FALSE(read.categorical);
  ASSERT_EQ(read.groups.size(), 2u);
  EXPECT_EQ(read.groups[0].key.AsText(), "a");
  EXPECT_EQ(read.groups[0].records, 5);
  EXPECT_EQ(read.groups[1].records, 3);

  const std::vector<qel::testing::Column> fields(columns.begin() + 1, columns.end());
  auto a = qel::testing::Table(fields, GroupRows(rows, "a"));
  auto table = Bivariate_Run(*a, "P", "T", false, "W", 2);
  ASSERT_NE(table, nullptr);
  const BivariateRecord alone = BivariateRunRecord();
  BivariateRecord rec;
  auto grouped = Bivariate_Finish(read.groups[0].numbers, BivariateOptions{"P", "T", 2, false, true}, rec);
  ASSERT_NE(grouped, nullptr);
  EXPECT_EQ(Read(*grouped), Read(*table));
  for (const auto& r : kBivariateResults) EXPECT_EQ(rec.*r.member, alone.*r.member) << r.name;
  EXPECT_EQ(rec.Categorical, alone.Categorical);

  auto b = qel::testing::Table(fields, GroupRows(rows, "b"));
  EXPECT_EQ(Bivariate_Run(*b, "P", "T", false, "W", 2), nullptr);
  const BivariateGroup& failed = read.groups[1];
  EXPECT_EQ(failed.failure, LastStopReason());
  EXPECT_NE(failed.failure.find("(field 'T', record 2)"), std::string::npos) << failed.failure;
  EXPECT_EQ(failed.numbers.Totals().WgtN + failed.in_flight, BivariateRunRecord().N);
  EXPECT_EQ(failed.numbers.Totals().WgtN, 2);
  EXPECT_EQ(failed.in_flight, 3);

  // Forced to categories, the groups are read as texts.
  read = Bivariate_TallyGroups(*all, "P", "T", "", "G", true);
  EXPECT_TRUE(read.categorical);
  EXPECT_EQ(read.groups[0].texts.Cardinality(), 3u);  // 1, 3, 8
  // A grouping field the input does not have fails the whole reading.
  EXPECT_THROW(Bivariate_TallyGroups(*all, "P", "T", "", "H", false), qeldata::Error);
}

// A blank weight field is empty after trimming spaces; a tab is a name.
TEST(BivariateRunRecords, OnlySpacesMakeTheWeightFieldBlank) {
  auto rs = qel::testing::Table({{"P"}, {"T"}}, {{1.0, 5.0}, {2.0, 7.0}, {3.0, 1.0}});
  RecordingPresenter presenter;
  ScopedPresenter use(&presenter);
  EXPECT_NE(Bivariate_Run(*rs, "P", "T", false, "   ", 2), nullptr);
  EXPECT_EQ(Bivariate_Run(*rs, "P", "T", false, "\t", 2), nullptr);  // no field named by a tab
  ASSERT_FALSE(presenter.messages().empty());
}

}  // namespace
}  // namespace qel

namespace qel {
namespace {

// ---- Categorical numbers ----
// A categorical run over a numeric field keys its values as numbers; its
// table and figures must be those of the same values given as their texts.

// The figures of a run beside its table, to compare two runs exactly.
struct RunOutcome {
  Rows rows;
  double n = 0, missing = 0, target_mean = 0, psi = 0, di = 0, cardinality = 0;
  std::vector<std::string> messages;
  bool operator==(const RunOutcome&) const = default;
};

class CategoricalNumbersTest : public BivariateRunTest {
 protected:
  RunOutcome RunCategorical(Recordset& rs, bool weighted = true) {
    presenter_.Clear();
    BivariateRunRecord() = BivariateRecord{};
    BivariateRunRecord().Categorical = true;
    auto table = Run(rs, 20, weighted);
    const BivariateRecord& r = BivariateRunRecord();
    return {table ? Read(*table) : Rows{}, r.N, r.Missing, r.TargetMean, r.PSI, r.DI, r.Cardinality,
            presenter_.messages()};
  }
  // The same records with each predictor value as the text a categorical run
  // files it under.
  static std::vector<Record> AsTexts(std::vector<Record> records) {
    for (Record& r : records)
      if (r.p.IsNumber()) r.p = Value(qeldata::NumberText(r.p.number() == 0 ? 0.0 : r.p.number()));
    return records;
  }
};

TEST_F(BivariateRunTest, CategoriesAreListedInTheLibrarySortsOrderEvenWhereTextsCompareEqual) {
  // A lone byte 0xC3 reads as the code point U+00C3, as the two bytes of a
  // real U+00C3 do: distinct texts that compare equal, whose order is the one
  // the library's quick sort leaves them in. Many of them, shuffled, so that
  // the partition steps matter.
  const std::vector<std::string> stems{"\xC3", "\xC3\x83", "x\xC3", "x\xC3\x83", "\xE2\x82\xAC", "\xE2\x82", "a", "B"};
  std::mt19937 random(7);
  TextTally tally;
  for (int i = 0; i < 4000; ++i) {
    const std::string text = stems[random() % stems.size()] + std::to_string(random() % 300 % 50);
    tally.Add(text, 1, static_cast<double>(i % 13));
  }
  std::vector<std::string> expected = tally.Texts();
  QuickSort(expected, 0, static_cast<std::int64_t>(expected.size()) - 1);
  BivariateRecord rec;
  auto table = Bivariate_Finish(tally, BivariateOptions{"P", "T", 20, true, false}, rec);
  ASSERT_TRUE(table);
  std::vector<std::string> listed;
  for (const auto& row : Read(*table)) listed.push_back(row[2]);
  EXPECT_EQ(listed, expected);
}

TEST_F(CategoricalNumbersTest, RowsAndFiguresAreThoseOfTheTexts) {
  // Values whose texts sort otherwise than the numbers ("10" < "9", "-1" <
  // "-2", "1E+20" < "2"), that differ only beyond 15 digits (one category),
  // -0 and 0 (one category), repeated with fractional weights and targets.
  const std::vector<double> pool{9, 10, 100, -1, -2, -10, 1e20, 2, 1e-5, 0.1, 0.1 + 1e-17, -0.0, 0, 123456.789,
                                 1.5, 15, 0.15, 3.14159265358979, 3.141592653589793};
  std::mt19937_64 random(20261207);
  std::vector<Record> records;
  for (int i = 0; i < 3000; ++i) {
    const double p = pool[random() % pool.size()];
    const double t = static_cast<double>(random() % 1000) / 7, w = static_cast<double>(random() % 5) / 4 + 0.25;
    records.push_back({i % 97 == 0 ? Value() : Value(p), t, w});  // every 97th missing, counted by weight
  }
  const RunOutcome numbers = RunCategorical(*Input(qeldata::adDouble, records));
  const RunOutcome texts = RunCategorical(*Input(qeldata::adVarWChar, AsTexts(records)));
  EXPECT_TRUE(numbers.messages.empty());
  ASSERT_EQ(numbers.rows.size(), 16u);
  EXPECT_EQ(numbers, texts);
  EXPECT_EQ(numbers.rows[0][2], "-1");
  EXPECT_EQ(numbers.rows[1][2], "-10");
}

TEST_F(CategoricalNumbersTest, AValueOfAnotherKindReadsEverythingAgainAsTexts) {
  // A field of no declared type keeps what it is given: numbers, and late
  // in the file a text and a date, which end the numbers-only reading.
  std::vector<Record> records;
  for (int i = 0; i < 500; ++i) records.push_back({static_cast<double>(i % 37) / 4, static_cast<double>(i % 11)});
  records.push_back({Value("a text"), 1.0});
  records.push_back({Value("2.25"), 3.0});  // the text of a number: one category with 2.25
  records.push_back({Value(qeldata::Date{2024, 1, 2}), 4.0});
  auto mixed = Input(qeldata::adEmpty, records);
  std::vector<Record> as_texts = AsTexts(records);
  as_texts[as_texts.size() - 1].p = Value("2024-01-02");
  const RunOutcome numbers = RunCategorical(*mixed);
  const RunOutcome texts = RunCategorical(*Input(qeldata::adVarWChar, as_texts));
  EXPECT_TRUE(numbers.messages.empty());
  EXPECT_EQ(numbers, texts);
  EXPECT_EQ(numbers.cardinality, 39);
}

TEST_F(CategoricalNumbersTest, AFailingRecordFailsAsInTheTextReading) {
  std::vector<Record> records;
  for (int i = 0; i < 100; ++i) records.push_back({static_cast<double>(i), 1.0, 0.5});
  records[60].t = std::numeric_limits<double>::quiet_NaN();  // no usable target
  const RunOutcome numbers = RunCategorical(*Input(qeldata::adEmpty, records));
  const RunOutcome texts = RunCategorical(*Input(qeldata::adEmpty, AsTexts(records)));
  ASSERT_EQ(numbers.messages.size(), 1u);
  EXPECT_NE(numbers.messages[0].find("record 61"), std::string::npos) << numbers.messages[0];
  EXPECT_EQ(numbers, texts);
  EXPECT_EQ(numbers.n, 30.5);  // 60 records of weight 0.5 before it, and its own
}

}  // namespace
}  // namespace qel
