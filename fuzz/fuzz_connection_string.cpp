// Any text as a connection string: the parser and the choice of provider.
// Nothing here opens a source, so no ODBC driver is ever dialled and no file
// is created: MakeProvider only parses and checks that a folder or a database
// file exists.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "provider.h"

namespace {

[[noreturn]] void Finding(const char* what) {
  fprintf(stderr, "fuzz_connection_string finding: %s\n", what);
  abort();
}

bool SameNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  using qeldata::detail::ConnectionString;
  try {
    const ConnectionString cs = ConnectionString::Parse(text);
    if (cs.text() != text) Finding("the parsed string does not keep its text");
    const auto& pairs = cs.pairs();
    for (size_t i = 0; i < pairs.size(); ++i) {
      // The last pair of a key wins, whatever the case of its letters.
      std::string expected = pairs[i].second;
      for (size_t j = i + 1; j < pairs.size(); ++j)
        if (SameNoCase(pairs[j].first, pairs[i].first)) expected = pairs[j].second;
      const auto got = cs.Get(pairs[i].first);
      if (!got || *got != expected) Finding("Get does not return the last value of a key");
    }
    // Parsing is a function of the text alone.
    const ConnectionString again = ConnectionString::Parse(text);
    if (again.pairs() != pairs) Finding("parsing the same text twice differs");
  } catch (const qeldata::Error& e) {
    if (e.number() != qeldata::kErrInvalidArgument || e.description().empty()) Finding("unexpected parse error");
  }
  try {
    // Constructs the provider only; a provider connects in Open, which is never called here.
    auto provider = qeldata::detail::MakeProvider(text);
    if (!provider) Finding("MakeProvider returned nothing");
    (void)provider->DisplayName(text);
  } catch (const qeldata::Error& e) {
    if (e.description().empty()) Finding("an error without a description");
  }
  return 0;
}
