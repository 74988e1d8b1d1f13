#include "csv.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <exception>
#include <future>
#include <limits>
#include <system_error>
#include <unordered_map>

#include <fast_float/fast_float.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "qeldata/error.h"

namespace qeldata::detail {

namespace {

constexpr const char* kSource = "qeldata.text";

// Bytes that end the fast scan of a field: line breaks, NUL and the lead
// bytes of multi-byte UTF-8 sequences (which are validated); in a quoted
// field the quote too. The delimiter of an unquoted field is checked apart,
// as it is the reader's choice.
constexpr std::array<std::uint8_t, 256> MakeStopTable(bool quoted) {
  std::array<std::uint8_t, 256> t{};
  t['\0'] = t['\r'] = t['\n'] = 1;
  if (quoted) t['"'] = 1;
  for (int c = 0x80; c < 0x100; ++c) t[c] = 1;
  return t;
}
constexpr auto kStopPlain = MakeStopTable(false);
constexpr auto kStopQuoted = MakeStopTable(true);

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The first byte at or after `p` that ends the fast scan of an unquoted field
// (see kStopPlain), eight bytes at a time: a word's stop bytes show as the
// high bits of a mask whose lowest set bit is exactly the first of them.
const char* SkipPlainBytes(const char* p, const char* end, char delimiter) {
  static_assert(std::endian::native == std::endian::little, "the first byte in memory is the lowest");
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kHigh = 0x8080808080808080ULL;
  auto zero_bytes = [](std::uint64_t v) { return (v - kOnes) & ~v & kHigh; };
  const std::uint64_t delimiters = kOnes * static_cast<unsigned char>(delimiter);
  while (end - p >= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    const std::uint64_t stops = zero_bytes(word) | zero_bytes(word ^ delimiters) |
                                zero_bytes(word ^ (kOnes * '\n')) | zero_bytes(word ^ (kOnes * '\r')) |
                                (word & kHigh);
    if (stops) return p + (std::countr_zero(stops) >> 3);
    p += 8;
  }
  while (p < end && *p != delimiter && !kStopPlain[static_cast<unsigned char>(*p)]) ++p;
  return p;
}

// Reads a record of plain cells sixteen bytes at a time: when the record
// holds nothing but unquoted ASCII cells and ends in a bare LF, appends its
// cells to `cells` and returns the byte after the LF. Returns nullptr as soon
// as it meets anything else (a quote, a CR, a NUL, a byte of a multi-byte
// UTF-8 sequence, or fewer than sixteen bytes left), and the caller reads the
// record the ordinary way from its start: so every file reads exactly as the
// ordinary scan reads it, and that scan alone reports problems.
// Each cell goes to `emit(begin, size)`, which returns false when it has no
// room for it: the record then reads the ordinary way too.
template <class Emit>
const char* PlainRecord(const char* p, const char* end, char delimiter, Emit&& emit) {
#if defined(__SSE2__)
  const char* cell = p;
  const __m128i comma = _mm_set1_epi8(delimiter);
  const __m128i lf = _mm_set1_epi8('\n');
  const __m128i cr = _mm_set1_epi8('\r');
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i nul = _mm_setzero_si128();
  while (end - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const unsigned commas = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, comma)));
    const unsigned breaks = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lf)));
    // Or-ing in `v` itself brings in the high bits of bytes >= 0x80.
    const __m128i odd = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, quote)),
                                     _mm_or_si128(_mm_cmpeq_epi8(v, nul), v));
    const unsigned others = static_cast<unsigned>(_mm_movemask_epi8(odd));
    // The bytes up to and including the first LF belong to this record.
    const unsigned first_break = breaks & (0u - breaks);
    const unsigned mine = first_break ? (first_break - 1) | first_break : 0xFFFFu;
    if (others & mine) return nullptr;
    for (unsigned seps = commas & mine; seps; seps &= seps - 1) {
      const char* at = p + std::countr_zero(seps);
      if (!emit(cell, static_cast<std::size_t>(at - cell))) return nullptr;
      cell = at + 1;
    }
    if (first_break) {
      const char* at = p + std::countr_zero(first_break);
      if (!emit(cell, static_cast<std::size_t>(at - cell))) return nullptr;
      return at + 1;
    }
    p += 16;
  }
#else
  (void)p;
  (void)end;
  (void)delimiter;
  (void)emit;
#endif
  return nullptr;
}

// Field names match without regard to the case of ASCII letters, whatever
// locale the host program set.
std::string FoldedName(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string Quoted(std::string_view text) {
  constexpr std::size_t kMax = 60;
  // Appended piece by piece: GCC 12 warns (-Wrestrict) about "'" + string.
  std::string out = "'";
  out.append(text.substr(0, kMax));
  out.append(text.size() <= kMax ? "'" : "...'");
  return out;
}

}  // namespace

std::string OneLine(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  return out;
}

// ---- MappedFile ----

MappedFile::MappedFile(const std::string& path, const std::string& display_name) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    throw Error(kErrProvider, kSource, "cannot open file " + display_name + ": " + std::strerror(errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    throw Error(kErrProvider, kSource, "cannot open file " + display_name + ": not a regular file");
  }
  mtime_ns_ = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  size_ = static_cast<std::size_t>(st.st_size);
  if (size_ > 0) {
    void* p = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
    if (p == MAP_FAILED) {
      const int err = errno;
      ::close(fd);
      throw Error(kErrProvider, kSource, "cannot read file " + display_name + ": " + std::strerror(err));
    }
    ::madvise(p, size_, MADV_SEQUENTIAL);
    data_ = static_cast<const char*>(p);
    guard_ = std::make_unique<MappingGuard>(data_, size_);
  }
  ::close(fd);  // the mapping stays valid without the descriptor
}

void MappedFile::Release(const char* from, const char* to) const {
  static const std::uintptr_t kPage = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto begin = reinterpret_cast<std::uintptr_t>(std::max(from, data_)) / kPage * kPage;
  const auto end = reinterpret_cast<std::uintptr_t>(std::min(to, data_ + size_)) / kPage * kPage;
  if (!data_ || end <= begin) return;
  ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_DONTNEED);
}

MappedFile::~MappedFile() {
  guard_.reset();
  if (data_) ::munmap(const_cast<char*>(data_), size_);
}

// ---- cells ----

std::string_view CellText(const CellSpan& cell, std::string& scratch) {
  if (!cell.escaped) return cell.raw();
  scratch.clear();
  for (std::size_t i = 0; i < cell.size; ++i) {
    scratch.push_back(cell.data[i]);
    if (cell.data[i] == '"') ++i;  // the second quote of a doubled pair
  }
  return scratch;
}

