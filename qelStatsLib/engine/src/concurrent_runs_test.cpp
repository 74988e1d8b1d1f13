// Several threads, each with its own objects, running the three analyses at
// once for a while: every result must equal the single-threaded one, since
// run records, cancel flags and presenters are per thread and nothing else is
// shared.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "qelStatsLib/QelBivariate.h"
#include "qelStatsLib/QelOutlier.h"
#include "qelStatsLib/QelUnivariate.h"
#include "qelStatsLib/recording_presenter.h"

namespace qel {
namespace {

const std::string kConnection = "Text;DBQ=" QEL_SOURCE_DIR "/VesquinDemo/datasets";

std::string N(double x) { return qeldata::RoundTripText(x) + " "; }

std::string TableText(const std::shared_ptr<qeldata::Recordset>& rs) {
  if (!rs) return "(no table)";
  std::string out;
  for (rs->MoveFirst(); !rs->IsEOF(); rs->MoveNext()) {
    for (int i = 0; i < rs->GetFields().Count(); ++i) out += rs->GetFields().Item(i).GetValue().AsText() + "|";
    out += "\n";
  }
  return out;
}

// Everything the three analyses report over one dataset, as one text.
std::string AnalyseOnce(const std::string& field, const std::string& predictor, std::int16_t bins) {
  RecordingPresenter rec;
  ScopedPresenter use(&rec);
  std::string out;
  QelUnivariate u;
  u.SetConnectionString(kConnection);
  u.SetSource("BaseBall.csv");
  u.SetFieldName(field);
  u.SetWeightField("G");
  u.SetshowStatus(true);
  out += u.Run() ? "ok " : "failed ";
  for (double x : {u.N(), u.WgtN(), u.Missing(), u.Sum(), u.Mean(), u.Variance(), u.Stdev(), u.CV(), u.Min(), u.Max(),
                   u.Range(), u.Cardinality(), u.Uniques(), u.Mode(), u.Median(), u.Q1(), u.Q3(), u.IQR(),
                   u.TrimmedMean(), u.Skewness(), u.Kurtosis()})
    out += N(x);

  QelOutlier o;
  o.SetConnectionString(kConnection);
  o.SetSource("select * from [BaseBall.csv]");
  o.SetOutlierField(field);
  o.SetFindType(outTMean);
  o.SetTypeParm(10);
  o.SetshowStatus(true);
  out += o.Run() ? "\nok " : "\nfailed ";
  for (double x : {o.N(), o.WgtN(), o.Mean(), o.Stdev(), o.TrimmedMean(), o.OutlierCountN(), o.OutlierCountWgt(),
                   o.Median(), o.Cardinality()})
    out += N(x);
  out += "\n" + TableText(o.ResultSet());

  QelBivariate b;
  b.SetConnectionString(kConnection);
  b.SetSource("BaseBall.csv");
  b.SetPredictorField(predictor);
  b.SetTargetField(field);
  b.SetBinCount(bins);
  b.SetshowStatus(true);
  out += b.Run() ? "ok " : "failed ";
  for (double x : {b.N(), b.Missing(), b.TargetMean(), b.PSI(), b.DI(), b.Cardinality()}) out += N(x);
  out += b.Categorical() ? "categorical\n" : "ranges\n";
  out += TableText(b.ResultSet());
  for (const std::string& m : rec.messages()) out += "message: " + m + "\n";
  return out;
}

struct Job {
  std::string field, predictor;
  std::int16_t bins;
};

TEST(ConcurrentRuns, EveryThreadGetsTheSingleThreadedResults) {
  const std::vector<Job> jobs = {{"Salary", "HR", 5}, {"AB", "Position", 10}, {"RBI", "Age", 7}, {"Weight", "Team", 3}};
  std::vector<std::string> expected;
  for (const Job& j : jobs) {
    expected.push_back(AnalyseOnce(j.field, j.predictor, j.bins));
    EXPECT_EQ(expected.back().find("failed"), std::string::npos) << expected.back();
    EXPECT_EQ(expected.back().find("message"), std::string::npos) << expected.back();
  }
  ASSERT_NE(expected[0], expected[1]);

  // Each thread cycles through every job, starting at its own, for a few seconds.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(4);
  std::atomic<int> runs{0}, mismatches{0};
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (std::size_t i = t; i < t + 3 || std::chrono::steady_clock::now() < until; ++i) {
        const Job& j = jobs[i % jobs.size()];
        if (AnalyseOnce(j.field, j.predictor, j.bins) != expected[i % jobs.size()]) ++mismatches;
        ++runs;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(mismatches.load(), 0) << "of " << runs.load() << " runs";
  EXPECT_GE(runs.load(), 12);
}

}  // namespace
}  // namespace qel
