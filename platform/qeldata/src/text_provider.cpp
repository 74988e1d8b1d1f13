#include "provider.h"

namespace qeldata::detail {

std::unique_ptr<Provider> MakeTextProvider(const ConnectionString& cs) {
  throw Error(kErrProvider, "qeldata", "The text provider is not built yet: " + cs.text());
}

}  // namespace qeldata::detail