bool IsBlankCell(std::string_view text) {
  return std::all_of(text.begin(), text.end(), IsBlank);
}

namespace {

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool IsDigit(char c) { return static_cast<unsigned>(c - '0') < 10; }

}  // namespace

bool IsNaToken(std::string_view text, const std::vector<std::string>& tokens) {
  const std::string_view trimmed = TrimBlanks(text);
  return std::any_of(tokens.begin(), tokens.end(), [&](const std::string& t) { return trimmed == t; });
}

// ---- reading options ----

char DetectDelimiter(std::string_view text) {
  static constexpr char kCandidates[] = {',', ';', '\t', '|'};
  std::size_t counts[4] = {0, 0, 0, 0};
  bool quoted = false;
  for (const char c : text) {
    if (c == '"') quoted = !quoted;  // a doubled quote toggles twice
    if (quoted) continue;
    if (c == '\n' || c == '\r') break;
    for (int i = 0; i < 4; ++i) counts[i] += c == kCandidates[i];
  }
  int best = 0;
  for (int i = 1; i < 4; ++i)
    if (counts[i] > counts[best]) best = i;
  return kCandidates[best];
}

bool PlainNumberText(std::string_view text, const CsvOptions& options, std::string& out) {
  const std::string_view t = TrimBlanks(text);
  out.clear();
  std::size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) out.push_back(t[i++]);
  // Groups: the first of one to three digits, every later one of three.
  std::size_t run = 0;
  bool grouped = false;
  for (; i < t.size(); ++i) {
    const char c = t[i];
    if (IsDigit(c)) {
      out.push_back(c);
      ++run;
    } else if (options.thousands != 0 && c == options.thousands) {
      if (run == 0 || run > 3 || (grouped && run != 3)) return false;
      grouped = true;
      run = 0;
    } else {
      break;
    }
  }
  if (grouped && run != 3) return false;
  if (i < t.size() && t[i] == options.decimal) {
    out.push_back('.');
    for (++i; i < t.size() && IsDigit(t[i]); ++i) out.push_back(t[i]);
  }
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    out.push_back(t[i++]);
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) out.push_back(t[i++]);
    for (; i < t.size() && IsDigit(t[i]); ++i) out.push_back(t[i]);
  }
  // What is left over (a second decimal separator, letters) is no number;
  // ParseCsvNumber judges the rest (digits present, an exponent's digits).
  return i == t.size();
}

bool LooksNumeric(std::string_view text, const CsvOptions& options) {
  std::string_view t = TrimBlanks(text);
  if (!t.empty() && (t.front() == '+' || t.front() == '-')) t.remove_prefix(1);
  bool digit = false;
  for (const char c : t) {
    if (IsDigit(c)) digit = true;
    else if (c != '.' && c != ',' && c != options.thousands) return false;
  }
  return digit;
}

// ---- CsvTokenizer ----

CsvTokenizer::CsvTokenizer(std::string_view text, std::string display_name, std::size_t offset, std::int64_t line,
                           char delimiter)
    : begin_(text.data()),
      pos_(text.data() + std::min(offset, text.size())),
      end_(text.data() + text.size()),
      display_name_(std::move(display_name)),
      line_(line),
      released_(pos_),
      delimiter_(delimiter) {}

void CsvTokenizer::Fail(const std::string& what) const { FailAt(record_line_, what); }

void CsvTokenizer::FailAt(std::int64_t line, const std::string& what) const {
  // Bytes that vanished under the reader read as zeros and fail the parse:
  // the cause to report is the file that shrank, not the zeros.
  if (file_ && file_->CutShort())
    throw Error(kErrProvider, kSource,
                OneLine(display_name_ + " was cut short while it was being read (at line " + std::to_string(line) +
                        "): the file shrank after it was opened"));
  throw Error(kErrProvider, kSource, OneLine(display_name_ + " line " + std::to_string(line) + ": " + what));
}

std::string CsvTokenizer::FieldLabel(std::size_t index) const {
  std::string label = "field " + std::to_string(index + 1);
  if (field_names_ && index < field_names_->size()) label += " (" + (*field_names_)[index].name + ")";
  return label;
}

const char* CsvTokenizer::SkipUtf8(const char* p, std::size_t field_index) const {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  const unsigned char c = u[0];
  int extra = 0;
  if (c >= 0xC2 && c <= 0xDF) extra = 1;
  else if (c >= 0xE0 && c <= 0xEF) extra = 2;
  else if (c >= 0xF0 && c <= 0xF4) extra = 3;
  bool ok = extra > 0 && end_ - p > extra;
  for (int i = 1; ok && i <= extra; ++i) ok = (u[i] & 0xC0) == 0x80;
  // Overlong forms, UTF-16 surrogates and code points beyond U+10FFFF.
  if (ok && ((c == 0xE0 && u[1] < 0xA0) || (c == 0xED && u[1] > 0x9F) || (c == 0xF0 && u[1] < 0x90) ||
             (c == 0xF4 && u[1] > 0x8F)))
    ok = false;
  if (!ok) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", c);
    FailAt(line_, "invalid UTF-8 (byte " + std::string(hex) + ") in " + FieldLabel(field_index) +
                      "; the file must be saved as UTF-8");
  }
  return p + extra + 1;
}

bool CsvTokenizer::AtTrailingBlankLines() const {
  return std::all_of(pos_, end_, [](char c) { return c == '\r' || c == '\n'; });
}

bool CsvTokenizer::Next(std::vector<CellSpan>& cells) {
  cells.clear();
  return Append(cells);
}

std::size_t CsvTokenizer::NextPlain(CellSpan* out, std::size_t capacity, std::size_t stride) {
  if (pos_ >= end_) return 0;
  constexpr std::ptrdiff_t kReleaseStep = std::ptrdiff_t{16} << 20;
  if (file_ && pos_ - released_ >= kReleaseStep) {
    file_->Release(released_, pos_);
    released_ = pos_;
  }
  // The file's pages are mapped as they are first touched: asking for the
  // bytes a few records on keeps the loads below from waiting on memory.
  __builtin_prefetch(pos_ + 1024);
  std::size_t count = 0;
  const auto store = [out, capacity, stride, &count](const char* begin, std::size_t size) {
    if (count == capacity) return false;
    out[count++ * stride] = CellSpan{begin, size, false, false};
    return true;
  };
  const char* next = PlainRecord(pos_, end_, delimiter_, store);
  if (!next) return 0;
  record_line_ = line_;
  pos_ = next;
  ++line_;
  return count;
}

