// qelstats against hostile input: file names that look like SQL or like
// connection-string syntax, output that cannot be written, data that holds
// terminal control sequences or bytes that are not UTF-8, and options given
// in ways that used to be misread.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>
#include <algorithm>

#include "qelstats_runner.h"
#include "qeltesting/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using qelstats_test::Outcome;
using qelstats_test::RunQelstats;
using qelstats_test::ShellQuote;
using qelstats_test::Slurp;

class QelstatsHostile : public ::testing::Test {
 protected:

  fs::path Write(const fs::path& relative, const std::string& text) {
    const fs::path path = dir_ / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  // The run's output with stdout sent to `redirect` ("/dev/full", "&-").
  Outcome RunWithStdout(const std::string& args, const std::string& redirect) {
    const std::string err = (dir_ / "stderr.txt").string();
    const std::string command =
        ShellQuote(QEL_BINARY_DIR "/bin/qelstats") + " " + args + " >" + redirect + " 2>" + ShellQuote(err);
    const int raw = std::system(command.c_str());
    Outcome o;
    o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    o.err = Slurp(err);
    return o;
  }

  qel::testing::TempFolder temp_{"qelstats_hostile"};
  const fs::path& dir_ = temp_.path();
};

// --- names are quoted, never pasted ---

TEST_F(QelstatsHostile, FileNameThatLooksLikeSqlReadsThatFileOnly) {
  Write("x.csv", "a\n1\n");
  Write("other.csv", "a\n500\n");
  const fs::path hostile = Write("x.csv] union all select * from [other.csv", "a\n1\n2\n3\n4\n");
  const Outcome o = RunQelstats("univariate --csv " + ShellQuote(hostile.string()) + " --field a --json");
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find("\"N\": 4,"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("\"Max\": 4,"), std::string::npos) << "other.csv must stay unread: " << o.out;

  // A bracket alone used to end in an SQL syntax error.
  const fs::path weird = Write("we]ird.csv", "a\n3\n4\n5\n6\n");
  const Outcome w = RunQelstats("univariate --csv " + ShellQuote(weird.string()) + " --field a --json");
  ASSERT_EQ(w.status, 0) << w.err;
  EXPECT_NE(w.out.find("\"Sum\": 18,"), std::string::npos) << w.out;
}

TEST_F(QelstatsHostile, FolderThatLooksLikeConnectionStringReadsThatFolder) {
  Write("elsewhere/data.csv", "a\n500\n");
  const fs::path inside = Write("f;DBQ=" + (dir_ / "elsewhere").string() + "/data.csv", "a\n7\n");
  const Outcome o = RunQelstats("univariate --csv " + ShellQuote(inside.string()) + " --field a --json");
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find("\"Max\": 7,"), std::string::npos) << o.out;

  // Braces in a folder name are escaped, not taken for the end of the value.
  const fs::path braced = Write("b}r;x={y}/data.csv", "a\n9\n");
  const Outcome b = RunQelstats("univariate --csv " + ShellQuote(braced.string()) + " --field a --json");
  ASSERT_EQ(b.status, 0) << b.err;
  EXPECT_NE(b.out.find("\"Max\": 9,"), std::string::npos) << b.out;
}

TEST_F(QelstatsHostile, NameThatCannotBeQuotedIsRefusedByName) {
  const fs::path blank = Write("trailing.csv ", "a\n1\n");
  const Outcome o = RunQelstats("univariate --csv " + ShellQuote(blank.string()) + " --field a");
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.err.find("trailing.csv "), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("blank"), std::string::npos) << o.err;
}

// --- output that cannot be written is no success ---

TEST_F(QelstatsHostile, UnwritableOutputExitsTwo) {
  const std::string csv = ShellQuote(Write("v.csv", "a\n1\n2\n3\n4\n").string());
  for (const std::string& command : std::vector<std::string>{"univariate --csv " + csv + " --field a --json",
                                    "fields --csv " + csv, "fn ArcSin 1"}) {
    const Outcome full = RunWithStdout(command, "/dev/full");
    EXPECT_EQ(full.status, 2) << command;
    EXPECT_NE(full.err.find("cannot write the output: No space left on device"), std::string::npos) << full.err;
    const Outcome closed = RunWithStdout(command, "&-");
    EXPECT_EQ(closed.status, 2) << command;
    EXPECT_NE(closed.err.find("cannot write the output"), std::string::npos) << closed.err;
  }
}

// --- control characters and bytes that are not UTF-8 ---

// A header and values carrying a screen clear, a title change and a clipboard
// write (OSC 52), and a C1 control (U+009B, CSI) in UTF-8.
const std::string kHostileCsv =
    "\"p\x1b[2J\",t\n"
    "\"\x1b]52;c;cHduZWQ=\x07\",1\n"
    "\"\x1b]0;title\x07\",0\n"
    "\"c1\xc2\x9b" "31m\",1\n";

