#include "server.h"

#include <array>
#include <stdexcept>
#include <vector>

#include "qelcom/dispatch.h"
#include "qeldata/error.h"
#include "qelStatsLib/QelUnivariate.h"

namespace qel::com {

using namespace qelcom;

std::atomic<long>& LiveObjects() {
  static std::atomic<long> count{0};
  return count;
}

std::atomic<long>& ServerLocks() {
  static std::atomic<long> count{0};
  return count;
}

std::span<const ClassInfo> Classes() {
  // The type library's order: QelBivariate, QelStatFctn, QelUnivariate, QelOutlier.
  // Only QelUnivariate describes itself; QelBivariate is no application object.
  static const ClassInfo classes[] = {
      {"QelBivariate", "QelStatsLib.QelBivariate", QelStatsLib::CLSID_QelBivariate, QelStatsLib::IID__QelBivariate,
       "_QelBivariate", nullptr, false, &BivariateMembers, &NewBivariate},
      {"QelStatFctn", "QelStatsLib.QelStatFctn", QelStatsLib::CLSID_QelStatFctn, QelStatsLib::IID__QelStatFctn,
       "_QelStatFctn", nullptr, true, &StatFctnMembers, &NewStatFctn},
      {"QelUnivariate", "QelStatsLib.QelUnivariate", QelStatsLib::CLSID_QelUnivariate, QelStatsLib::IID__QelUnivariate,
       "_QelUnivariate", qel::QelUnivariate::kDescription.data(), true, &UnivariateMembers, &NewUnivariate},
      {"QelOutlier", "QelStatsLib.QelOutlier", QelStatsLib::CLSID_QelOutlier, QelStatsLib::IID__QelOutlier,
       "_QelOutlier", nullptr, true, &OutlierMembers, &NewOutlier},
  };
  return classes;
}

const ClassInfo* FindClass(REFCLSID clsid) {
  for (const ClassInfo& c : Classes())
    if (c.clsid == clsid) return &c;
  return nullptr;
}

const ClassInfo& ClassOfInterface(REFIID iid) {
  for (const ClassInfo& c : Classes())
    if (c.iid == iid) return c;
  throw std::logic_error("no class has that default interface");
}

// ---- DataSource ----

namespace {

// Reads `name` of `object` by name; a missing member raises the automation
// runtime's "Object doesn't support this property or method".
Variant ReadMember(IDispatch* object, const char* name) {
  Variant value;
  ExcepInfo excep;
  const HRESULT hr = InvokeByName(object, name, DISPATCH_PROPERTYGET | DISPATCH_METHOD, {}, &value, &excep);
  if (hr == DISP_E_EXCEPTION) {
    const std::string source = excep.bstrSource ? excep.bstrSource : "";
    const std::string description = excep.bstrDescription ? excep.bstrDescription : "";
    const HRESULT code = excep.scode;
    ClearExcepInfo(&excep);
    throw qeldata::Error(code, source, description);
  }
  ClearExcepInfo(&excep);
  if (hr == DISP_E_UNKNOWNNAME || hr == DISP_E_MEMBERNOTFOUND)
    throw qeldata::Error(qeldata::kErrMemberNotFound, "QelStatsLib",
                         std::string("Object doesn't support this property or method: ") + name);
  if (Failed(hr)) {
    std::optional<ErrorInfo> info = GetErrorInfo();
    if (info && info->number == hr) throw qeldata::Error(hr, info->source, info->description);
    throw qeldata::Error(hr, "QelStatsLib", std::string("Cannot read ") + name + ": " + HresultMessage(hr));
  }
  return value;
}

}  // namespace

DataSourceReading ReadDataSource(IDispatch* object, const char* error_source) {
  if (!object) throw qeldata::Error(qeldata::kErrObjectRequired, error_source, "Object required");
  DataSourceReading reading;
  const Variant connection = ReadMember(object, "ActiveConnection");
  if (connection.IsEmpty() || connection.IsNull() || connection.IsNothing()) return reading;
  if (connection.type() != VT_DISPATCH && connection.type() != VT_UNKNOWN)
    throw qeldata::Error(qeldata::kErrObjectRequired, error_source, "Object required");
  Variant as_dispatch;
  if (Failed(connection.ChangeType(VT_DISPATCH, &as_dispatch)) || !as_dispatch.object())
    throw qeldata::Error(qeldata::kErrObjectRequired, error_source, "Object required");
  reading.connected = true;
  const Variant connection_string = ReadMember(as_dispatch.object(), "ConnectionString");
  const Variant source = ReadMember(object, "Source");
  try {
    reading.connection_string = connection_string.AsString();
    reading.source = source.AsString();
  } catch (const std::exception& e) {
    throw qeldata::Error(qeldata::kErrDataConversion, error_source, e.what());
  }
  return reading;
}

// ---- Type information ----

namespace {

// Objects handed to hosts that hold no state of their own but keep the
// library loaded while they live.
template <class Interface>
class StaticObject : public ObjectBase<Interface> {
 public:
  StaticObject() { ++LiveObjects(); }
  virtual ~StaticObject() { --LiveObjects(); }