bool CsvTokenizer::Append(std::vector<CellSpan>& cells) {
  // A local copy: writes into `cells` could alias the members as far as the
  // compiler knows, and the scan loops would reload them.
  const char* const end = end_;
  const char delimiter = delimiter_;
  const std::size_t first = cells.size();  // the record's first cell
  if (pos_ >= end) return false;
  constexpr std::ptrdiff_t kReleaseStep = std::ptrdiff_t{16} << 20;
  if (file_ && pos_ - released_ >= kReleaseStep) {
    // The caller is done with the cells of earlier records.
    file_->Release(released_, pos_);
    released_ = pos_;
  }
  record_line_ = line_;
  const char* p = pos_;
  const auto push = [&cells](const char* begin, std::size_t size) {
    cells.push_back(CellSpan{begin, size, false, false});
    return true;
  };
  if (const char* next = PlainRecord(p, end, delimiter, push)) {
    pos_ = next;
    ++line_;
    return true;
  }
  cells.resize(first);
  for (;;) {
    CellSpan cell;
    if (p < end && *p == '"') {
      const std::int64_t open_line = line_;
      const char* start = ++p;
      bool escaped = false;
      for (;;) {
        while (p < end && !kStopQuoted[static_cast<unsigned char>(*p)]) ++p;
        if (p >= end) FailAt(open_line, "unterminated quoted field in " + FieldLabel(cells.size() - first));
        const char c = *p;
        if (c == '"') {
          if (p + 1 < end && p[1] == '"') {
            escaped = true;
            p += 2;
            continue;
          }
          break;
        }
        if (c == '\n') {
          ++line_;
          ++p;
        } else if (c == '\r') {
          if (p + 1 >= end || p[1] != '\n') ++line_;
          ++p;
        } else if (c == '\0') {
          FailAt(line_, "NUL byte in " + FieldLabel(cells.size() - first) + "; this is not a text file");
        } else {
          p = SkipUtf8(p, cells.size() - first);
        }
      }
      cell = CellSpan{start, static_cast<std::size_t>(p - start), true, escaped};
      ++p;  // the closing quote
      while (p < end && IsBlank(*p) && *p != delimiter) ++p;
      if (p < end && *p != delimiter && *p != '\n' && *p != '\r')
        FailAt(line_, "unexpected text after the closing quote of " + FieldLabel(cells.size() - first));
    } else {
      const char* start = p;
      for (;;) {
        p = SkipPlainBytes(p, end, delimiter);
        if (p < end && (static_cast<unsigned char>(*p) & 0x80)) {
          p = SkipUtf8(p, cells.size() - first);
          continue;
        }
        if (p < end && *p == '\0')
          FailAt(line_, "NUL byte in " + FieldLabel(cells.size() - first) + "; this is not a text file");
        break;
      }
      cell = CellSpan{start, static_cast<std::size_t>(p - start), false, false};
    }
    cells.push_back(cell);
    if (p >= end) {
      pos_ = p;
      return true;
    }
    if (*p == delimiter) {
      ++p;
      continue;
    }
    // A line break ends the record: CRLF, LF or a lone CR.
    if (*p == '\r' && p + 1 < end && p[1] == '\n') ++p;
    ++p;
    ++line_;
    pos_ = p;
    return true;
  }
}

// ---- numbers ----

namespace {

constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Where the '.' of a short plain decimal is: true when the `size` bytes at
// `p` (at most sixteen, and sixteen readable from `p`) are an optional '-'
// followed by digits with at most one '.' among them; `dot` is then the
// position of the '.', or `size` when there is none. Whether there are
// digits at all is the caller's to check. Sixteen bytes are classified at
// once instead of one loop step per byte.
inline bool PlainDecimalLayout(const char* p, std::size_t size, std::size_t& dot) {
#if defined(__SSE2__)
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  // c is a digit when c - '0' is below 10 unsigned: flipping the top bit
  // turns that into a signed comparison, which is what SSE2 has.
  const __m128i flipped = _mm_xor_si128(_mm_sub_epi8(v, _mm_set1_epi8('0')), _mm_set1_epi8(static_cast<char>(0x80)));
  const __m128i digit = _mm_cmplt_epi8(flipped, _mm_set1_epi8(static_cast<char>(0x80 + 10)));
  const unsigned within = (1u << size) - 1;
  unsigned others = ~static_cast<unsigned>(_mm_movemask_epi8(digit)) & within;
  if (size > 0 && p[0] == '-') others &= ~1u;
  if (others == 0) {
    dot = size;
    return true;
  }
  const unsigned dots = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('.'))));
  if (others != (dots & within) || (others & (others - 1)) != 0) return false;
  dot = static_cast<std::size_t>(std::countr_zero(others));
  return true;
#else
  (void)p;
  (void)size;
  (void)dot;
  return false;
#endif
}

constexpr std::uint64_t kIntPow10[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};

// The value of the `n` (at most eight) digits at `p`, eight bytes being
// readable there: all eight are converted at once (three multiplications
// combine pairs, fours and the eight), the bytes beyond the digits shifted
// out and replaced by leading zeros.
inline std::uint64_t DigitsValue(const char* p, std::size_t n) {
  if (n == 0) return 0;
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  // A byte beyond the digits may borrow, but only from bytes further on,
  // which the shift drops: the first byte in memory is the lowest.
  v -= 0x3030303030303030ULL;
  v <<= 8 * (8 - n);
  v = v * 10 + (v >> 8);
  v = (((v & 0x000000FF000000FFULL) * 0x000F424000000064ULL) +
       (((v >> 16) & 0x000000FF000000FFULL) * 0x0000271000000001ULL)) >>
      32;
  return v;
}

