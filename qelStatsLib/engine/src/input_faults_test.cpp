// Faults in the input while an analysis reads it: a CSV file cut short or
// deleted under the reader, an SQLite file locked by a writer. Each run fails
// through its own failure path with the cause in the message (or, where the
// data stays readable, gives the full result), the process carries on, and no
// input file is ever changed by an analysis: every test compares the bytes and
// the timestamps of its inputs before and after.
//
// The PostgreSQL server stopped mid-read is covered beside the ODBC provider
// (OdbcPostgres.AServerThatGoesAwayMidReadIsAFailureNotAnEnd).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "qelStatsLib/QelBivariate.h"
#include "qelStatsLib/QelOutlier.h"
#include "qelStatsLib/QelUnivariate.h"
#include "qelStatsLib/modUnivariate.h"
#include "qelStatsLib/recording_presenter.h"
#include "qeltesting/temp_folder.h"

namespace qel {
namespace {

namespace fs = std::filesystem;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// What an analysis must leave alone: the bytes, the size and both timestamps.
struct FileState {
  std::string bytes;
  std::int64_t mtime_ns = 0, ctime_ns = 0;
  bool operator==(const FileState&) const = default;
};

FileState StateOf(const fs::path& path) {
  FileState s;
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  s.bytes = ss.str();
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    s.mtime_ns = st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
    s.ctime_ns = st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec;
  }
  return s;
}

class InputFaults : public ::testing::Test {
 protected:

  std::string TextConnection() const { return "Text;DBQ=" + folder_.string(); }

