#include "cli_common.h"

namespace qelcli {

int RunFn(const std::vector<std::string>&) { throw UsageError("not available yet"); }

}  // namespace qelcli