// The cells of most files: an optional '-', digits, and an optional '.' with
// digits, no blanks, at most 15 digits after the leading zeros. Such a token
// is always canonical and exact in the mantissa, and its value is the one
// division (or none) that the general reading below performs for it, so the
// results are the same bit for bit. Returns false, leaving `n` alone, for
// anything else. With `limit` (the end of the readable bytes) a token that
// has sixteen readable bytes is classified by PlainDecimalLayout.
[[gnu::always_inline]] inline bool ParseShortDecimal(const char* p, const char* const end, CsvNumber& n, const char* limit = nullptr) {
  const bool negative = p < end && *p == '-';
  std::uint64_t w = 0;
  std::ptrdiff_t kept = 0, fraction_digits = 0;
  bool integer = false;
  const std::size_t size = static_cast<std::size_t>(end - p);
  std::size_t dot = 0;
  if (size <= 16 && limit && limit - p >= 16 && PlainDecimalLayout(p, size, dot)) {
    // Every digit counts towards the limit of 15, leading zeros too: a token
    // with more goes the general way, which counts them exactly.
    const std::size_t digits = size - negative - (dot < size);
    if (digits == 0 || digits > 15) return false;
    integer = dot == size;
    const std::size_t integer_digits = dot - negative;
    const std::size_t fraction_begin = dot + 1;
    fraction_digits = integer ? 0 : static_cast<std::ptrdiff_t>(size - fraction_begin);
    if (integer_digits <= 8 && fraction_digits <= 8 && (integer || fraction_begin <= 8)) {
      // Both runs of digits have eight readable bytes: the same integer as
      // the digit-by-digit loop below, a few multiplications instead.
      w = DigitsValue(p + negative, integer_digits) * kIntPow10[fraction_digits] +
          (integer ? 0 : DigitsValue(p + fraction_begin, static_cast<std::size_t>(fraction_digits)));
    } else {
      for (std::size_t i = negative; i < dot; ++i) w = w * 10 + static_cast<unsigned>(p[i] - '0');
      for (std::size_t i = fraction_begin; i < size; ++i) w = w * 10 + static_cast<unsigned>(p[i] - '0');
    }
  } else {
    p += negative;
    const char* const mantissa = p;
    while (p < end && *p == '0') ++p;
    const char* const digits = p;
    for (; p < end && static_cast<unsigned>(*p - '0') < 10; ++p) w = w * 10 + static_cast<unsigned>(*p - '0');
    kept = p - digits;
    if (p == end) {
      if (p == mantissa || kept > 15) return false;
      integer = true;
    } else {
      if (*p != '.') return false;
      const char* const fraction = ++p;
      for (; p < end && static_cast<unsigned>(*p - '0') < 10; ++p) w = w * 10 + static_cast<unsigned>(*p - '0');
      kept += p - fraction;
      fraction_digits = p - fraction;
      if (p != end || kept > 15 || (fraction - 1 == mantissa && p == fraction)) return false;
    }
  }
  if (integer) {
    n.is_integer = true;
    n.integer = negative ? static_cast<std::int64_t>(0 - w) : static_cast<std::int64_t>(w);
    n.value = negative && w == 0 ? -0.0 : static_cast<double>(n.integer);
  } else {
    const double value = static_cast<double>(w) / kPow10[fraction_digits];
    n.value = negative ? -value : value;
  }
  n.canonical = w != 0 || !negative;  // -0 reads "0" but is another key
  return true;
}

}  // namespace

std::optional<CsvNumber> ParseCsvNumber(std::string_view token) {
  const char* p = token.data();
  const char* end = p + token.size();
  if (CsvNumber quick; ParseShortDecimal(p, end, quick)) return quick;
  while (p < end && IsBlank(*p)) ++p;
  while (end > p && IsBlank(end[-1])) --end;
  if (p == end) return std::nullopt;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  const char* const mantissa = p;
  auto is_digit = [](char c) { return static_cast<unsigned>(c - '0') < 10; };
  // The digits from the first non-zero one accumulate in `w` (19 fit in 64
  // bits; with more, `w` is not used). Leading zeros only shift the scale.
  std::uint64_t w = 0;
  const char* first_nonzero = nullptr;
  while (p < end && *p == '0') ++p;
  if (p < end && is_digit(*p)) first_nonzero = p;
  for (; p < end && is_digit(*p); ++p) w = w * 10 + static_cast<unsigned>(*p - '0');
  const char* const integer_end = p;
  std::ptrdiff_t kept = first_nonzero ? integer_end - first_nonzero : 0;
  std::ptrdiff_t fraction_digits = 0;
  const char* fraction_begin = nullptr;
  bool plain_integer = true;
  if (p < end && *p == '.') {
    plain_integer = false;
    fraction_begin = ++p;
    if (!first_nonzero) {
      while (p < end && *p == '0') ++p;
      if (p < end && is_digit(*p)) first_nonzero = p;
    }
    const char* const accumulated = p;
    for (; p < end && is_digit(*p); ++p) w = w * 10 + static_cast<unsigned>(*p - '0');
    kept += p - accumulated;
    fraction_digits = p - fraction_begin;
  }
  const char* const mantissa_end = p;
  if ((integer_end - mantissa) + fraction_digits == 0) return std::nullopt;
  long exponent = 0;
  if (p < end && (*p == 'e' || *p == 'E')) {
    plain_integer = false;
    ++p;
    bool exponent_negative = false;
    if (p < end && (*p == '+' || *p == '-')) exponent_negative = *p++ == '-';
    const char* exponent_digits = p;
    for (; p < end && is_digit(*p); ++p)
      if (exponent < 100000) exponent = exponent * 10 + (*p - '0');
    if (p == exponent_digits) return std::nullopt;
    if (exponent_negative) exponent = -exponent;
  }
  if (p != end) return std::nullopt;
  // Significant digits run from the first to the last non-zero digit.
  std::ptrdiff_t significant = 0;
  if (first_nonzero) {
    const char* last = mantissa_end;
    while (last > first_nonzero && (last[-1] == '0' || last[-1] == '.')) --last;
    significant = last - first_nonzero;
    if (fraction_begin && first_nonzero < fraction_begin && last >= fraction_begin) --significant;  // the '.'
  }

  CsvNumber n;
  constexpr std::uint64_t kInt64Limit = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  const bool dropped = kept > 19;
  if (plain_integer && !dropped && w <= kInt64Limit + (negative ? 1 : 0)) {
    n.is_integer = true;
    n.integer = negative ? static_cast<std::int64_t>(0 - w) : static_cast<std::int64_t>(w);
    n.value = negative && w == 0 ? -0.0 : static_cast<double>(n.integer);
  } else {
    // Clinger's fast path: an exact mantissa times an exact power of ten is
    // one correctly rounded operation. Anything else goes to fast_float.
    const long scale = exponent - fraction_digits;
    if (!dropped && w <= (std::uint64_t{1} << 53) && scale >= -22 && scale <= 22) {
      const double m = static_cast<double>(w);
      n.value = scale < 0 ? m / kPow10[-scale] : m * kPow10[scale];
    } else {
      const auto res = fast_float::from_chars(mantissa, end, n.value);
      if (res.ec != std::errc() || res.ptr != end) return std::nullopt;
    }
    if (!std::isfinite(n.value)) return std::nullopt;
    if (negative) n.value = -n.value;
  }
  // Up to 15 significant digits a decimal survives the trip through a double
  // (DBL_DIG), so the double is its own 15-digit canonical value. Subnormals
  // lose digits, and -0 reads "0" in the text form but is a different key.
  n.canonical = significant <= 15 &&
                (n.value == 0 ? !std::signbit(n.value) : std::fabs(n.value) >= std::numeric_limits<double>::min());
  return n;
}

