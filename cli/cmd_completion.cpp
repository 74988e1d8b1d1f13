// qelstats completion bash: the bash completion script, to evaluate in a
// shell (eval "$(qelstats completion bash)"); the same script is installed
// for bash-completion.
#include <iostream>

#include "cli_common.h"
#include "completion_script.h"

namespace qelcli {

int RunCompletion(const std::vector<std::string>& argv) {
  if (argv.size() != 1 || argv[0] != "bash") throw UsageError("give the shell: qelstats completion bash");
  std::cout << kBashCompletion;
  return kExitRan;
}

}  // namespace qelcli
