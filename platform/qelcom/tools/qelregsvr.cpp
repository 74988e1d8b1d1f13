// qelregsvr [-u] [-s] PATH: registers (or, with -u, unregisters) the classes of
// the component library at PATH in the registry file, by calling its
// DllRegisterServer / DllUnregisterServer.
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "qelcom/activation.h"
#include "qelcom/error_info.h"
#include "qelcom/registry.h"

namespace {

// The registry file, or why there is none.
std::string RegistryPath() {
  try {
    return qelcom::Registry::DefaultPath();
  } catch (const std::exception& e) {
    return std::string("(none: ") + e.what() + ")";
  }
}

int Usage() {
  std::fprintf(stderr,
               "usage: qelregsvr [-u] [-s] PATH\n"
               "  Registers the component library at PATH (with -u: unregisters it)\n"
               "  in the registry file %s.\n"
               "  -s  silent: no message on success\n",
               RegistryPath().c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  bool unregister = false;
  bool silent = false;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-u") == 0 || std::strcmp(argv[i], "/u") == 0) {
      unregister = true;
    } else if (std::strcmp(argv[i], "-s") == 0 || std::strcmp(argv[i], "/s") == 0) {
      silent = true;
    } else if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
      Usage();
      return 0;
    } else if (argv[i][0] == '-' || path) {
      return Usage();
    } else {
      path = argv[i];
    }
  }
  if (!path) return Usage();

  // A bare file name would make the loader search its own paths; the registry
  // must record the very file that was named.
  char resolved[PATH_MAX];
  if (!::realpath(path, resolved)) {
    std::fprintf(stderr, "qelregsvr: %s: %s\n", path, std::strerror(errno));
    return 3;
  }
  void* handle = ::dlopen(resolved, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    std::fprintf(stderr, "qelregsvr: cannot load %s: %s\n", resolved, ::dlerror());
    return 3;
  }
  const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
  auto fn = reinterpret_cast<qelcom::DllRegisterServerFn>(::dlsym(handle, entry));
  if (!fn) {
    std::fprintf(stderr, "qelregsvr: %s does not export %s\n", resolved, entry);
    return 4;
  }
  const qelcom::HRESULT hr = fn();
  if (qelcom::Failed(hr)) {
    std::string why;
    if (auto info = qelcom::GetErrorInfo()) why = ": " + info->description;
    std::fprintf(stderr, "qelregsvr: %s in %s failed with 0x%08X%s\n", entry, resolved, static_cast<unsigned>(hr),
                 why.c_str());
    return 5;
  }
  if (!silent)
    std::printf("%s in %s succeeded (%s)\n", entry, resolved, RegistryPath().c_str());
  return 0;
}