CsvCellShape ShapeOfCell(std::string_view text) {
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end && IsBlank(*p)) ++p;
  while (end > p && IsBlank(end[-1])) --end;
  if (p == end) return CsvCellShape::kBlank;
  const char* const token = p;
  const bool negative = *p == '-';
  if (*p == '+' || *p == '-') ++p;
  auto is_digit = [](char c) { return static_cast<unsigned>(c - '0') < 10; };
  std::uint64_t w = 0;
  const char* const integer_begin = p;
  for (; p < end && is_digit(*p) && p - integer_begin < 19; ++p) w = w * 10 + static_cast<unsigned>(*p - '0');
  if (p == end && p > integer_begin) {
    // A plain integer of at most 19 digits: its range decides.
    const std::uint64_t limit32 = negative ? std::uint64_t{1} << 31 : (std::uint64_t{1} << 31) - 1;
    const std::uint64_t limit64 = negative ? std::uint64_t{1} << 63 : (std::uint64_t{1} << 63) - 1;
    return w <= limit32 ? CsvCellShape::kInt32 : w <= limit64 ? CsvCellShape::kInt64 : CsvCellShape::kReal;
  }
  while (p < end && is_digit(*p)) ++p;
  const char* const integer_end = p;
  if (p < end && *p == '.') {
    const char* const fraction_begin = ++p;
    while (p < end && is_digit(*p)) ++p;
    // Without an exponent a decimal cannot overflow a double.
    if (p == end && (integer_end > integer_begin || p > fraction_begin) && integer_end - integer_begin < 300)
      return CsvCellShape::kReal;
  }
  if (p < end && *p != 'e' && *p != 'E') return CsvCellShape::kText;
  // Long integers and exponents: the full reading decides (range, overflow).
  const auto n = ParseCsvNumber(std::string_view(token, static_cast<std::size_t>(end - token)));
  if (!n) return CsvCellShape::kText;
  if (!n->is_integer) return CsvCellShape::kReal;
  return n->integer >= std::numeric_limits<std::int32_t>::min() && n->integer <= std::numeric_limits<std::int32_t>::max()
             ? CsvCellShape::kInt32
             : CsvCellShape::kInt64;
}

// ---- inference ----

