#include "qelcom/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "names.h"
#include "qelcom/error_info.h"

namespace qelcom {
namespace {

using detail::Lower;

std::string NormalizeKey(std::string_view key) {
  while (!key.empty() && key.front() == '\\') key.remove_prefix(1);
  while (!key.empty() && key.back() == '\\') key.remove_suffix(1);
  return std::string(key);
}

// The characters a quoted string escapes, each with the letter that follows
// its backslash: one table for writing and reading.
constexpr std::pair<char, char> kEscapes[] = {{'\\', '\\'}, {'"', '"'}, {'\n', 'n'}, {'\r', 'r'}, {'\t', 't'}};

std::string Quote(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    const auto* escape = std::find_if(std::begin(kEscapes), std::end(kEscapes), [c](auto e) { return e.first == c; });
    if (escape != std::end(kEscapes)) {
      out += '\\';
      out += escape->second;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// Reads a quoted string at text[pos]; advances pos past the closing quote.
bool Unquote(std::string_view text, std::size_t& pos, std::string& out) {
  if (pos >= text.size() || text[pos] != '"') return false;
  ++pos;
  out.clear();
  while (pos < text.size()) {
    char c = text[pos++];
    if (c == '"') return true;
    if (c == '\\') {
      if (pos >= text.size()) return false;
      const char letter = text[pos++];
      const auto* escape =
          std::find_if(std::begin(kEscapes), std::end(kEscapes), [letter](auto e) { return e.second == letter; });
      if (escape == std::end(kEscapes)) return false;
      out += escape->first;
    } else {
      out += c;
    }
  }
  return false;
}

thread_local RegistryCapture* t_capture = nullptr;

// A registry holds a few hundred lines; more than this is no registry.
constexpr std::size_t kMaxRegistryBytes = std::size_t{16} << 20;

// A registry names the libraries a host loads, so it is trusted only when
// no one but the caller (or root) can have written it: the file and its
// folder belong to one of them and neither is writable by group or others
// (a sticky folder, like /tmp, keeps others from replacing the file).
void CheckTrusted(const struct stat& st, const std::string& what, const std::string& path) {
  const uid_t me = ::geteuid();
  if (st.st_uid != me && st.st_uid != 0)
    throw std::runtime_error("Refusing registry " + what + " '" + path + "': it belongs to another user (uid " +
                             std::to_string(st.st_uid) + ")");
  const bool sticky_folder = S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX);
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) && !sticky_folder) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    throw std::runtime_error("Refusing registry " + what + " '" + path + "': other users can write it (mode " +
                             mode + "; chmod go-w)");
  }
}

void CheckFolder(const std::string& path) {
  std::string folder = std::filesystem::path(path).parent_path().string();
  if (folder.empty()) folder = ".";
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) return;  // not there yet: Save creates it, as the caller
  CheckTrusted(st, "folder", folder);
}

// Closes a descriptor on every path out.
struct Descriptor {
  int fd;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

// An exclusive lock on "<registry>.lock" for the life of the object. The lock
// is never opened through a symbolic link (another user's link would make
// this process create or lock a file of their choosing).
class FileLock {
 public:
  explicit FileLock(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0600);
    if (fd_ < 0) throw std::runtime_error("Cannot lock registry '" + path + "': " + std::strerror(errno));
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
      ::close(fd_);
      throw std::runtime_error("Cannot lock registry '" + path + "': not a regular file");
    }
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) {
        const int e = errno;
        ::close(fd_);
        throw std::runtime_error("Cannot lock registry '" + path + "': " + std::strerror(e));
      }
    }
  }
  ~FileLock() {
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  int fd_ = -1;
};

}  // namespace

std::string Registry::DefaultPath() {
  if (const char* explicit_path = std::getenv("QEL_REGISTRY"); explicit_path && *explicit_path) return explicit_path;
  std::string base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = std::string(home) + "/.config";
  } else {
    // A shared fallback folder would let any user plant the registry.
    throw std::runtime_error(
        "No place for the registry: set QEL_REGISTRY (the registry file), XDG_CONFIG_HOME or HOME");
  }
  return base + "/qelcom/registry";
}

