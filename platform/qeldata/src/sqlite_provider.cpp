#include "provider.h"

namespace qeldata::detail {

std::unique_ptr<Provider> MakeSqliteProvider(const ConnectionString& cs) {
  throw Error(kErrProvider, "qeldata", "The sqlite provider is not built yet: " + cs.text());
}

}  // namespace qeldata::detail
