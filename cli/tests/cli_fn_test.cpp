// qelstats fn, run as the built program.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "qelstats_runner.h"

namespace {

using qelstats_test::Outcome;

// Runs qelstats with `args` (already quoted for the shell).
Outcome Qelstats(const std::string& args) { return qelstats_test::RunQelstats(args); }

TEST(CliFn, JsonResultWithNegativeArgumentsAndTheFailureValue) {
  auto o = Qelstats("fn ArcSin -1 --json");
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, "{\"Result\": -9999999}\n");

  o = Qelstats("fn LogN 8 2 --json");
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, "{\"Result\": 3}\n");

  o = Qelstats("fn --json DTOR 180");
  EXPECT_EQ(o.out, "{\"Result\": 3.141592654}\n");

  o = Qelstats("fn ArcCosSec -2 --json");
  EXPECT_EQ(o.status, 0);
  EXPECT_NE(o.out.find("\"Result\": -3.99866"), std::string::npos) << o.out;

  o = Qelstats("fn Dist_Fctn 0 10 1 10 --json");
  EXPECT_EQ(o.status, 0);
  EXPECT_NE(o.out.find("\"Result\": 69.04"), std::string::npos) << o.out;
}

TEST(CliFn, ReadableOutputShowsArgumentsAndTheRoundTripResult) {
  const auto o = Qelstats("fn logn 0.001 10");
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find("LogN"), std::string::npos);
  EXPECT_NE(o.out.find("Result    -2.9999999999999996"), std::string::npos) << o.out;
}

TEST(CliFn, UsageErrorsExitTwoWithOneLine) {
  for (const char* args : {"fn ArcTan 1", "fn ArcSin", "fn LogN 8", "fn ArcSin 1 2", "fn ArcSin abc",
                           "fn ArcSin inf", "fn ArcSin 1e400", "fn", "fn ArcSin 1 --bogus"}) {
    const auto o = Qelstats(args);
    EXPECT_EQ(o.status, 2) << args;
    EXPECT_TRUE(o.out.empty()) << args;
    ASSERT_FALSE(o.err.empty()) << args;
    EXPECT_EQ(o.err.find('\n'), o.err.size() - 1) << args << ": " << o.err;
  }
  EXPECT_NE(Qelstats("fn LogN 8").err.find("LogN(x, N)"), std::string::npos);
}

TEST(CliFn, ListNamesAllTwentyTwoWithHelpTexts) {
  const auto o = Qelstats("fn --list");
  EXPECT_EQ(o.status, 0) << o.err;
  int lines = 0;
  for (char c : o.out) lines += c == '\n';
  EXPECT_EQ(lines, 22);
  EXPECT_NE(o.out.find("ArcSin(x)"), std::string::npos);
  EXPECT_NE(o.out.find("LogN(x, N)"), std::string::npos);
  EXPECT_NE(o.out.find("Base N log of X"), std::string::npos);
  EXPECT_NE(o.out.find("Dist_Fctn(lat1, long1, lat2, long2)"), std::string::npos);
  EXPECT_NE(o.out.find("Returns statute miles"), std::string::npos);

  const auto j = Qelstats("fn --list --json");
  EXPECT_EQ(j.status, 0);
  EXPECT_EQ(j.out.rfind("{\"Functions\": [{\"Name\": \"ArcSin\", \"Arguments\": [\"x\"]", 0), 0u) << j.out;
}

}  // namespace