Registry Registry::Load(const std::string& path) {
  Registry reg;
  CheckFolder(path);
  // Non-blocking, so that a FIFO in the file's place cannot hang the reader.
  const Descriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)};
  if (file.fd < 0) {
    if (errno == ENOENT) return reg;
    throw std::runtime_error("Cannot read registry '" + path + "': " + std::strerror(errno));
  }
  struct stat st {};
  if (::fstat(file.fd, &st) != 0)
    throw std::runtime_error("Cannot read registry '" + path + "': " + std::strerror(errno));
  if (!S_ISREG(st.st_mode)) throw std::runtime_error("Refusing registry '" + path + "': not a regular file");
  CheckTrusted(st, "file", path);
  std::string data;
  const auto too_large = [&] {
    return std::runtime_error("Refusing registry '" + path + "': larger than " +
                              std::to_string(kMaxRegistryBytes >> 20) + " MiB");
  };
  if (static_cast<std::uint64_t>(st.st_size) > kMaxRegistryBytes) throw too_large();
  // The size read is bounded even when the file grows while it is read.
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = ::read(file.fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw std::runtime_error("Cannot read registry '" + path + "': " + std::strerror(errno));
    if (n == 0) break;
    data.append(buffer, static_cast<std::size_t>(n));
    if (data.size() > kMaxRegistryBytes) throw too_large();
  }
  std::istringstream in(data);
  std::string line;
  std::string current;  // lower-case key of the section being read
  int line_no = 0;
  auto fail = [&](const char* what) {
    throw std::runtime_error("Registry '" + path + "', line " + std::to_string(line_no) + ": " + what);
  };
  while (std::getline(in, line)) {
    ++line_no;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string_view text = line;
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    if (text.empty() || text.front() == ';' || text.front() == '#') continue;
    if (text.front() == '[') {
      if (text.back() != ']') fail("a key line must end with ']'");
      const std::string key = NormalizeKey(text.substr(1, text.size() - 2));
      if (key.empty()) fail("empty key");
      current = Lower(key);
      Key& k = reg.keys_[current];
      k.name = key;
      continue;
    }
    if (current.empty()) fail("a value before the first key");
    std::string name, value;
    std::size_t pos = 0;
    if (text.front() == '@') {
      pos = 1;
    } else if (!Unquote(text, pos, name)) {
      fail("a value name must be quoted or '@'");
    }
    if (pos >= text.size() || text[pos] != '=') fail("expected '=' after the value name");
    ++pos;
    if (!Unquote(text, pos, value)) fail("a value must be a quoted string");
    if (pos != text.size()) fail("text after the value");
    reg.keys_[current].values[Lower(name)] = {name, value};
  }
  return reg;
}

void Registry::Save(const std::string& path) const {
  namespace fs = std::filesystem;
  const fs::path target(path);
  if (target.has_parent_path()) {
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    if (ec) throw std::runtime_error("Cannot create folder '" + target.parent_path().string() + "': " + ec.message());
  }
  std::ostringstream out;
  out << "; qelcom registry: classes, ProgIDs, interfaces and type libraries\n";
  for (const auto& [lower, key] : keys_) {
    out << '[' << key.name << "]\n";
    for (const auto& [lname, nv] : key.values) {
      if (nv.first.empty())
        out << '@';
      else
        out << Quote(nv.first);
      out << '=' << Quote(nv.second) << '\n';
    }
  }
  const std::string data = out.str();
  std::string temp = path + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) throw std::runtime_error("Cannot write registry '" + path + "': " + std::strerror(errno));
  std::size_t written = 0;
  while (written < data.size()) {
    const ssize_t n = ::write(fd, data.data() + written, data.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int e = errno;
      ::close(fd);
      ::unlink(temp.c_str());
      throw std::runtime_error("Cannot write registry '" + path + "': " + std::strerror(e));
    }
    written += static_cast<std::size_t>(n);
  }
  // A rewrite keeps the mode, owner and group the file had: registering one
  // more class must not open a private registry to others, or hand it over.
  struct stat old_st {}, new_st {};
  if (::stat(path.c_str(), &old_st) == 0 && ::fstat(fd, &new_st) == 0) {
    const bool other_owner = old_st.st_uid != new_st.st_uid || old_st.st_gid != new_st.st_gid;
    if ((other_owner && ::fchown(fd, old_st.st_uid, old_st.st_gid) != 0) ||
        ::fchmod(fd, old_st.st_mode & 07777) != 0) {
      const int e = errno;
      ::close(fd);
      ::unlink(temp.c_str());
      throw std::runtime_error("Cannot keep the owner and mode of registry '" + path + "': " + std::strerror(e));
    }
  } else {
    ::fchmod(fd, 0644);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    const int e = errno;
    ::unlink(temp.c_str());
    throw std::runtime_error("Cannot write registry '" + path + "': " + std::strerror(e));
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    const int e = errno;
    ::unlink(temp.c_str());
    throw std::runtime_error("Cannot replace registry '" + path + "': " + std::strerror(e));
  }
}

