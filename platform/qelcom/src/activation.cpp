#include "qelcom/activation.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "qelcom/com_ptr.h"
#include "qelcom/error_info.h"
#include "qelcom/registry.h"

#ifndef QELCOM_INSTALL_LIBDIR
#define QELCOM_INSTALL_LIBDIR "lib"
#endif

namespace qelcom {
namespace {

constexpr const char* kFallbackLibraryName = "libqelStatsLib.so";

struct LoadedLibrary {
  void* handle = nullptr;
  DllGetClassObjectFn get_class_object = nullptr;
  DllCanUnloadNowFn can_unload_now = nullptr;
  std::optional<Registry> self_registration;  // what the library would register, learnt on demand
};

std::mutex& LibrariesMutex() {
  static std::mutex m;
  return m;
}
std::map<std::string, LoadedLibrary>& Libraries() {
  static auto* libraries = new std::map<std::string, LoadedLibrary>();  // lives to the end of the process
  return *libraries;
}

std::string Canonical(const std::string& path) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved)) return resolved;
  return path;
}

// Loads (once) and returns the library entry; nullptr with error info set.
LoadedLibrary* Load(const std::string& raw_path) {
  const std::string path = Canonical(raw_path);
  std::lock_guard<std::mutex> lock(LibrariesMutex());
  auto& libraries = Libraries();
  if (auto it = libraries.find(path); it != libraries.end()) return &it->second;
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = ::dlerror();
    SetErrorInfo(CO_E_DLLNOTFOUND, "qelcom",
                 "Cannot load component library '" + path + "': " + (why ? why : "unknown reason"));
    return nullptr;
  }
  LoadedLibrary lib;
  lib.handle = handle;
  lib.get_class_object = reinterpret_cast<DllGetClassObjectFn>(::dlsym(handle, "DllGetClassObject"));
  lib.can_unload_now = reinterpret_cast<DllCanUnloadNowFn>(::dlsym(handle, "DllCanUnloadNow"));
  if (!lib.get_class_object) {
    ::dlclose(handle);
    SetErrorInfo(CO_E_ERRORINDLL, "qelcom", "'" + path + "' does not export DllGetClassObject");
    return nullptr;
  }
  return &libraries.emplace(path, std::move(lib)).first->second;
}

// What the library at `lib` registers, learnt by letting it register into memory.
const Registry* SelfRegistration(LoadedLibrary* lib) {
  {
    std::lock_guard<std::mutex> lock(LibrariesMutex());
    if (lib->self_registration) return &*lib->self_registration;
  }
  auto reg = reinterpret_cast<DllRegisterServerFn>(::dlsym(lib->handle, "DllRegisterServer"));
  if (!reg) return nullptr;
  RegistryCapture capture;
  if (Failed(reg())) return nullptr;
  std::lock_guard<std::mutex> lock(LibrariesMutex());
  if (!lib->self_registration) lib->self_registration = std::move(capture.registry());
  return &*lib->self_registration;
}

std::string ClassKey(REFCLSID clsid) { return "CLSID\\" + ToString(clsid); }

// The library serving `clsid`: the registered one, else one beside the executable.
HRESULT FindLibrary(REFCLSID clsid, LoadedLibrary** out) {
  const Registry registry = ReadRegistry();
  if (std::optional<std::string> path = registry.GetValue(ClassKey(clsid) + "\\InprocServer32")) {
    LoadedLibrary* lib = Load(*path);
    if (!lib) return CO_E_DLLNOTFOUND;
    *out = lib;
    return S_OK;
  }
  for (const std::string& candidate : FallbackLibraryPaths()) {
    std::error_code ec;
    if (!std::filesystem::exists(candidate, ec)) continue;
    LoadedLibrary* lib = Load(candidate);
    if (!lib) continue;
    const Registry* self = SelfRegistration(lib);
    if (self && self->HasKey(ClassKey(clsid))) {
      *out = lib;
      return S_OK;
    }
  }
  SetErrorInfo(REGDB_E_CLASSNOTREG, "qelcom", "Class " + ToString(clsid) + " is not registered");
  return REGDB_E_CLASSNOTREG;
}

thread_local std::unordered_map<GUID, ComPtr<IUnknown>, GuidHash> t_app_objects;

bool IsAppObjectClass(IUnknown* object, REFCLSID clsid) {
  ComPtr<IDispatch> dispatch;
  if (Failed(object->QueryInterface(IID_IDispatch, dispatch.out()))) return false;
  ComPtr<ITypeInfo> info;
  if (Failed(dispatch->GetTypeInfo(0, 0, info.typed_out())) || !info) return false;
  ComPtr<ITypeLib> lib;
  std::uint32_t index = 0;
  if (Failed(info->GetContainingTypeLib(lib.typed_out(), &index)) || !lib) return false;
  ComPtr<ITypeInfo> coclass;
  if (Failed(lib->GetTypeInfoOfGuid(clsid, coclass.typed_out())) || !coclass) return false;
  TypeAttr attr;
  if (Failed(coclass->GetTypeAttr(&attr))) return false;
  return attr.typekind == TKIND_COCLASS && (attr.wTypeFlags & TYPEFLAG_FAPPOBJECT) != 0;
}

}  // namespace