TEST_F(QelstatsHostile, ControlCharactersAreEscapedInTextOutput) {
  const std::string csv = ShellQuote(Write("ctl.csv", kHostileCsv).string());
  for (const std::string& command : std::vector<std::string>{"fields --csv " + csv,
                                    "bivariate --csv " + csv + " --predictor " + ShellQuote("p\x1b[2J") +
                                        " --target t --bins 3 --categorical"}) {
    const Outcome o = RunQelstats(command);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out.find('\x1b'), std::string::npos) << o.out;
    EXPECT_EQ(o.out.find('\x07'), std::string::npos) << o.out;
    EXPECT_EQ(o.out.find("\xc2\x9b"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("p\\x1b[2J"), std::string::npos) << o.out;
    if (command.rfind("bivariate", 0) == 0) {
      EXPECT_NE(o.out.find("\\x1b]52;c;cHduZWQ=\\x07"), std::string::npos) << o.out;
      EXPECT_NE(o.out.find("c1\\u009b31m"), std::string::npos) << o.out;
    }
  }
  // A message that quotes a hostile name is escaped as well.
  const Outcome missing = RunQelstats("univariate --csv " + csv + " --field " + ShellQuote("no\x1b]52;c;eA==\x07"));
  EXPECT_NE(missing.status, 0);
  EXPECT_EQ(missing.err.find('\x1b'), std::string::npos) << missing.err;
}

TEST_F(QelstatsHostile, JsonEscapesControlsAndReplacesInvalidUtf8) {
  const std::string csv = ShellQuote(Write("ctl.csv", kHostileCsv).string());
  const Outcome o = RunQelstats("fields --csv " + csv + " --json");
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find("\"name\": \"p\\u001b[2J\""), std::string::npos) << o.out;

  if (std::system("command -v sqlite3 >/dev/null") != 0) GTEST_SKIP() << "the sqlite3 program is not installed";
  const fs::path db = dir_ / "bytes.db";
  // 0xFF and a lone continuation byte, stored as TEXT.
  const std::string sql =
      "create table t(p text, t real);"
      "insert into t values (cast(x'41ff42' as text), 1), (cast(x'80' as text), 0), ('ok', 1);";
  ASSERT_EQ(std::system(("sqlite3 " + ShellQuote(db.string()) + " " + ShellQuote(sql)).c_str()), 0);
  const Outcome b = RunQelstats("bivariate --connection " + ShellQuote("Driver=SQLite3;Database=" + db.string()) +
                                " --source t --predictor p --target t --bins 3 --categorical --json");
  ASSERT_EQ(b.status, 0) << b.err;
  // Each of the two bad bytes appears in a Min and a Max column.
  EXPECT_NE(b.out.find("\"A\xef\xbf\xbd" "B\""), std::string::npos) << b.out;
  EXPECT_EQ(b.out.find('\xff'), std::string::npos);
  EXPECT_NE(b.err.find("4 bytes of text that is not UTF-8 written as U+FFFD"), std::string::npos) << b.err;
}

// --- options ---

TEST_F(QelstatsHostile, SwitchWithValueAndRepeatedOptionAreUsageErrors) {
  const std::string a = ShellQuote(Write("a.csv", "p,t\n1,1\n2,0\n").string());
  const std::string b = ShellQuote(Write("b.csv", "p,t\n1,1\n").string());
  for (const std::string& command : std::vector<std::string>{"univariate --csv " + a + " --field p --json=no",
                                    "bivariate --csv " + a + " --predictor p --target t --bins 2 --categorical=false",
                                    "univariate --csv " + a + " --field p --csv " + b,
                                    "outlier --csv " + a + " --field p --rule std --parm 1 --parm=2"}) {
    const Outcome o = RunQelstats(command);
    EXPECT_EQ(o.status, 2) << command;
    EXPECT_EQ(o.out, "") << command;
    EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
  }
}

// --- messages that name the real cause ---

TEST_F(QelstatsHostile, CsvThatIsNoFileIsNamedForWhatItIs) {
  fs::create_directories(dir_ / "folder.csv");
  ASSERT_EQ(::mkfifo((dir_ / "pipe.csv").c_str(), 0600), 0);
  fs::create_symlink("loop2.csv", dir_ / "loop1.csv");
  fs::create_symlink("loop1.csv", dir_ / "loop2.csv");
  fs::create_symlink("gone.csv", dir_ / "dangling.csv");
  const std::pair<const char*, const char*> cases[] = {{"folder.csv", "a folder, not a file"},
                                                       {"pipe.csv", "a named pipe (FIFO)"},
                                                       {"loop1.csv", "Too many levels of symbolic links"},
                                                       {"dangling.csv", "a symbolic link to a missing file"},
                                                       {"absent.csv", "no such file"}};
  for (const auto& [name, cause] : cases) {
    const Outcome o = RunQelstats("fields --csv " + ShellQuote((dir_ / name).string()));
    EXPECT_EQ(o.status, 2) << name;
    EXPECT_NE(o.err.find(cause), std::string::npos) << name << ": " << o.err;
  }
}

TEST_F(QelstatsHostile, HeaderOnlyFileIsReportedAsHavingNoDataRows) {
  const fs::path file = Write("header.csv", "a,b\n");
  for (const std::string& command : std::vector<std::string>{"univariate --field a", "outlier --field a --rule std --parm 2",
                                    "bivariate --predictor a --target b --bins 3"}) {
    const Outcome o = RunQelstats(command + " --csv " + ShellQuote(file.string()) + " --json");
    EXPECT_EQ(o.status, 1) << command;
    EXPECT_NE(o.err.find(file.string() + " has no data rows"), std::string::npos) << command << ": " << o.err;
  }
}

}  // namespace