namespace {

struct ColumnGuess {
  bool any_value = false;
  bool numeric = true;
  bool int32 = true;
  bool int64 = true;
  bool date = true;
  // Non-empty cells, and those that are no numbers with the first of them,
  // for telling a user why a column of numbers reads as text. Counting stops
  // once the column is plainly text (see kPlainlyText).
  bool counting = true;
  std::int64_t values = 0;
  std::int64_t non_numbers = 0;
  std::int64_t first_line = 0;
  std::string first_text;
};

// A column stops being counted once more than this many of its cells, and
// more than half of those seen, are no numbers: it is text, not numbers with
// a few odd cells, and its cells need no look any more.
constexpr std::int64_t kPlainlyText = 100;

// The first cell that is no number, kept for a message: long texts are cut
// (at a character boundary).
std::string KeptText(std::string_view text) {
  constexpr std::size_t kMax = 200;
  if (text.size() <= kMax) return std::string(text);
  std::size_t cut = kMax;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return std::string(text.substr(0, cut)) + "...";
}

void MergeGuess(ColumnGuess& first, const ColumnGuess& second, std::int64_t second_line) {
  first.any_value = first.any_value || second.any_value;
  first.numeric = first.numeric && second.numeric;
  first.int32 = first.int32 && second.int32;
  first.int64 = first.int64 && second.int64;
  first.date = first.date && second.date;
  first.counting = first.counting && second.counting;
  if (first.non_numbers == 0 && second.non_numbers > 0) {
    first.first_line = second_line + second.first_line;
    first.first_text = second.first_text;
  }
  first.values += second.values;
  first.non_numbers += second.non_numbers;
}

int ResolvedType(const ColumnGuess& g) {
  if (!g.any_value) return adDouble;  // numeric: every one of its (no) non-empty cells reads as a number
  if (g.numeric) return g.int32 ? adInteger : g.int64 ? adBigInt : adDouble;
  if (g.date) return adDate;
  return adVarWChar;
}

int DefinedSizeOf(int type) {
  switch (type) {
    case adInteger: return 4;
    case adBigInt:
    case adDouble:
    case adDate: return 8;
    default: return 255;
  }
}

// Skips a UTF-8 byte-order mark; refuses UTF-16, which would read as NULs.
std::size_t SkipByteOrderMark(std::string_view bytes, const std::string& name) {
  if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return 3;
  if (bytes.size() >= 2 && (bytes.compare(0, 2, "\xFF\xFE") == 0 || bytes.compare(0, 2, "\xFE\xFF") == 0))
    throw Error(kErrProvider, kSource, name + " is a UTF-16 file; only UTF-8 text files can be read");
  return 0;
}

std::string FieldCountText(std::size_t n) { return std::to_string(n) + (n == 1 ? " field" : " fields"); }

// "3 fields, the header has 4": a record whose field count is not the file's.
std::string FieldCountMismatch(std::size_t got, std::size_t want, bool header) {
  return FieldCountText(got) + (header ? ", the header has " : ", the first line has ") + std::to_string(want);
}

std::string SeparatorName(char c) {
  if (c == ' ') return "a blank";
  return std::string("'") + c + "'";
}

// How numbers are written under `options`, for messages.
std::string NumberFormatText(const CsvOptions& options) {
  std::string out = "decimal separator " + SeparatorName(options.decimal);
  if (options.thousands) out += ", thousands separator " + SeparatorName(options.thousands);
  return out;
}

bool IsBlankLine(const std::vector<CellSpan>& cells) {
  return cells.size() == 1 && cells[0].size == 0 && !cells[0].quoted;
}

// ShapeOfCell for the common cells, inline: a plain integer of at most nine
// digits (always 32-bit) or a plain decimal, optionally negative, without
// blanks. Every other cell goes to ShapeOfCell.
inline CsvCellShape QuickShapeOfCell(std::string_view text, const char* limit = nullptr) {
  const char* p = text.data();
  if (std::size_t dot = 0; text.size() <= 16 && limit && limit - p >= 16 && PlainDecimalLayout(p, text.size(), dot)) {
    const std::size_t sign = text.size() > 0 && p[0] == '-';
    const std::size_t integer_digits = dot - sign;
    if (dot == text.size()) {
      if (integer_digits > 0 && integer_digits <= 9) return CsvCellShape::kInt32;
    } else if (text.size() - sign > 1) {
      return CsvCellShape::kReal;
    }
    return ShapeOfCell(text);
  }
  const char* const end = p + text.size();
  auto is_digit = [](char c) { return static_cast<unsigned>(c - '0') < 10; };
  if (p < end && *p == '-') ++p;
  const char* const integer_begin = p;
  while (p < end && is_digit(*p)) ++p;
  const std::ptrdiff_t integer_digits = p - integer_begin;
  if (p == end) {
    if (integer_digits > 0 && integer_digits <= 9) return CsvCellShape::kInt32;
  } else if (*p == '.' && integer_digits < 300) {
    const char* const fraction_begin = ++p;
    while (p < end && is_digit(*p)) ++p;
    if (p == end && (integer_digits > 0 || p > fraction_begin)) return CsvCellShape::kReal;
  }
  return ShapeOfCell(text);
}

// The shape of a cell under reading options other than the defaults: null
// tokens, a decimal comma, thousands separators. A cell that looks like a
// number but does not read under the options fails the scan when the column
// reads as numbers up to there.
CsvCellShape ShapeUnderOptions(std::string_view text, const CsvOptions& options, const ColumnGuess& g,
                               std::size_t column, const CsvTokenizer& tokenizer, std::string& number_text) {
  if (!options.na_tokens.empty() && IsNaToken(text, options.na_tokens)) return CsvCellShape::kBlank;
  if (options.PlainNumbers()) return QuickShapeOfCell(text);
  if (PlainNumberText(text, options, number_text)) return ShapeOfCell(number_text);
  if (IsBlankCell(text)) return CsvCellShape::kBlank;
  if (g.numeric && LooksNumeric(text, options))
    tokenizer.Fail(tokenizer.FieldLabel(column) + ": the text " + Quoted(text) +
                   " is not a number written with " + NumberFormatText(options));
  return CsvCellShape::kText;
}

// Reads the records that start before byte `stop` (all of them with npos),
// narrowing each column's guess; checks every record on the way.
void ScanColumnTypes(CsvTokenizer& tokenizer, std::size_t stop, std::vector<ColumnGuess>& guesses,
                     const CsvOptions& options) {
  const std::size_t field_count = guesses.size();
  const bool default_reading = options.PlainNumbers() && options.na_tokens.empty();
  std::vector<CellSpan> cells;
  std::string scratch, number_text;
  // Columns that may still be numbers or dates, or whose odd cells are still
  // counted; plain text columns drop out, and their cells need no look at all.
  std::vector<std::size_t> open_columns;
  for (std::size_t i = 0; i < field_count; ++i)
    if (guesses[i].numeric || guesses[i].date || guesses[i].counting) open_columns.push_back(i);

  const char* const limit = tokenizer.text_end();
  // Plain records are split into `row` (one more slot than fields, so that a
  // record with too many fields still shows its count); others into `cells`.
  std::vector<CellSpan> row(field_count + 1);
  while (tokenizer.offset() < stop) {
    const CellSpan* record = row.data();
    std::size_t count = tokenizer.NextPlain(row.data(), row.size());
    if (count == 0) {
      if (!tokenizer.Next(cells)) break;
      record = cells.data();
      count = cells.size();
    }
    const bool blank = count == 1 && record[0].size == 0 && !record[0].quoted;
    if (blank && field_count > 1) continue;
    if (blank && tokenizer.AtTrailingBlankLines()) break;
    if (count != field_count) tokenizer.Fail(FieldCountMismatch(count, field_count, options.header));
    // A plain record with sixteen readable bytes after each cell start: the
    // cells that are short plain numbers in a column of numbers so far need
    // only the flags below, which do not depend on the order of the cells.
    const bool quick = default_reading && record == row.data() && limit - tokenizer.position() >= 16;
    for (std::size_t k = 0; k < open_columns.size();) {
      const std::size_t column = open_columns[k];
      ColumnGuess& g = guesses[column];
      const CellSpan& cell = record[column];
      if (std::size_t dot = 0; quick && g.numeric && cell.size <= 16 && PlainDecimalLayout(cell.data, cell.size, dot)) {
        const std::size_t digits = cell.size - (cell.size > 0 && cell.data[0] == '-') - (dot < cell.size);
        if (digits > 0 && (dot < cell.size || digits <= 9)) {
          g.any_value = true;
          ++g.values;
          g.date = false;
          if (dot < cell.size) g.int32 = g.int64 = false;
          ++k;
          continue;
        }
      }
      const std::string_view text = cell.escaped ? CellText(cell, scratch) : cell.raw();
      const CsvCellShape shape = default_reading ? QuickShapeOfCell(text, cell.escaped ? nullptr : limit)
                                                 : ShapeUnderOptions(text, options, g, column, tokenizer, number_text);
      if (shape != CsvCellShape::kBlank) {
        g.any_value = true;
        ++g.values;
        if (shape == CsvCellShape::kText) {
          if (g.non_numbers++ == 0) {
            g.first_line = tokenizer.record_line();
            g.first_text = KeptText(text);
          }
          g.numeric = false;
        } else if (g.numeric) {
          g.date = false;
          if (shape == CsvCellShape::kReal) g.int32 = g.int64 = false;
          else if (shape == CsvCellShape::kInt64) g.int32 = false;
        }
        if (g.date && !g.numeric && !Date::Parse(text)) g.date = false;
        if (!g.numeric && !g.date) {
          if (g.counting && g.non_numbers > kPlainlyText && g.non_numbers * 2 > g.values) g.counting = false;
          if (!g.counting) {
            open_columns.erase(open_columns.begin() + static_cast<std::ptrdiff_t>(k));
            continue;
          }
        }
      }
      ++k;
    }
  }
}

}  // namespace

