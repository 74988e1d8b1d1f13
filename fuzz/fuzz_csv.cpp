// Any bytes as a comma-separated file, read through the text provider the way
// the analyses read it: header, quoting, line breaks, UTF-8 and the type
// inference. A file either opens and every cell reads as its column's type, or
// it fails with an error that names the file; the same rows come back through
// a streaming open, a fully fetched open and the SQL path.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "qeldata/recordset.h"

namespace {

const std::string& Folder() {
  static const std::string folder = [] {
    char pattern[] = "/tmp/qel-fuzz-csv-XXXXXX";
    if (!mkdtemp(pattern)) abort();
    return std::string(pattern);
  }();
  return folder;
}

void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) abort();
  if (size && fwrite(data, 1, size, f) != size) abort();
  fclose(f);
}

[[noreturn]] void Finding(const char* what) {
  fprintf(stderr, "fuzz_csv finding: %s\n", what);
  abort();
}

// Reads every cell; returns the rows read, or -1 when the provider refused
// the file (with a message naming it).
int64_t ReadAll(const std::string& source, int location, int cursor, std::string* digest) {
  qeldata::Recordset rs;
  try {
    rs.SetCursorLocation(location);
    rs.Open(source, "Text;DBQ=" + Folder(), cursor, qeldata::adLockReadOnly, -1);
    auto fields = rs.GetFields();
    const int n = fields.Count();
    if (n <= 0) Finding("a file opened with no fields");
    int64_t rows = 0;
    for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext()) {
      ++rows;
      for (int i = 0; i < n; ++i) {
        const qeldata::Field f = fields.Item(i);
        const qeldata::Value& v = f.GetValue();
        const int type = f.Type();
        if (!v.IsNull()) {
          const bool numeric = type == qeldata::adInteger || type == qeldata::adBigInt || type == qeldata::adDouble;
          if (numeric && !v.IsNumber()) Finding("a numeric column gave a value that is no number");
          if (type == qeldata::adDate && v.kind() != qeldata::Value::Kind::kDate) Finding("a date column gave no date");
          if (qeldata::IsTextType(type) && v.kind() != qeldata::Value::Kind::kText) Finding("a text column gave no text");
        }
        if (digest) {
          *digest += v.AsText();
          digest->push_back('\x1f');
        }
      }
      if (digest) digest->push_back('\x1e');
    }
    return rows;
  } catch (const qeldata::Error& e) {
    const std::string text = e.description();
    if (text.empty()) Finding("an error without a description");
    return -1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 16) return 0;
  WriteFile(Folder() + "/f.csv", data, size);

  std::string streamed, fetched;
  const int64_t a = ReadAll("f.csv", qeldata::adUseServer, qeldata::adOpenForwardOnly, &streamed);
  const int64_t b = ReadAll("select * from [f.csv]", qeldata::adUseClient, qeldata::adOpenStatic, &fetched);
  if (a != b) Finding("a streaming and a static open disagree on the rows");
  if (streamed != fetched) Finding("a streaming and a static open disagree on the values");
  // Any other SQL loads the file into SQLite first: the same rows, or the same refusal.
  const int64_t c = ReadAll("select * from [f.csv] where 1 = 1", qeldata::adUseServer, qeldata::adOpenForwardOnly, nullptr);
  if ((a < 0) != (c < 0)) Finding("the SQL path and the file path disagree on whether the file reads");
  if (a >= 0 && a != c) Finding("the SQL path and the file path disagree on the rows");
  return 0;
}
