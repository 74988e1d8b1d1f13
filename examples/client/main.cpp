// qel_client DATASETS_DIR: describes the Salary field of BaseBall.csv with
// QelStatsLib.QelUnivariate, created by ProgID (the library is registered
// with qelregsvr, or found beside this program).
#include <cstdio>
#include <string>

#include "qelStatsLib/QelStatsLib.h"
#include "qelcom/qelcom.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: qel_client DATASETS_DIR\n");
    return 2;
  }
  using namespace qelcom;
  ComPtr<QelStatsLib::_QelUnivariate> univariate;
  HRESULT hr = CreateInstance("QelStatsLib.QelUnivariate", QelStatsLib::IID__QelUnivariate, univariate.out());
  if (Failed(hr)) {
    auto info = GetErrorInfo();
    std::fprintf(stderr, "cannot create QelStatsLib.QelUnivariate: 0x%08X %s\n", static_cast<unsigned>(hr),
                 info ? info->description.c_str() : HresultMessage(hr));
    return 1;
  }
  const std::string connection = std::string("Text;DBQ=") + argv[1];
  univariate->put_ConnectionString(connection.c_str());
  univariate->put_Source("BaseBall.csv");
  univariate->put_FieldName("Salary");
  VARIANT_BOOL ok = VARIANT_FALSE;
  hr = univariate->Run(&ok);
  if (Failed(hr)) {
    auto info = GetErrorInfo();
    std::fprintf(stderr, "Run failed: %s: %s\n", info ? info->source.c_str() : "",
                 info ? info->description.c_str() : HresultMessage(hr));
    return 1;
  }
  double n = 0, mean = 0, median = 0;
  univariate->get_N(&n);
  univariate->get_Mean(&mean);
  univariate->get_Median(&median);
  std::printf("Run %s; N %.0f; Mean of Salary %.2f; Median %.2f\n", ok ? "True" : "False", n, mean, median);
  return ok ? 0 : 1;
}