CsvLayout ReadCsvHeader(std::string_view bytes, const std::string& display_name, const MappedFile* file,
                        const CsvOptions& options) {
  const std::size_t start = SkipByteOrderMark(bytes, display_name);
  CsvLayout layout;
  layout.options = options;
  if (layout.options.delimiter == 0) layout.options.delimiter = DetectDelimiter(bytes.substr(start));
  const char delimiter = layout.options.delimiter;
  CsvTokenizer tokenizer(bytes, display_name, start, 1, delimiter);
  tokenizer.ReleaseAsYouGo(file);
  if (tokenizer.AtTrailingBlankLines())
    throw Error(kErrProvider, kSource,
                display_name + (options.header ? " is empty: there is no header row of field names"
                                               : " is empty: there is no record to read"));

  std::vector<CellSpan> cells;
  std::string scratch;
  tokenizer.Next(cells);
  if (IsBlankLine(cells)) tokenizer.Fail(options.header ? "the header row is empty" : "the first line is empty");

  // Folded name -> first field with it: one look-up per heading, so a header
  // of 100,000 fields costs no more than its bytes.
  std::unordered_map<std::string, std::size_t> seen;
  seen.reserve(cells.size());
  for (std::size_t i = 0; i < cells.size(); ++i) {
    FieldInfo f;
    if (options.header) f.name = std::string(CellText(cells[i], scratch));
    // A column without a heading still needs a name to be found by; so do
    // the columns of a file without a header line.
    if (f.name.empty()) f.name = std::string("F").append(std::to_string(i + 1));
    const auto [earlier, fresh] = seen.try_emplace(FoldedName(f.name), i);
    if (!fresh)
      tokenizer.Fail("duplicate field name '" + f.name + "' (fields " + std::to_string(earlier->second + 1) +
                     " and " + std::to_string(i + 1) + ")");
    f.attributes = adFldIsNullable | adFldMayBeNull;
    layout.fields.push_back(std::move(f));
  }
  if (!options.header) tokenizer = CsvTokenizer(bytes, display_name, start, 1, delimiter);  // the first line is data
  layout.data_offset = tokenizer.offset();
  layout.data_line = tokenizer.line();
  return layout;
}

CsvLayout InferCsvLayout(std::string_view bytes, const std::string& display_name, const MappedFile* file,
                         const CsvOptions& options) {
  CsvLayout layout = ReadCsvHeader(bytes, display_name, file, options);
  const char delimiter = layout.options.delimiter;
  CsvTokenizer tokenizer(bytes, display_name, layout.data_offset, layout.data_line, delimiter);
  tokenizer.ReleaseAsYouGo(file);
  tokenizer.SetFieldNames(&layout.fields);

  const std::size_t field_count = layout.fields.size();
  std::vector<ColumnGuess> guesses(field_count);
  const std::size_t data_offset = tokenizer.offset();
  // A large file is scanned in two halves at once. The second half starts
  // after a line break near the middle, guessing that the break ends a record
  // (it may lie inside a quoted cell). The first half's scan shows whether the
  // guess held: its last record must end exactly there. If it did not, or the
  // second half met a problem (whose line number it cannot know), the second
  // half is scanned again after the first, as one scan would. The column
  // guesses of the halves combine exactly: each flag holds for the whole file
  // when it holds for both halves.
  constexpr std::size_t kSplitAbove = std::size_t{16} << 20;
  std::size_t split = std::string_view::npos;
  if (bytes.size() - data_offset > kSplitAbove) {
    const std::size_t newline = bytes.find('\n', data_offset + (bytes.size() - data_offset) / 2);
    if (newline != std::string_view::npos && newline + 1 < bytes.size()) split = newline + 1;
  }
  std::future<std::vector<ColumnGuess>> second;
  if (split != std::string_view::npos) {
    try {
      second = std::async(std::launch::async, [&]() {
        // Lines count from 0 here: the first half tells where they start.
        CsvTokenizer half(bytes, display_name, split, 0, delimiter);
        half.ReleaseAsYouGo(file);
        half.SetFieldNames(&layout.fields);
        std::vector<ColumnGuess> half_guesses(field_count);
        ScanColumnTypes(half, std::string_view::npos, half_guesses, layout.options);
        return half_guesses;
      });
    } catch (const std::system_error&) {
      // No thread to be had: one scan does it all.
    }
  }
  if (!second.valid()) {
    ScanColumnTypes(tokenizer, std::string_view::npos, guesses, layout.options);
  } else {
    // A problem in the first half is the first one of the file; the second
    // half's thread is waited for (by the future) before it is reported.
    ScanColumnTypes(tokenizer, split, guesses, layout.options);
    std::vector<ColumnGuess> second_guesses;
    bool second_ok = tokenizer.offset() == split;
    try {
      second_guesses = second.get();
    } catch (const Error&) {
      second_ok = false;
    }
    if (second_ok) {
      for (std::size_t i = 0; i < field_count; ++i) MergeGuess(guesses[i], second_guesses[i], tokenizer.line());
    } else {
      ScanColumnTypes(tokenizer, std::string_view::npos, guesses, layout.options);
    }
  }
  for (std::size_t i = 0; i < field_count; ++i) {
    const ColumnGuess& g = guesses[i];
    FieldInfo& f = layout.fields[i];
    f.type = ResolvedType(g);
    f.defined_size = DefinedSizeOf(f.type);
    if (f.type == adVarWChar && g.counting && g.non_numbers > 0 && g.non_numbers < g.values)
      f.non_numeric = NonNumericCells{g.non_numbers, g.values, g.first_line, g.first_text};
  }
  return layout;
}

// ---- column-wise reading ----

namespace {

// A cell's text that reads as null: blank, or one of the null tokens.
bool IsNullText(std::string_view text, const CsvOptions& options) {
  return IsBlankCell(text) || (!options.na_tokens.empty() && IsNaToken(text, options.na_tokens));
}

}  // namespace

void ReadNumberCells(std::span<const CellSpan> cells, const CsvOptions& options, const char* limit, NumberCells& out) {
  const std::size_t rows = cells.size();
  out.kinds.resize(rows);
  out.values.resize(rows);
  out.read = rows;
  out.int32 = out.int64 = true;
  const bool quick = options.na_tokens.empty();
  std::string scratch;
  for (std::size_t r = 0; r < rows; ++r) {
    const CellSpan* const cell = &cells[r];
    // The cells' bytes were split off by another thread, maybe on another
    // processor: they are asked for a few cells ahead.
    if (r + 8 < rows) __builtin_prefetch(cells[r + 8].data);
    CsvNumber n;
    bool parsed = false;
    // As CsvRecordReader::ConvertInto: an empty cell is null, a short plain
    // number needs no copy of its text.
    if (quick && !cell->escaped) {
      if (cell->size == 0) {
        out.kinds[r] = NumberCells::kNull;
        out.values[r] = 0;
        continue;
      }
      parsed = ParseShortDecimal(cell->data, cell->data + cell->size, n, limit);
    }
    if (!parsed) {
      const std::string_view text = CellText(*cell, scratch);
      if (IsNullText(text, options)) {
        out.kinds[r] = NumberCells::kNull;
        out.values[r] = 0;
        continue;
      }
      const std::optional<CsvNumber> general = ParseCsvNumber(text);
      if (!general) {
        out.read = r;
        break;
      }
      n = *general;
    }
    out.kinds[r] = n.canonical ? NumberCells::kCanonical : NumberCells::kNumber;
    out.values[r] = n.value;
    // The column types of the inference scan (see ShapeOfCell).
    if (!n.is_integer) {
      out.int32 = out.int64 = false;
    } else if (n.integer < std::numeric_limits<std::int32_t>::min() ||
               n.integer > std::numeric_limits<std::int32_t>::max()) {
      out.int32 = false;
    }
  }
  out.kinds.resize(out.read);
  out.values.resize(out.read);
}