 protected:
  virtual const GUID& Iid() const = 0;
  bool Answers(REFIID iid) override { return iid == Iid(); }
};

constexpr VarDesc kOutlierTypeValues[] = {{"outSTD", 1}, {"outTMean", 2}};

// A type of the library: a class, its interface, or the enumeration.
struct TypeEntry {
  TypeKind kind;
  const ClassInfo* cls;  // classes and interfaces
};

std::vector<TypeEntry> TypeEntries() {
  std::vector<TypeEntry> entries;
  for (const ClassInfo& c : Classes()) {
    entries.push_back({TKIND_COCLASS, &c});
    entries.push_back({TKIND_DISPATCH, &c});
  }
  entries.push_back({TKIND_ENUM, nullptr});
  return entries;
}

class TypeInfoObject final : public StaticObject<ITypeInfo> {
 public:
  TypeInfoObject(TypeEntry entry, std::uint32_t index) : entry_(entry), index_(index) {}

  HRESULT GetTypeAttr(TypeAttr* attr) override {
    if (!attr) return E_POINTER;
    *attr = TypeAttr{};
    attr->typekind = entry_.kind;
    attr->wMajorVerNum = QelStatsLib::kTypeLibMajor;
    attr->wMinorVerNum = QelStatsLib::kTypeLibMinor;
    switch (entry_.kind) {
      case TKIND_COCLASS:
        attr->guid = entry_.cls->clsid;
        attr->wTypeFlags = TYPEFLAG_FCANCREATE | (entry_.cls->app_object ? TYPEFLAG_FAPPOBJECT : 0);
        break;
      case TKIND_DISPATCH: {
        const std::span<const Member> table = entry_.cls->members();
        attr->guid = entry_.cls->iid;
        attr->cFuncs = static_cast<std::uint16_t>(table.size());
        attr->cbSizeVft = static_cast<std::uint16_t>((7 + table.size()) * sizeof(void*));
        attr->wTypeFlags = TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FOLEAUTOMATION;
        break;
      }
      default:
        attr->guid = QelStatsLib::GUID_OutlierType;
        attr->cVars = static_cast<std::uint16_t>(std::size(kOutlierTypeValues));
        break;
    }
    return S_OK;
  }

  HRESULT GetFuncDesc(std::uint32_t index, FuncDesc* desc) override {
    if (!desc) return E_POINTER;
    if (entry_.kind != TKIND_DISPATCH) return TYPE_E_ELEMENTNOTFOUND;
    const std::span<const Member> table = entry_.cls->members();
    if (index >= table.size()) return TYPE_E_ELEMENTNOTFOUND;
    const Member& b = table[index];
    *desc = FuncDesc{};
    desc->memid = b.dispid;
    desc->invkind = b.kind;
    desc->oVft = static_cast<std::int16_t>(b.slot * sizeof(void*));
    desc->cParams = b.kind == INVOKE_FUNC ? b.max_args : (b.kind == INVOKE_PROPERTYGET ? 0 : 1);
    desc->vtReturn = b.type;
    desc->name = b.name;
    desc->paramNames = b.param_names;
    desc->paramTypes = b.param_types;
    desc->helpString = b.help;
    return S_OK;
  }

  HRESULT GetVarDesc(std::uint32_t index, VarDesc* desc) override {
    if (!desc) return E_POINTER;
    if (entry_.kind != TKIND_ENUM || index >= std::size(kOutlierTypeValues)) return TYPE_E_ELEMENTNOTFOUND;
    *desc = kOutlierTypeValues[index];
    return S_OK;
  }

