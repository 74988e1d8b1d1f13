// The three runs give bit-for-bit the same results whether they read a CSV
// file through the text provider's streaming path (columns converted only
// when read, records split sixteen bytes at a time) or the same values from a
// plain in-memory recordset built from the numbers as strtod reads them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <bit>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include "qelStatsLib/modBivariate.h"
#include "qelStatsLib/modOutlier.h"
#include "qelStatsLib/modUnivariate.h"
#include "qelStatsLib/presenter.h"
#include "qelStatsLib/recording_presenter.h"
#include "qeldata/recordset.h"
#include "qeltesting/temp_folder.h"

namespace qel {
namespace {

namespace fs = std::filesystem;
using qeldata::Recordset;
using qeldata::Value;

// Rows of x (decimals: some beyond 15 digits, -0, blanks), w (weights, some
// blank), t (a target), c (texts, some quoted with commas and quotes), n
// (whole numbers), a date and a long text that makes the file large enough
// (over 8 MB) to be read ahead on a second thread; over several blocks.
struct Data {
  std::string csv = "x,w,t,c,n,d,pad\n";
  std::vector<std::vector<std::string>> cells;  // as written, without quotes
};

Data MakeData() {
  Data data;
  std::mt19937_64 rng(20261207);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  for (int i = 0; i < 12000; ++i) {
    std::string x;
    switch (pick(12)) {
      case 0: x = ""; break;
      case 1: x = "-0"; break;
      case 2: x = "0.1000000000000000055511151231257827"; break;  // beyond 15 digits
      case 3: x = std::to_string(pick(1000)) + ".123456789012345678"; break;
      case 4: x = "1e" + std::to_string(pick(5)); break;
      default: x = std::to_string(pick(3000) - 1000) + "." + std::to_string(pick(100));
    }
    const std::string w = pick(20) == 0 ? "" : std::to_string(1 + pick(9)) + "." + std::to_string(pick(10));
    const std::string t = "0." + std::to_string(pick(10000));
    const int k = pick(30);
    const std::string c = k == 0 ? "" : k < 3 ? "Say \"hi\", " + std::to_string(k) : "K" + std::to_string(k);
    const std::string n = std::to_string(pick(2000000) - 1000000);
    const std::string d = "2024-0" + std::to_string(1 + pick(9)) + "-1" + std::to_string(pick(10));
    std::string quoted_c = c;
    if (c.find('"') != std::string::npos) {
      quoted_c = "\"";
      for (char ch : c) quoted_c += ch == '"' ? std::string("\"\"") : std::string(1, ch);
      quoted_c += "\"";
    }
    const std::string pad(700 + pick(100), 'p');
    data.csv += x + "," + w + "," + t + "," + quoted_c + "," + n + "," + d + "," + pad + (i % 5 == 0 ? "\r\n" : "\n");
    data.cells.push_back({x, w, t, c, n, d, pad});
  }
  return data;
}

Value Number(const std::string& token) {
  if (token.empty()) return Value();
  return Value(std::strtod(token.c_str(), nullptr));
}

std::shared_ptr<Recordset> InMemory(const Data& data) {
  auto rs = std::make_shared<Recordset>();
  auto fields = rs->GetFields();
  fields.Append("x", qeldata::adDouble);
  fields.Append("w", qeldata::adDouble);
  fields.Append("t", qeldata::adDouble);
  fields.Append("c", qeldata::adVarWChar, 255);
  fields.Append("n", qeldata::adInteger);
  fields.Append("d", qeldata::adDate);
  fields.Append("pad", qeldata::adVarWChar, 255);
  rs->Open();
  for (const auto& row : data.cells) {
    rs->AddNew();
    for (int i : {0, 1, 2, 4}) fields.Item(i).SetValue(Number(row[i]));
    fields.Item(3).SetValue(row[3].empty() ? Value() : Value(row[3]));
    fields.Item(5).SetValue(Value(*qeldata::Date::Parse(row[5])));
    fields.Item(6).SetValue(Value(row[6]));
    rs->Update();
  }
  rs->MoveFirst();
  return rs;
}

class ReadPathsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream(dir_ / "data.csv", std::ios::binary) << data_.csv;
  }

  std::shared_ptr<Recordset> Streamed() {
    auto rs = std::make_shared<Recordset>();
    rs->SetCursorLocation(qeldata::adUseServer);
    rs->Open("data.csv", "Text;DBQ=" + dir_.string(), qeldata::adOpenForwardOnly, qeldata::adLockReadOnly, -1);
    return rs;
  }

  Data data_ = MakeData();
  qel::testing::TempFolder temp_{"read_paths"};
  const fs::path& dir_ = temp_.path();
  RecordingPresenter presenter_;
  ScopedPresenter use_{&presenter_};
};

