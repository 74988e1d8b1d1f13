#include "provider.h"

namespace qeldata::detail {

std::unique_ptr<Provider> MakeOdbcProvider(const ConnectionString& cs) {
  throw Error(kErrProvider, "qeldata",
              "No provider for the connection string '" + cs.text() + "' (ODBC is not available in this build)");
}

}  // namespace qeldata::detail