  HRESULT GetDocumentation(DISPID memid, BSTR* name, BSTR* doc) override {
    const char* n = nullptr;
    const char* d = nullptr;
    if (memid == DISPID_UNKNOWN) {
      switch (entry_.kind) {
        case TKIND_COCLASS: n = entry_.cls->name; d = entry_.cls->description; break;
        case TKIND_DISPATCH: n = entry_.cls->interface_name; d = entry_.cls->description; break;
        default: n = "OutlierType"; break;
      }
    } else {
      if (entry_.kind != TKIND_DISPATCH) return TYPE_E_ELEMENTNOTFOUND;
      for (const Member& b : entry_.cls->members()) {
        if (b.dispid != memid) continue;
        n = b.name;
        if (b.help) d = b.help;
      }
      if (!n) return TYPE_E_ELEMENTNOTFOUND;
    }
    if (name) *name = SysAllocString(n ? n : "");
    if (doc) *doc = d ? SysAllocString(d) : nullptr;
    return S_OK;
  }

  HRESULT GetContainingTypeLib(ITypeLib** lib, std::uint32_t* index) override {
    if (lib) *lib = NewTypeLib();
    if (index) *index = index_;
    return S_OK;
  }

 protected:
  const GUID& Iid() const override { return IID_ITypeInfo; }

 private:
  TypeEntry entry_;
  std::uint32_t index_;
};

class TypeLibObject final : public StaticObject<ITypeLib> {
 public:
  TypeLibObject() : entries_(TypeEntries()) {}

  std::uint32_t GetTypeInfoCount() override { return static_cast<std::uint32_t>(entries_.size()); }

  HRESULT GetTypeInfo(std::uint32_t index, ITypeInfo** info) override {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index >= entries_.size()) return TYPE_E_ELEMENTNOTFOUND;
    *info = new TypeInfoObject(entries_[index], index);
    return S_OK;
  }

  HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** info) override {
    if (!info) return E_POINTER;
    *info = nullptr;
    for (std::uint32_t i = 0; i < entries_.size(); ++i) {
      const TypeEntry& e = entries_[i];
      const GUID g = e.kind == TKIND_COCLASS ? e.cls->clsid
                     : e.kind == TKIND_DISPATCH ? e.cls->iid
                                                 : QelStatsLib::GUID_OutlierType;
      if (g == guid) {
        *info = new TypeInfoObject(e, i);
        return S_OK;
      }
    }
    return TYPE_E_ELEMENTNOTFOUND;
  }

  HRESULT GetLibAttr(TLibAttr* attr) override {
    if (!attr) return E_POINTER;
    attr->guid = QelStatsLib::LIBID_QelStatsLib;
    attr->lcid = QelStatsLib::kTypeLibLcid;
    attr->wMajorVerNum = QelStatsLib::kTypeLibMajor;
    attr->wMinorVerNum = QelStatsLib::kTypeLibMinor;
    return S_OK;
  }

  HRESULT GetDocumentation(std::int32_t index, BSTR* name, BSTR* doc) override {
    if (index == -1) {
      if (name) *name = SysAllocString(QelStatsLib::kTypeLibName);
      if (doc) *doc = SysAllocString(QelStatsLib::kTypeLibDescription);
      return S_OK;
    }
    if (index < 0 || static_cast<std::size_t>(index) >= entries_.size()) return TYPE_E_ELEMENTNOTFOUND;
    TypeInfoObject info(entries_[static_cast<std::size_t>(index)], static_cast<std::uint32_t>(index));
    const HRESULT hr = info.GetDocumentation(DISPID_UNKNOWN, name, doc);
    return hr;
  }

 protected:
  const GUID& Iid() const override { return IID_ITypeLib; }

 private:
  std::vector<TypeEntry> entries_;
};

}  // namespace

ITypeLib* NewTypeLib() { return new TypeLibObject(); }

ITypeInfo* NewInterfaceTypeInfo(const ClassInfo& info) {
  std::uint32_t index = 0;
  for (const ClassInfo& c : Classes()) {
    if (&c == &info || c.clsid == info.clsid) break;
    ++index;
  }
  return new TypeInfoObject({TKIND_DISPATCH, &info}, index * 2 + 1);
}

}  // namespace qel::com