void ReadTextCells(std::span<const CellSpan> cells, const CsvOptions& options, TextCells& out) {
  const std::size_t rows = cells.size();
  out.texts.resize(rows);
  out.null.resize(rows);
  out.unescaped.clear();
  for (std::size_t r = 0; r < rows; ++r) {
    const CellSpan* const cell = &cells[r];
    std::string_view text = cell->raw();
    if (cell->escaped) {
      std::string scratch;
      text = CellText(*cell, scratch);
      text = out.unescaped.emplace_back(text);
    }
    const bool null = IsNullText(text, options);
    out.null[r] = null;
    out.texts[r] = null ? std::string_view() : text;
  }
}

// ---- CsvRecordReader ----

CsvRecordReader::CsvRecordReader(std::shared_ptr<const MappedFile> file, const CsvLayout& layout,
                                 std::string display_name)
    : file_(std::move(file)),
      fields_(layout.fields),
      options_(layout.options),
      plain_numbers_(options_.PlainNumbers()),
      quick_numbers_(plain_numbers_ && options_.na_tokens.empty()),
      tokenizer_(file_->bytes(), std::move(display_name), layout.data_offset, layout.data_line,
                 options_.delimiter ? options_.delimiter : ',') {
  tokenizer_.SetFieldNames(&fields_);
  tokenizer_.ReleaseAsYouGo(file_.get());
}

bool CsvRecordReader::Next(std::vector<CellSpan>& cells) {
  cells.clear();
  return Append(cells);
}

bool CsvRecordReader::Append(std::vector<CellSpan>& cells) {
  const std::size_t first = cells.size();
  while (tokenizer_.Append(cells)) {
    const std::size_t got = cells.size() - first;
    if (got == fields_.size() && got > 1) [[likely]]
      return true;
    const bool blank = got == 1 && cells[first].size == 0 && !cells[first].quoted;
    if (blank && (fields_.size() > 1 || tokenizer_.AtTrailingBlankLines())) {
      cells.resize(first);
      if (fields_.size() > 1) continue;
      return false;
    }
    if (got == fields_.size()) return true;
    tokenizer_.Fail(FieldCountMismatch(got, fields_.size(), options_.header));
  }
  return false;
}

bool CsvRecordReader::NextInto(CellSpan* out, std::size_t stride) {
  const std::size_t n = fields_.size();
  for (;;) {
    const std::size_t got = tokenizer_.NextPlain(out, n, stride);
    if (got == n && n > 1) [[likely]]
      return true;
    if (got == 0) {
      // Not a plain record (or the end): read the ordinary way.
      if (!Next(spill_)) return false;
      for (std::size_t c = 0; c < n; ++c) out[c * stride] = spill_[c];
      return true;
    }
    // A blank line, or a record of too few fields, as Next treats them.
    const bool blank = got == 1 && out[0].size == 0;
    if (blank && n > 1) continue;
    if (blank && tokenizer_.AtTrailingBlankLines()) return false;
    if (got == n) return true;
    tokenizer_.Fail(FieldCountMismatch(got, n, options_.header));
  }
}

void CsvRecordReader::FailCell(std::size_t column, const std::string& what, std::int64_t line) const {
  tokenizer_.FailAt(line < 0 ? tokenizer_.record_line() : line, tokenizer_.FieldLabel(column) + ": " + what);
}

bool CsvRecordReader::IsNull(std::string_view text) const {
  return IsNullText(text, options_);
}

std::optional<CsvNumber> CsvRecordReader::ConvertNumber(const CellSpan& cell, std::size_t column, std::int64_t line) {
  const std::string_view text = CellText(cell, scratch_);
  if (IsNull(text)) return std::nullopt;
  std::optional<CsvNumber> n;
  if (plain_numbers_) n = ParseCsvNumber(text);
  else if (PlainNumberText(text, options_, number_scratch_)) n = ParseCsvNumber(number_scratch_);
  if (!n) FailCell(column, "the text " + Quoted(text) + " is not a number (the file changed while it was read?)", line);
  return n;
}

std::optional<Date> CsvRecordReader::ConvertDate(const CellSpan& cell, std::size_t column, std::int64_t line) {
  const std::string_view text = CellText(cell, scratch_);
  if (IsNull(text)) return std::nullopt;
  auto d = Date::Parse(text);
  if (!d) FailCell(column, "the text " + Quoted(text) + " is not a date (the file changed while it was read?)", line);
  return d;
}

void CsvRecordReader::ConvertInto(Value& out, const CellSpan& cell, std::size_t column, std::int64_t line) {
  const int type = fields_[column].type;
  if (quick_numbers_ && !cell.escaped && (type == adInteger || type == adBigInt || type == adDouble)) {
    // An empty cell is null; a short plain number is what Convert makes of it.
    if (cell.size == 0) {
      out = Value();
      return;
    }
    CsvNumber n;
    if (ParseShortDecimal(cell.data, cell.data + cell.size, n, tokenizer_.text_end())) {
      out.AssignNumber(n.value, n.canonical);
      return;
    }
  }
  if (IsTextType(type)) {
    // What Convert makes of a text cell, written into the value in place.
    const std::string_view text = CellText(cell, scratch_);
    if (IsNull(text)) out = Value();
    else out.AssignText(text);
    return;
  }
  out = Convert(cell, column, line);
}

Value CsvRecordReader::Convert(const CellSpan& cell, std::size_t column, std::int64_t line) {
  switch (fields_[column].type) {
    case adInteger:
    case adBigInt:
    case adDouble: {
      const auto n = ConvertNumber(cell, column, line);
      if (!n) return Value();
      return n->canonical ? Value::CanonicalNumber(n->value) : Value(n->value);
    }
    case adDate: {
      const auto d = ConvertDate(cell, column, line);
      return d ? Value(*d) : Value();
    }
    default: {
      const std::string_view text = CellText(cell, scratch_);
      if (IsNull(text)) return Value();
      return Value(std::string(text));
    }
  }
}

}  // namespace qeldata::detail
