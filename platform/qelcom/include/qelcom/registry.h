// The registry file: where registered classes, ProgIDs, interfaces and type
// libraries are recorded for every host of the user.
//
// Keys are backslash-separated paths ("CLSID\{6D1C7106-...}\InprocServer32"),
// compared without regard to case; each holds named text values, the unnamed
// (default) one written "@". The file is plain text:
//
//   [CLSID\{6D1C7106-26F0-11D6-BEE4-00E09804AE2F}]
//   @="QelUnivariate"
//   "ThreadingModel"="Apartment"
//
// Writes go to a temporary file in the same folder that then replaces the old
// one, under an exclusive lock, so a reader never sees half a file and two
// registrations at once do not lose each other's entries.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qelcom/hresult.h"

namespace qelcom {

class Registry {
 public:
  // $QEL_REGISTRY if set, else ${XDG_CONFIG_HOME:-$HOME/.config}/qelcom/registry.
  // Throws std::runtime_error naming the variables to set when none is.
  static std::string DefaultPath();

  // Reads the file at `path`; a missing file is an empty registry. Throws
  // std::runtime_error naming the file (and line) when it cannot be read, and
  // refuses (throws) a file that is not a regular file, is larger than 16 MiB,
  // or that another user could have written: the file or its folder owned by
  // someone other than the caller or root, or writable by group or others
  // (a sticky folder excepted).
  static Registry Load(const std::string& path);
  // Writes atomically to `path`, creating its folder; an existing file keeps
  // its mode, owner and group. Throws std::runtime_error.
  void Save(const std::string& path) const;

  std::optional<std::string> GetValue(std::string_view key, std::string_view name = {}) const;
  // Creates the key (and its parents) as needed. An empty name is the default value.
  void SetValue(std::string_view key, std::string_view name, std::string_view value);
  // Removes the key, its values and every key below it. False when there was none.
  bool DeleteTree(std::string_view key);
  bool HasKey(std::string_view key) const;
  // Names of the keys directly below `key` (the top level for "").
  std::vector<std::string> SubKeys(std::string_view key) const;

 private:
  struct Key {
    std::string name;                                              // as written
    std::map<std::string, std::pair<std::string, std::string>> values;  // lower name -> (name, value)
  };
  std::map<std::string, Key> keys_;  // lower-case path -> key
};

// Applies `edit` to the registry that registration functions write: the
// registry file (loaded and saved under its lock), or the in-memory registry
// of a RegistryCapture active on this thread. On failure records error info
// and returns REGDB_E_WRITEREGDB.
HRESULT UpdateRegistry(const std::function<void(Registry&)>& edit);

// Reads the registry file; an unreadable file reads as empty.
Registry ReadRegistry();

// While alive, UpdateRegistry on this thread edits `registry` instead of the
// file: a way to learn what a library would register without registering it.
class RegistryCapture {
 public:
  RegistryCapture();
  ~RegistryCapture();
  RegistryCapture(const RegistryCapture&) = delete;
  RegistryCapture& operator=(const RegistryCapture&) = delete;
  Registry& registry() { return registry_; }

 private:
  Registry registry_;
  RegistryCapture* previous_;
};

}  // namespace qelcom
