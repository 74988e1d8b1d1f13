// The foundations of the qelStatsLib API: the export macro, the one exception
// type the library throws, and the calendar date of date predictors.
//
//   try {
//     qel::UnivariateResult r = qel::Univariate(qel::Table::Open(conn, "BaseBall.csv"), "Salary");
//   } catch (const qel::Error& e) {
//     if (e.code() == qel::ErrorCode::kNoSuchField) ...;   // e.what(): "No field 'Salry' in BaseBall.csv"
//   }
#pragma once

#include <stdexcept>
#include <string>

#if defined(QEL_API_BUILD)
#define QEL_API __attribute__((visibility("default")))
#else
#define QEL_API
#endif

namespace qel {

// What went wrong, for callers that branch on it. The codes keep their values
// across versions of the library.
enum class ErrorCode : int {
  // An argument outside its domain: spans of different lengths, an infinite
  // value, a bin count below 1, a percentage outside 1..100, an unknown rule,
  // an empty field name.
  kInvalidArgument = 1,
  // A field name that the table does not have.
  kNoSuchField = 2,
  // A field of a type the analysis cannot use: a text or date field where a
  // number is needed, a long text predictor.
  kFieldType = 3,
  // A value that cannot be read as its field's type. The analyses over a
  // table report such a value as a stopped run (Complete false, with the
  // record in Reason), as the classes do; the code is kept for readers.
  kBadValue = 4,
  // The data could not be reached: a connection string that names nothing,
  // a file or table that does not exist, SQL that the source refuses.
  kData = 5,
  // Bytes that are not a serialised tally of the expected kind.
  kBadBytes = 6,
};

// The one exception type of the library. what() is a one-line message in
// the terms of the data ("No field 'Salry' in BaseBall.csv"); code() says
// what kind of failure it was.
class QEL_API Error : public std::runtime_error {
 public:
  Error(ErrorCode code, const std::string& what);
  ~Error() override;
  ErrorCode code() const noexcept { return code_; }

 private:
  ErrorCode code_;
};

// A calendar date with an optional time of day (no time zone), as a date
// predictor holds it. Dates are told apart and ordered by their text form
// "YYYY-MM-DD" (followed by " HH:MM:SS" when the time is not midnight), which
// orders them in time.
struct Date {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0;
};

}  // namespace qel
