// Runs the built qelstats as a child process, for the command-line tests.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace qelstats_test {

struct Outcome {
  int status = -1;  // the exit status; -1 when the program did not exit normally (a crash)
  std::string out;
  std::string err;
};

inline std::string Slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// `s` in single quotes for the shell.
inline std::string ShellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// The path of a dataset the program ships (BaseBall.csv, College.csv).
inline std::string DatasetPath(const std::string& file) {
  return std::string(QEL_SOURCE_DIR) + "/VesquinDemo/datasets/" + file;
}

// Runs qelstats with `args` (already quoted for the shell) and returns its
// exit status, standard output and standard error.
inline Outcome RunQelstats(const std::string& args) {
  static int runs = 0;
  const std::filesystem::path base = std::filesystem::path(::testing::TempDir()) /
                                     ("qelstats_" + std::to_string(::getpid()) + "_" + std::to_string(++runs));
  const std::string out = base.string() + ".out", err = base.string() + ".err";
  const std::string command =
      ShellQuote(QEL_BINARY_DIR "/bin/qelstats") + " " + args + " >" + ShellQuote(out) + " 2>" + ShellQuote(err);
  Outcome o;
  const int raw = std::system(command.c_str());
  o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  o.out = Slurp(out);
  o.err = Slurp(err);
  std::filesystem::remove(out);
  std::filesystem::remove(err);
  return o;
}

}  // namespace qelstats_test
