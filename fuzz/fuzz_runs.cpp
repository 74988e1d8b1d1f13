// The three analyses over small fuzzed in-memory tables: any field types, any
// values (NaN, infinities, subnormals, huge and tiny numbers, texts, dates,
// nulls), any weights and any settings. Each analysis must finish, never let
// an error out other than through its own failure path, and report results
// that hang together when it says it succeeded.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "qelStatsLib/QelBivariate.h"
#include "qelStatsLib/QelOutlier.h"
#include "qelStatsLib/QelUnivariate.h"
#include "qelStatsLib/modOutlier.h"
#include "qelStatsLib/modUnivariate.h"
#include "qelStatsLib/recording_presenter.h"

namespace {

[[noreturn]] void Finding(const char* what) {
  fprintf(stderr, "fuzz_runs finding: %s\n", what);
  abort();
}

class Bytes {
 public:
  Bytes(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
  bool empty() const { return p_ == end_; }
  uint8_t Byte() { return p_ < end_ ? *p_++ : 0; }
  template <typename T>
  T Raw() {
    T v{};
    const size_t n = std::min(sizeof(T), static_cast<size_t>(end_ - p_));
    std::memcpy(&v, p_, n);
    p_ += n;
    return v;
  }

 private:
  const uint8_t* p_;
  const uint8_t* end_;
};

const int kTypes[] = {qeldata::adDouble, qeldata::adInteger, qeldata::adBigInt,   qeldata::adVarNumeric,
                      qeldata::adVarWChar, qeldata::adDate, qeldata::adBoolean, qeldata::adChar};

// A value drawn from the bytes: mostly small numbers, so that ties and
// repeated values are common, and now and then any double at all.
qeldata::Value NextValue(Bytes& in) {
  const uint8_t tag = in.Byte();
  switch (tag % 8) {
    case 0: return qeldata::Value::Null();
    case 1: return qeldata::Value(static_cast<double>(in.Raw<double>()));
    case 2: return qeldata::Value(static_cast<double>(static_cast<int8_t>(in.Byte())) / 4);
    case 3: return qeldata::Value(std::string(1 + in.Byte() % 3, static_cast<char>('0' + in.Byte() % 10)));
    case 4: return qeldata::Value(qeldata::Date{2000 + in.Byte() % 30, 1 + in.Byte() % 12, 1 + in.Byte() % 28});
    case 5: return qeldata::Value::Boolean(in.Byte() & 1);
    case 6: return qeldata::Value(std::string("x") + static_cast<char>(in.Byte()));
    default: return qeldata::Value(static_cast<double>(tag / 8));
  }
}

std::shared_ptr<qeldata::Recordset> NewTable(Bytes& in) {
  auto rs = std::make_shared<qeldata::Recordset>();
  const char* const names[] = {"V", "W", "T"};
  for (const char* name : names) rs->GetFields().Append(name, kTypes[in.Byte() % 8], 255, qeldata::adFldIsNullable);
  rs->Open();
  const int rows = in.Byte() % 48;
  for (int r = 0; r < rows && !in.empty(); ++r) {
    rs->AddNew();
    for (int c = 0; c < 3; ++c) {
      try {
        rs->GetFields().Item(c).SetValue(NextValue(in));
      } catch (const qeldata::Error&) {
        // A value the field's type cannot hold stays null.
      }
    }
    rs->Update();
  }
  return rs;
}

// The field names a caller might set: present, missing, blank, odd case.
std::string PickName(Bytes& in, const char* present) {
  switch (in.Byte() % 6) {
    case 0: return "";
    case 1: return "  ";
    case 2: return "Nope";
    case 3: return std::string(present) == "V" ? "v" : present;
    default: return present;
  }
}

bool HasTinyOrNegativeWeight(qeldata::Recordset& rs) {
  for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext()) {
    const qeldata::Value& w = rs.GetFields().Item(1).GetValue();
    try {
      // Subnormal weights too: w * x underflows to 0 and the mean with it.
      if (!w.IsNull() && !(w.AsNumber() > 1e-200)) return true;
    } catch (const qeldata::Error&) {
    }
  }
  return false;
}

bool Ordered(double a, double b) { return a <= b || std::isnan(a) || std::isnan(b); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Bytes in(data, size);
  auto table = NewTable(in);
  if (getenv("QEL_FUZZ_DUMP")) {
    for (table->MoveFirst(); !table->IsEOF(); table->MoveNext()) {
      for (int c = 0; c < 3; ++c) {
        const qeldata::Value& v = table->GetFields().Item(c).GetValue();
        fprintf(stderr, "%s%d:%s", c ? " | " : "", table->GetFields().Item(c).Type(),
                v.IsNumber() ? qeldata::RoundTripText(v.number()).c_str() : v.AsText().c_str());
      }
      fprintf(stderr, "\n");
    }
  }
  qel::RecordingPresenter presenter;
  qel::ScopedPresenter scoped(&presenter);
  const bool show = in.Byte() & 1;

  {
    qel::QelUnivariate u;
    u.SetFieldName(PickName(in, "V"));
    if (in.Byte() & 1) u.SetWeightField(PickName(in, "W"));
    u.SetshowStatus(show);
    u.SetDataSource(table);
    bool ok = false;
    try {
      ok = u.Run();
    } catch (const qeldata::Error& e) {
      // Only the parameter checks may raise, with the library's input error.
      if (e.number() != qeldata::kErrLibraryInput) Finding("univariate raised something else than its input error");
    }
    // Quartiles under zero or negative weights mean nothing, and the run does not
    // refuse such weights (see docs/RELIABILITY.md): their order is checked only without.
    if (ok && !(u.N() > 0)) Finding("univariate succeeded without a value");
    if (ok) {
      if (!u.WeightField().empty() && HasTinyOrNegativeWeight(*table)) goto outlier;
      if (!Ordered(u.Min(), u.Q1()) || !Ordered(u.Q1(), u.Median()) || !Ordered(u.Median(), u.Q3()) ||
          !Ordered(u.Q3(), u.Max()))
      {
        fprintf(stderr, "N=%g WgtN=%g Min=%g Q1=%g Median=%g Q3=%g Max=%g weight='%s'\n", u.N(), u.WgtN(), u.Min(), u.Q1(),
                u.Median(), u.Q3(), u.Max(), u.WeightField().c_str());
        Finding("univariate quartiles out of order");
      }
      if (!Ordered(u.Min(), u.Mean() + std::fabs(u.Mean()) * 1e-9) ||
          !Ordered(u.Mean() - std::fabs(u.Mean()) * 1e-9, u.Max()))
        Finding("univariate mean outside [Min, Max]");
    } else if (qel::LastStopReason().empty() && !u.FieldName().empty() &&
               u.FieldName().find_first_not_of(' ') != std::string::npos) {
      Finding("univariate failed without a reason");
    }
  }
outlier:
  {
    qel::QelOutlier o;
    o.SetOutlierField(PickName(in, "V"));
    if (in.Byte() & 1) o.SetWeightField(PickName(in, "W"));
    o.SetFindType(static_cast<qel::OutlierType>(static_cast<int32_t>(in.Byte() % 4)));
    const uint8_t parm = in.Byte();
    o.SetTypeParm(parm & 0x80 ? in.Raw<double>() : parm % 40 / 4.0);
    o.SetshowStatus(show);
    o.SetDataSource(table);
    try {
      // A failed check shows "Error: ..."; a failed run keeps its reason in the run record.
      if (!o.Run() && presenter.messages().empty() && qel::LastStopReason().empty())
        Finding("outlier failed without a message or a reason");
    } catch (...) {
      Finding("an error left QelOutlier.Run");
    }
    if (auto rows = o.ResultSet()) {
      if (static_cast<double>(rows->RecordCount()) != o.Cardinality()) Finding("outlier rows differ from Cardinality");
      if (o.OutlierCountN() > o.N()) Finding("more outliers than records");
    }
  }
  {
    qel::QelBivariate b;
    b.SetPredictorField(PickName(in, "V"));
    b.SetTargetField(PickName(in, "T"));
    if (in.Byte() & 1) b.SetWeightField(PickName(in, "W"));
    b.SetBinCount(in.Raw<int16_t>());
    b.SetCategorical(in.Byte() & 1);
    b.SetshowStatus(show);
    b.SetDataSource(table);
    presenter.Clear();
    try {
      b.Run();
    } catch (...) {
      Finding("an error left QelBivariate.Run");
    }
    auto rows = b.ResultSet();
    const bool failed = !presenter.messages().empty();
    if (!failed && !rows) Finding("bivariate gave no table and said nothing");
    if (presenter.windows_open() != 0) Finding("a progress window was left open");
  }
  return 0;
}