  // A one-field file of `rows` numbers, large enough that the reader is
  // still far from its end when a fault strikes.
  fs::path WriteNumbers(int rows) {
    const fs::path path = folder_ / "big.csv";
    std::string text = "v,t\n";
    text.reserve(static_cast<std::size_t>(rows) * 12);
    for (int i = 0; i < rows; ++i) text += std::to_string(i % 1000) + "," + std::to_string(i % 7) + "\n";
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  // Runs the three analyses over big.csv, calling `fault` once a run has
  // opened its input and shown its window (its first progress event).
  struct Outcome {
    bool univariate = false;
    std::string univariate_reason;
    bool outlier = false;
    std::string outlier_reason;
    std::vector<std::string> bivariate_messages;
    bool bivariate_table = false;
  };
  Outcome RunAll(const std::function<void()>& before_each, const std::function<void()>& fault) {
    Outcome out;
    RecordingPresenter rec;
    ScopedPresenter use(&rec);
    bool struck = false;
    rec.SetOnEvent([&](const PresenterEvent& e) {
      if (e.kind == PresenterEvent::Kind::kLoad && !struck) {
        struck = true;
        fault();
      }
    });
    before_each();
    QelUnivariate u;
    u.SetConnectionString(TextConnection());
    u.SetSource("big.csv");
    u.SetFieldName("v");
    u.SetshowStatus(true);
    out.univariate = u.Run();
    out.univariate_reason = LastStopReason();

    struck = false;
    before_each();
    QelOutlier o;
    o.SetConnectionString(TextConnection());
    o.SetSource("big.csv");
    o.SetOutlierField("v");
    o.SetFindType(outSTD);
    o.SetTypeParm(2);
    o.SetshowStatus(true);
    out.outlier = o.Run();
    out.outlier_reason = o.StopReason();

    struck = false;
    before_each();
    rec.Clear();
    QelBivariate b;
    b.SetConnectionString(TextConnection());
    b.SetSource("big.csv");
    b.SetPredictorField("v");
    b.SetTargetField("t");
    b.SetBinCount(10);
    b.SetshowStatus(true);
    b.Run();
    out.bivariate_messages = rec.messages();
    out.bivariate_table = b.ResultSet() && b.ResultSet()->RecordCount() > 0;
    EXPECT_EQ(rec.windows_open(), 0);
    return out;
  }

  qel::testing::TempFolder temp_{"input_faults"};
  const fs::path& folder_ = temp_.path();
};

TEST_F(InputFaults, ACsvFileCutShortWhileReadFailsWithTheCause) {
  const fs::path path = folder_ / "big.csv";
  // Cut to three pages under the open reader: the pages beyond the new end are
  // gone, so reading on would fault the whole process if nothing caught it.
  const Outcome out = RunAll([&] { WriteNumbers(400000); }, [&] { ASSERT_EQ(::truncate(path.c_str(), 4096 * 3), 0); });
  EXPECT_FALSE(out.univariate);
  EXPECT_TRUE(Contains(out.univariate_reason, "big.csv")) << out.univariate_reason;
  EXPECT_TRUE(Contains(out.univariate_reason, "while it was being read")) << out.univariate_reason;
  EXPECT_FALSE(out.outlier);
  EXPECT_TRUE(Contains(out.outlier_reason, "while it was being read")) << out.outlier_reason;
  ASSERT_EQ(out.bivariate_messages.size(), 1u);
  EXPECT_TRUE(Contains(out.bivariate_messages[0], "Com_Bivariate: Bivariate_Run ")) << out.bivariate_messages[0];
  EXPECT_TRUE(Contains(out.bivariate_messages[0], "while it was being read")) << out.bivariate_messages[0];
  EXPECT_FALSE(out.bivariate_table);

  // The process carries on: the same file, whole again, reads in full.
  WriteNumbers(400000);
  QelUnivariate u;
  u.SetConnectionString(TextConnection());
  u.SetSource("big.csv");
  u.SetFieldName("v");
  ASSERT_TRUE(u.Run()) << LastStopReason();
  EXPECT_EQ(u.N(), 400000);
}

TEST_F(InputFaults, ACsvFileDeletedWhileReadIsReadToItsEnd) {
  // The reader keeps the file it opened: a deleted file is read to its end and
  // the results are those of the file as it was.
  const fs::path path = folder_ / "big.csv";
  const auto write = [&] { WriteNumbers(200000); };
  const Outcome whole = RunAll(write, [] {});
  const Outcome deleted = RunAll(write, [&] { fs::remove(path); });
  EXPECT_TRUE(whole.univariate);
  EXPECT_EQ(deleted.univariate, whole.univariate);
  EXPECT_EQ(deleted.outlier, whole.outlier);
  EXPECT_TRUE(deleted.bivariate_messages.empty());
  EXPECT_TRUE(deleted.bivariate_table);
}

TEST_F(InputFaults, AnalysesLeaveTheirInputFilesUntouched) {
  const fs::path baseball = folder_ / "BaseBall.csv";
  fs::copy_file(fs::path(QEL_SOURCE_DIR) / "VesquinDemo/datasets/BaseBall.csv", baseball);
  const FileState before = StateOf(baseball);
  RecordingPresenter rec;
  ScopedPresenter use(&rec);
  for (const std::string source : {"BaseBall.csv", "[BaseBall.csv]", "select * from [BaseBall.csv]",
                                   "select Salary, HR, Bats from [BaseBall.csv] where Salary > 0"}) {
    QelUnivariate u;
    u.SetConnectionString(TextConnection());
    u.SetSource(source);
    u.SetFieldName("Salary");
    u.SetWeightField("HR");
    EXPECT_TRUE(u.Run()) << source;
    EXPECT_EQ(StateOf(baseball), before) << "univariate over " << source;

    QelOutlier o;
    o.SetConnectionString(TextConnection());
    o.SetSource(source);
    o.SetOutlierField("Salary");
    o.SetFindType(outTMean);
    o.SetTypeParm(10);
    EXPECT_TRUE(o.Run()) << source;
    EXPECT_EQ(StateOf(baseball), before) << "outlier over " << source;

    QelBivariate b;
    b.SetConnectionString(TextConnection());
    b.SetSource(source);
    b.SetPredictorField("Bats");
    b.SetTargetField("Salary");
    b.SetBinCount(5);
    EXPECT_TRUE(b.Run()) << source;
    EXPECT_EQ(StateOf(baseball), before) << "bivariate over " << source;
  }
  // Failed runs leave it alone as well.
  QelUnivariate bad;
  bad.SetConnectionString(TextConnection());
  bad.SetSource("BaseBall.csv");
  bad.SetFieldName("Team");
  EXPECT_FALSE(bad.Run());
  EXPECT_EQ(StateOf(baseball), before);
  EXPECT_EQ(fs::directory_iterator(folder_)->path().filename(), "BaseBall.csv");  // no side files
}

// The sqlite3 program as a second process holding the database's write lock.
class SqliteWriter {
 public:
  SqliteWriter(const fs::path& db, const fs::path& out) : out_(out) {
    pipe_ = ::popen(("sqlite3 '" + db.string() + "' > '" + out.string() + "' 2>&1").c_str(), "w");
  }
  ~SqliteWriter() { Release(); }
  // Takes the exclusive lock (readers wait, then fail) and writes a row.
  bool Lock() {
    std::fputs("BEGIN EXCLUSIVE;\nINSERT INTO t VALUES (1000000);\n.print locked\n", pipe_);
    std::fflush(pipe_);
    for (int i = 0; i < 200; ++i) {
      std::ifstream in(out_);
      std::string line;
      if (std::getline(in, line) && line == "locked") return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }
  void Release() {
    if (!pipe_) return;
    std::fputs("COMMIT;\n.quit\n", pipe_);
    ::pclose(pipe_);
    pipe_ = nullptr;
  }

 private:
  FILE* pipe_ = nullptr;
  fs::path out_;
};

TEST_F(InputFaults, AnSqliteFileLockedByAWriter) {
  const fs::path db = folder_ / "locked.db";
  {
    std::string script = "CREATE TABLE t (v REAL);\nBEGIN;\n";
    for (int i = 0; i < 1000; ++i) script += "INSERT INTO t VALUES (" + std::to_string(i) + ");\n";
    script += "COMMIT;\n";
    FILE* p = ::popen(("sqlite3 '" + db.string() + "'").c_str(), "w");
    ASSERT_NE(p, nullptr);
    std::fputs(script.c_str(), p);
    ASSERT_EQ(::pclose(p), 0);
  }
  const std::string connection = "Driver=SQLite3;Database=" + db.string();
  SqliteWriter writer(db, folder_ / "writer.out");
  ASSERT_TRUE(writer.Lock());
  const FileState before = StateOf(db);

  // The reader waits a while for the lock, then fails with the database's word for it.
  QelUnivariate u;
  u.SetConnectionString(connection);
  u.SetSource("t");
  u.SetFieldName("v");
  try {
    u.Run();
    ADD_FAILURE() << "a locked database opened";
  } catch (const qeldata::Error& e) {
    EXPECT_TRUE(Contains(e.what(), "locked")) << e.what();
  }
  RecordingPresenter rec;
  ScopedPresenter use(&rec);
  QelOutlier o;
  o.SetConnectionString(connection);
  o.SetSource("t");
  o.SetOutlierField("v");
  o.SetFindType(outSTD);
  o.SetTypeParm(2);
  EXPECT_FALSE(o.Run());
  ASSERT_EQ(rec.messages().size(), 1u);
  EXPECT_TRUE(Contains(rec.messages()[0], "Error: ")) << rec.messages()[0];
  EXPECT_TRUE(Contains(rec.messages()[0], "locked")) << rec.messages()[0];
  EXPECT_EQ(StateOf(db), before);

  // Once the writer commits, the same objects read the committed table.
  writer.Release();
  ASSERT_TRUE(u.Run()) << LastStopReason();
  EXPECT_EQ(u.N(), 1001);
  EXPECT_EQ(u.Max(), 1000000);
  EXPECT_TRUE(o.Run()) << o.StopReason();
  EXPECT_EQ(o.N(), 1001);
}

}  // namespace
}  // namespace qel