std::string ExecutableDir() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return ".";
  return exe.parent_path().string();
}

std::vector<std::string> FallbackLibraryPaths() {
  const std::filesystem::path dir = ExecutableDir();
  return {(dir / kFallbackLibraryName).string(),
          (dir.parent_path() / QELCOM_INSTALL_LIBDIR / kFallbackLibraryName).string()};
}

void* LoadComponentLibrary(const std::string& path) {
  LoadedLibrary* lib = Load(path);
  return lib ? lib->handle : nullptr;
}

HRESULT CLSIDFromProgID(std::string_view progid, CLSID* clsid) {
  if (!clsid) return E_POINTER;
  if (std::optional<GUID> parsed = ParseGuid(progid)) {
    *clsid = *parsed;
    return S_OK;
  }
  const std::string key = std::string(progid) + "\\CLSID";
  if (!progid.empty()) {
    if (std::optional<std::string> text = ReadRegistry().GetValue(key)) {
      if (std::optional<GUID> g = ParseGuid(*text)) {
        *clsid = *g;
        return S_OK;
      }
    }
    for (const std::string& candidate : FallbackLibraryPaths()) {
      std::error_code ec;
      if (!std::filesystem::exists(candidate, ec)) continue;
      LoadedLibrary* lib = Load(candidate);
      const Registry* self = lib ? SelfRegistration(lib) : nullptr;
      if (!self) continue;
      if (std::optional<std::string> text = self->GetValue(key)) {
        if (std::optional<GUID> g = ParseGuid(*text)) {
          *clsid = *g;
          return S_OK;
        }
      }
    }
  }
  SetErrorInfo(CO_E_CLASSSTRING, "qelcom", "No class is registered as '" + std::string(progid) + "'");
  return CO_E_CLASSSTRING;
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, std::string* progid) {
  if (!progid) return E_POINTER;
  const std::string key = ClassKey(clsid) + "\\ProgID";
  if (std::optional<std::string> text = ReadRegistry().GetValue(key)) {
    *progid = *text;
    return S_OK;
  }
  LoadedLibrary* lib = nullptr;
  if (Succeeded(FindLibrary(clsid, &lib))) {
    if (const Registry* self = SelfRegistration(lib)) {
      if (std::optional<std::string> text = self->GetValue(key)) {
        *progid = *text;
        return S_OK;
      }
    }
  }
  return REGDB_E_CLASSNOTREG;
}

HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  LoadedLibrary* lib = nullptr;
  if (HRESULT hr = FindLibrary(clsid, &lib); Failed(hr)) return hr;
  return lib->get_class_object(clsid, iid, object);
}

HRESULT CreateInstance(REFCLSID clsid, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  ComPtr<IClassFactory> factory;
  if (HRESULT hr = GetClassObject(clsid, IID_IClassFactory, factory.out()); Failed(hr)) return hr;
  return factory->CreateInstance(nullptr, iid, object);
}

HRESULT CreateInstance(std::string_view progid_or_clsid, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  CLSID clsid;
  if (HRESULT hr = CLSIDFromProgID(progid_or_clsid, &clsid); Failed(hr)) return hr;
  return CreateInstance(clsid, iid, object);
}

HRESULT GetAppObject(REFCLSID clsid, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  auto it = t_app_objects.find(clsid);
  if (it == t_app_objects.end()) {
    ComPtr<IUnknown> created;
    if (HRESULT hr = CreateInstance(clsid, IID_IUnknown, created.out()); Failed(hr)) return hr;
    if (!IsAppObjectClass(created.get(), clsid)) {
      SetErrorInfo(CLASS_E_CLASSNOTAVAILABLE, "qelcom",
                   "Class " + ToString(clsid) + " is no application object; create it explicitly");
      return CLASS_E_CLASSNOTAVAILABLE;
    }
    it = t_app_objects.emplace(clsid, std::move(created)).first;
  }
  return it->second->QueryInterface(iid, object);
}

HRESULT GetAppObject(std::string_view progid_or_clsid, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  CLSID clsid;
  if (HRESULT hr = CLSIDFromProgID(progid_or_clsid, &clsid); Failed(hr)) return hr;
  return GetAppObject(clsid, iid, object);
}

void ReleaseAppObjects() { t_app_objects.clear(); }

void FreeUnusedLibraries() {
  std::lock_guard<std::mutex> lock(LibrariesMutex());
  auto& libraries = Libraries();
  for (auto it = libraries.begin(); it != libraries.end();) {
    if (it->second.can_unload_now && it->second.can_unload_now() == S_OK) {
      ::dlclose(it->second.handle);
      it = libraries.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace qelcom
