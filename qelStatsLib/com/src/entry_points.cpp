// The library's exported entry points: class objects, registration and
// the answer to whether the host may unload it.
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <string>

#include "qelcom/registry.h"
#include "server.h"

#define QEL_EXPORT extern "C" __attribute__((visibility("default")))

namespace qel::com {
namespace {

using namespace qelcom;

class ClassFactory final : public ObjectBase<IClassFactory> {
 public:
  explicit ClassFactory(const ClassInfo& info) : info_(info) { ++LiveObjects(); }
  ~ClassFactory() override { --LiveObjects(); }


  HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    IUnknown* created = nullptr;
    try {
      created = info_.create();
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    const HRESULT hr = created->QueryInterface(iid, object);
    created->Release();
    return hr;
  }

  HRESULT LockServer(std::int32_t lock) override {
    if (lock)
      ++ServerLocks();
    else if (ServerLocks() > 0)
      --ServerLocks();
    return S_OK;
  }

 private:
  bool Answers(REFIID iid) override { return iid == IID_IClassFactory; }

  const ClassInfo& info_;
};

// The file this library was loaded from.
std::string OwnPath() {
  Dl_info info;
  if (!::dladdr(reinterpret_cast<void*>(&OwnPath), &info) || !info.dli_fname) return {};
  char resolved[PATH_MAX];
  if (::realpath(info.dli_fname, resolved)) return resolved;
  return info.dli_fname;
}

std::string Version() {
  return std::to_string(QelStatsLib::kTypeLibMajor) + "." + std::to_string(QelStatsLib::kTypeLibMinor);
}

std::string TypeLibKey() { return "TypeLib\\" + ToString(QelStatsLib::LIBID_QelStatsLib); }

}  // namespace
}  // namespace qel::com

using namespace qelcom;
using namespace qel::com;

QEL_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  const ClassInfo* info = FindClass(clsid);
  if (!info) return CLASS_E_CLASSNOTAVAILABLE;
  auto* factory = new (std::nothrow) ClassFactory(*info);
  if (!factory) return E_OUTOFMEMORY;
  const HRESULT hr = factory->QueryInterface(iid, object);
  factory->Release();
  return hr;
}

QEL_EXPORT HRESULT DllCanUnloadNow() {
  return LiveObjects() == 0 && ServerLocks() == 0 ? S_OK : S_FALSE;
}

QEL_EXPORT HRESULT DllRegisterServer() {
  const std::string path = OwnPath();
  if (path.empty()) {
    SetErrorInfo(SELFREG_E_CLASS, "QelStatsLib", "Cannot tell which file this library was loaded from");
    return SELFREG_E_CLASS;
  }
  const std::string libid = ToString(QelStatsLib::LIBID_QelStatsLib);
  const std::string version = Version();
  return UpdateRegistry([&](Registry& reg) {
    const std::string lib = TypeLibKey() + "\\" + version;
    reg.SetValue(lib, "", QelStatsLib::kTypeLibDescription);
    reg.SetValue(lib, "Name", QelStatsLib::kTypeLibName);
    reg.SetValue(lib + "\\" + std::to_string(QelStatsLib::kTypeLibLcid) + "\\linux64", "", path);
    reg.SetValue(lib + "\\FLAGS", "", "0");
    reg.SetValue(lib + "\\Enum\\" + ToString(QelStatsLib::GUID_OutlierType), "", "OutlierType");
    for (const ClassInfo& c : Classes()) {
      const std::string key = "CLSID\\" + ToString(c.clsid);
      reg.SetValue(key, "", c.progid);
      if (c.description) reg.SetValue(key, "Description", c.description);
      reg.SetValue(key + "\\InprocServer32", "", path);
      reg.SetValue(key + "\\InprocServer32", "ThreadingModel", "Apartment");
      reg.SetValue(key + "\\ProgID", "", c.progid);
      reg.SetValue(key + "\\VersionIndependentProgID", "", c.progid);
      reg.SetValue(key + "\\TypeLib", "", libid);
      reg.SetValue(key + "\\Version", "", version);
      reg.SetValue(key + "\\Interface", "", ToString(c.iid));
      if (c.app_object) reg.SetValue(key + "\\AppObject", "", "1");
      reg.SetValue(c.progid, "", c.progid);
      reg.SetValue(std::string(c.progid) + "\\CLSID", "", ToString(c.clsid));
      const std::string iface = "Interface\\" + ToString(c.iid);
      reg.SetValue(iface, "", c.interface_name);
      reg.SetValue(iface + "\\TypeLib", "", libid);
      reg.SetValue(iface + "\\TypeLib", "Version", version);
    }
  });
}

QEL_EXPORT HRESULT DllUnregisterServer() {
  return UpdateRegistry([&](Registry& reg) {
    for (const ClassInfo& c : Classes()) {
      reg.DeleteTree("CLSID\\" + ToString(c.clsid));
      reg.DeleteTree(c.progid);
      reg.DeleteTree("Interface\\" + ToString(c.iid));
    }
    reg.DeleteTree(TypeLibKey() + "\\" + Version());
    if (reg.SubKeys(TypeLibKey()).empty()) reg.DeleteTree(TypeLibKey());
    for (const char* parent : {"CLSID", "Interface", "TypeLib"})
      if (reg.SubKeys(parent).empty()) reg.DeleteTree(parent);
  });
}
