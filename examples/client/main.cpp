// qel_client DATASETS_DIR: describes the Salary field of BaseBall.csv with
// QelStatsLib.QelUnivariate, then flags its outlying values with
// QelStatsLib.QelOutlier and prints the first rows of the result table. Both
// classes are created by ProgID, so the component library must be found at
// run time: registered with `qelregsvr <libdir>/libqelStatsLib.so`, or
// installed in ../<libdir> from this program (see CMakeLists.txt).
#include <cstdio>
#include <string>

#include "qelStatsLib/QelStatsLib.h"  // everything a host needs

namespace {

// Prints what went wrong in the last call on this thread and returns 1.
int Fail(const char* what, qelcom::HRESULT hr) {
  auto info = qelcom::GetErrorInfo();
  std::fprintf(stderr, "%s: 0x%08X %s%s%s\n", what, static_cast<unsigned>(hr), info ? info->source.c_str() : "",
               info ? ": " : "", info ? info->description.c_str() : qelcom::HresultMessage(hr));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: qel_client DATASETS_DIR\n");
    return 2;
  }
  using namespace qelcom;
  const std::string connection = std::string("Text;DBQ=") + argv[1];

  ComPtr<QelStatsLib::_QelUnivariate> univariate;
  HRESULT hr = CreateInstance("QelStatsLib.QelUnivariate", QelStatsLib::IID__QelUnivariate, univariate.out());
  if (Failed(hr)) return Fail("cannot create QelStatsLib.QelUnivariate", hr);
  univariate->put_ConnectionString(connection.c_str());
  univariate->put_Source("BaseBall.csv");
  univariate->put_FieldName("Salary");
  VARIANT_BOOL ok = VARIANT_FALSE;  // QelUnivariate.Run answers a boolean
  if (Failed(hr = univariate->Run(&ok))) return Fail("QelUnivariate.Run", hr);
  double n = 0, mean = 0, median = 0;
  univariate->get_N(&n);
  univariate->get_Mean(&mean);
  univariate->get_Median(&median);
  std::printf("Run %s; N %.0f; Mean of Salary %.2f; Median %.2f\n", ok ? "True" : "False", n, mean, median);
  if (!ok) return 1;

  ComPtr<QelStatsLib::_QelOutlier> outlier;
  hr = CreateInstance("QelStatsLib.QelOutlier", QelStatsLib::IID__QelOutlier, outlier.out());
  if (Failed(hr)) return Fail("cannot create QelStatsLib.QelOutlier", hr);
  outlier->put_ConnectionString(connection.c_str());
  outlier->put_Source("BaseBall.csv");
  outlier->put_OutlierField("Salary");
  outlier->put_FindType(QelStatsLib::outSTD);
  outlier->put_TypeParm(2);
  Variant ran;  // QelOutlier.Run answers a boolean Variant
  if (Failed(hr = outlier->Run(&ran))) return Fail("QelOutlier.Run", hr);
  double outliers = 0;
  outlier->get_OutlierCountN(&outliers);
  std::printf("Outliers of Salary beyond 2 standard deviations: %.0f records\n", outliers);

  // The result table comes back after its last row: start at its first.
  ComPtr<IDispatch> result_set;
  if (Failed(hr = outlier->get_ResultSet(result_set.out()))) return Fail("QelOutlier.ResultSet", hr);
  std::shared_ptr<qeldata::Recordset> table = UnwrapRecordset(result_set.get());
  if (!table) {
    std::fprintf(stderr, "QelOutlier.ResultSet: no result table\n");
    return 1;
  }
  table->MoveFirst();
  std::printf("%-12s %6s %s\n", "Value", "N", "Outlier");
  for (int row = 0; row < 5 && !table->IsEOF(); ++row, table->MoveNext()) {
    std::printf("%-12s %6s %s\n", table->Collect("Value").AsText().c_str(), table->Collect("N").AsText().c_str(),
                table->Collect("Outlier").AsText().c_str());
  }
  return 0;
}