std::optional<std::string> Registry::GetValue(std::string_view key, std::string_view name) const {
  auto k = keys_.find(Lower(NormalizeKey(key)));
  if (k == keys_.end()) return std::nullopt;
  auto v = k->second.values.find(Lower(name));
  if (v == k->second.values.end()) return std::nullopt;
  return v->second.second;
}

void Registry::SetValue(std::string_view key, std::string_view name, std::string_view value) {
  const std::string normalized = NormalizeKey(key);
  if (normalized.empty()) throw std::invalid_argument("registry key must not be empty");
  // Create the parents too, so that SubKeys sees every level.
  for (std::size_t pos = normalized.find('\\'); pos != std::string::npos; pos = normalized.find('\\', pos + 1)) {
    Key& parent = keys_[Lower(normalized.substr(0, pos))];
    if (parent.name.empty()) parent.name = normalized.substr(0, pos);
  }
  Key& k = keys_[Lower(normalized)];
  if (k.name.empty()) k.name = normalized;
  k.values[Lower(name)] = {std::string(name), std::string(value)};
}

bool Registry::DeleteTree(std::string_view key) {
  const std::string lower = Lower(NormalizeKey(key));
  if (lower.empty()) return false;
  bool found = false;
  for (auto it = keys_.lower_bound(lower); it != keys_.end();) {
    const std::string& k = it->first;
    if (k == lower || (k.size() > lower.size() && k.compare(0, lower.size(), lower) == 0 && k[lower.size()] == '\\')) {
      it = keys_.erase(it);
      found = true;
    } else if (k.compare(0, lower.size(), lower) == 0) {
      ++it;  // a sibling sharing the prefix ("abc" beside "ab"): keep going
    } else {
      break;
    }
  }
  return found;
}

bool Registry::HasKey(std::string_view key) const { return keys_.count(Lower(NormalizeKey(key))) > 0; }

std::vector<std::string> Registry::SubKeys(std::string_view key) const {
  const std::string lower = Lower(NormalizeKey(key));
  const std::string prefix = lower.empty() ? "" : lower + "\\";
  std::vector<std::string> out;
  for (const auto& [k, v] : keys_) {
    if (k.size() <= prefix.size() || k.compare(0, prefix.size(), prefix) != 0) continue;
    if (k.find('\\', prefix.size()) != std::string::npos) continue;
    out.push_back(v.name.substr(v.name.size() - (k.size() - prefix.size())));
  }
  return out;
}

RegistryCapture::RegistryCapture() : previous_(t_capture) { t_capture = this; }
RegistryCapture::~RegistryCapture() { t_capture = previous_; }

HRESULT UpdateRegistry(const std::function<void(Registry&)>& edit) {
  if (t_capture) {
    edit(t_capture->registry());
    return S_OK;
  }
  try {
    const std::string path = Registry::DefaultPath();
    std::error_code ec;
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent, ec);
    FileLock lock(path + ".lock");
    Registry reg = Registry::Load(path);
    edit(reg);
    reg.Save(path);
    return S_OK;
  } catch (const std::exception& e) {
    SetErrorInfo(REGDB_E_WRITEREGDB, "qelcom", e.what());
    return REGDB_E_WRITEREGDB;
  }
}

Registry ReadRegistry() {
  try {
    return Registry::Load(Registry::DefaultPath());
  } catch (const std::exception&) {
    return Registry();
  }
}

}  // namespace qelcom