// Records of doubles only: equal bit for bit.
template <typename Record>
void ExpectSameBits(const Record& a, const Record& b, const char* what) {
  static_assert(sizeof(Record) % sizeof(double) == 0);
  EXPECT_EQ(std::memcmp(&a, &b, sizeof(Record)), 0) << what;
}

void ExpectSameTable(const std::shared_ptr<Recordset>& a, const std::shared_ptr<Recordset>& b, const char* what) {
  ASSERT_TRUE(a && b) << what;
  ASSERT_EQ(a->RecordCount(), b->RecordCount()) << what;
  const int columns = a->GetFields().Count();
  a->MoveFirst();
  b->MoveFirst();
  for (std::int64_t row = 0; !a->IsEOF(); a->MoveNext(), b->MoveNext(), ++row) {
    for (int c = 0; c < columns; ++c) {
      const Value& x = a->GetFields().Item(c).GetValue();
      const Value& y = b->GetFields().Item(c).GetValue();
      ASSERT_EQ(x.kind(), y.kind()) << what << " row " << row;
      if (x.IsNumber()) {
        EXPECT_EQ(std::bit_cast<std::uint64_t>(x.number()), std::bit_cast<std::uint64_t>(y.number()))
            << what << " row " << row << " column " << c;
      } else {
        EXPECT_TRUE(x == y) << what << " row " << row << " column " << c;
      }
    }
  }
}

TEST_F(ReadPathsTest, UnivariateRunsAgreeBitForBit) {
  for (const char* weight : {"", "w"}) {
    for (const char* field : {"x", "n"}) {
      auto mem = InMemory(data_);
      ASSERT_TRUE(Univariate_Run(*mem, field, weight, false)) << LastStopReason();
      const UnivariateRecord plain = UnivariateRunRecord();
      ASSERT_TRUE(Univariate_Run(*Streamed(), field, weight, false)) << LastStopReason();
      ExpectSameBits(UnivariateRunRecord(), plain, field);
    }
  }
}

TEST_F(ReadPathsTest, OutlierRunsAgreeBitForBit) {
  for (const char* weight : {"", "w"}) {
    for (int rule : {1, 2}) {
      auto mem = InMemory(data_);
      auto plain_rows = Outlier_Run(*mem, "x", weight, rule, rule == 1 ? 1.5 : 10, false);
      const OutlierRecord plain = OutlierRunRecord();
      const std::string plain_reason = LastStopReason();
      auto fast_rows = Outlier_Run(*Streamed(), "x", weight, rule, rule == 1 ? 1.5 : 10, false);
      const OutlierRecord& fast = OutlierRunRecord();
      for (double OutlierRecord::*m : std::initializer_list<double OutlierRecord::*>{
               &OutlierRecord::N, &OutlierRecord::WgtN, &OutlierRecord::Sum, &OutlierRecord::SumWgt,
            &OutlierRecord::Missing, &OutlierRecord::Mean, &OutlierRecord::Variance, &OutlierRecord::Stdev,
            &OutlierRecord::Min, &OutlierRecord::Max, &OutlierRecord::Cardinality, &OutlierRecord::Median,
            &OutlierRecord::Q1, &OutlierRecord::Q3, &OutlierRecord::TrimmedMean, &OutlierRecord::OutlierCountN,
            &OutlierRecord::OutlierCountWgt, &OutlierRecord::SumSq})
        EXPECT_EQ(std::bit_cast<std::uint64_t>(fast.*m), std::bit_cast<std::uint64_t>(plain.*m)) << rule << weight;
      EXPECT_EQ(LastStopReason(), plain_reason);
      ExpectSameTable(fast_rows, plain_rows, rule == 1 ? "std rows" : "tmean rows");
    }
  }
}

TEST_F(ReadPathsTest, BivariateRunsAgreeBitForBit) {
  for (const char* weight : {"", "w"}) {
    for (const char* predictor : {"x", "c", "d", "n"}) {
      BivariateRunRecord() = BivariateRecord{};
      auto mem = InMemory(data_);
      auto plain_rows = Bivariate_Run(*mem, predictor, "t", false, weight, 20);
      const BivariateRecord plain = BivariateRunRecord();
      BivariateRunRecord() = BivariateRecord{};
      auto fast_rows = Bivariate_Run(*Streamed(), predictor, "t", false, weight, 20);
      const BivariateRecord fast = BivariateRunRecord();
      for (auto [a, b] : {std::pair{fast.TargetMean, plain.TargetMean}, {fast.N, plain.N}, {fast.Missing, plain.Missing},
                          {fast.DI, plain.DI}, {fast.PSI, plain.PSI}, {fast.Cardinality, plain.Cardinality}})
        EXPECT_EQ(std::bit_cast<std::uint64_t>(a), std::bit_cast<std::uint64_t>(b)) << predictor;
      EXPECT_EQ(fast.Categorical, plain.Categorical) << predictor;
      ExpectSameTable(fast_rows, plain_rows, predictor);
    }
  }
}

}  // namespace
}  // namespace qel
