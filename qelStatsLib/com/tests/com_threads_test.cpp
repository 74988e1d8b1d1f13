// The component layer under load: threads, each with its own objects created
// through qelcom, running the three analyses at once. Every result equals the
// single-threaded one, and all the while an object refuses calls from any
// thread but its own.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "qelStatsLib/QelStatsLib.h"
#include "qelcom/qelcom.h"
#include "com_test_support.h"

namespace {

using namespace qelcom;
using namespace QelStatsLib;

const std::string kTextConnection = "Text;DBQ=" QEL_SOURCE_DIR "/VesquinDemo/datasets";

// Every test runs against a registry file of its own, never the user's.
const auto* const kRegistryEnvironment =
    ::testing::AddGlobalTestEnvironment(new com_test::ScratchRegistry("qelcom-threads-"));
using com_test::Create;

struct Results {
  std::vector<double> values;
  bool operator==(const Results&) const = default;
};

// One round of the three analyses on this thread's own objects.
Results Round(_QelUnivariate* u, _QelOutlier* o, _QelBivariate* b) {
  Results r;
  VARIANT_BOOL ok = 0;
  double x = 0;
  r.values.push_back(Succeeded(u->Run(&ok)) && ok ? 1 : 0);
  for (auto get : {&_QelUnivariate::get_Mean, &_QelUnivariate::get_N}) {
    (u->*get)(&x);
    r.values.push_back(x);
  }
  Variant ran;
  r.values.push_back(Succeeded(o->Run(&ran)) ? 1 : 0);
  for (auto get : {&_QelOutlier::get_Mean, &_QelOutlier::get_OutlierCountN, &_QelOutlier::get_N}) {
    (o->*get)(&x);
    r.values.push_back(x);
  }
  Variant ran_b;
  r.values.push_back(Succeeded(b->Run(&ran_b)) ? 1 : 0);
  for (auto get : {&_QelBivariate::get_PSI, &_QelBivariate::get_TargetMean, &_QelBivariate::get_N}) {
    (b->*get)(&x);
    r.values.push_back(x);
  }
  return r;
}

struct Objects {
  ComPtr<_QelUnivariate> u;
  ComPtr<_QelOutlier> o;
  ComPtr<_QelBivariate> b;
};

Objects Make(const char* field) {
  Objects s{Create<_QelUnivariate>(CLSID_QelUnivariate, IID__QelUnivariate),
            Create<_QelOutlier>(CLSID_QelOutlier, IID__QelOutlier),
            Create<_QelBivariate>(CLSID_QelBivariate, IID__QelBivariate)};
  s.u->put_ConnectionString(kTextConnection.c_str());
  s.u->put_Source("BaseBall.csv");
  s.u->put_FieldName(field);
  s.o->put_ConnectionString(kTextConnection.c_str());
  s.o->put_Source("BaseBall.csv");
  s.o->put_OutlierField(field);
  s.o->put_FindType(outSTD);
  s.o->put_TypeParm(2);
  s.b->put_ConnectionString(kTextConnection.c_str());
  s.b->put_Source("BaseBall.csv");
  s.b->put_PredictorField("HR");
  s.b->put_TargetField(field);
  s.b->put_BinCount(5);
  return s;
}

TEST(ComThreads, ObjectsOnManyThreadsKeepTheirResultsAndTheirThread) {
  const char* const fields[] = {"Salary", "AB", "RBI"};
  std::vector<Results> expected;
  for (const char* f : fields) {
    Objects s = Make(f);
    expected.push_back(Round(s.u.get(), s.o.get(), s.b.get()));
    EXPECT_EQ(expected.back().values[0], 1) << f;  // the univariate run succeeded
    EXPECT_GT(expected.back().values[8], 0) << f;   // the bivariate run counted records
  }
  ASSERT_NE(expected[0], expected[1]);
  ReleaseAppObjects();

  std::atomic<int> ready{0}, mismatches{0}, rounds{0};
  std::atomic<bool> stop{false};
  std::atomic<_QelUnivariate*> foreign[3] = {};
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&, t] {
      Objects s = Make(fields[t]);
      foreign[t] = s.u.get();
      ++ready;
      const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(4);
      for (int i = 0; i < 2 || std::chrono::steady_clock::now() < until; ++i) {
        if (!(Round(s.u.get(), s.o.get(), s.b.get()) == expected[t])) ++mismatches;
        ++rounds;
      }
      // The objects live until the main thread has stopped calling them.
      while (!stop) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      s = Objects{};
      ReleaseAppObjects();
    });
  }
  while (ready < 3) std::this_thread::yield();
  // Meanwhile this thread keeps calling the others' objects: always refused,
  // never a value from the middle of someone else's run.
  int refused = 0, answered = 0;
  for (int i = 0; i < 2000; ++i) {
    double mean = 0;
    const HRESULT hr = foreign[i % 3].load()->get_Mean(&mean);
    (hr == RPC_E_WRONG_THREAD ? refused : answered)++;
    const HRESULT put = foreign[i % 3].load()->put_FieldName("Height");
    (put == RPC_E_WRONG_THREAD ? refused : answered)++;
  }
  stop = true;
  for (auto& th : threads) th.join();
  EXPECT_EQ(answered, 0);
  EXPECT_EQ(refused, 4000);
  EXPECT_EQ(mismatches.load(), 0) << "of " << rounds.load() << " rounds";
  EXPECT_GE(rounds.load(), 6);
}

}  // namespace
