// The component server's machinery: the library's object and lock counts,
// the classes with their member tables (one table per class drives both the
// type information of its slots and dispatch by name), the dual-interface
// object base and the type information published to hosts.
#pragma once

#include <atomic>
#include <span>
#include <string>

#include "qelStatsLib/QelStatsLib.h"
#include "qelcom/dispatch_object.h"
#include "qelcom/error_info.h"
#include "qelcom/interfaces.h"

namespace qel::com {

// ---- Module state: DllCanUnloadNow answers from these ----
std::atomic<long>& LiveObjects();
std::atomic<long>& ServerLocks();

// ---- Classes ----

struct ClassInfo {
  const char* name;           // "QelUnivariate"
  const char* progid;         // "QelStatsLib.QelUnivariate"
  qelcom::GUID clsid;
  qelcom::GUID iid;
  const char* interface_name; // "_QelUnivariate"
  const char* description;    // nullptr when the class carries none
  bool app_object;
  // The members of the default interface in slot order: what the type
  // information publishes and what Invoke calls.
  std::span<const qelcom::Member> (*members)();
  qelcom::IUnknown* (*create)();  // a new object with one reference
};

// The four classes, in the order the type library lists them.
std::span<const ClassInfo> Classes();
const ClassInfo* FindClass(qelcom::REFCLSID clsid);
// The class whose default interface is `iid` (one of the four).
const ClassInfo& ClassOfInterface(qelcom::REFIID iid);

// The identity of each class's default interface, by its type.
template <class Interface>
inline constexpr const qelcom::GUID* kInterfaceId = nullptr;
template <>
inline constexpr const qelcom::GUID* kInterfaceId<QelStatsLib::_QelUnivariate> = &QelStatsLib::IID__QelUnivariate;
template <>
inline constexpr const qelcom::GUID* kInterfaceId<QelStatsLib::_QelOutlier> = &QelStatsLib::IID__QelOutlier;
template <>
inline constexpr const qelcom::GUID* kInterfaceId<QelStatsLib::_QelBivariate> = &QelStatsLib::IID__QelBivariate;
template <>
inline constexpr const qelcom::GUID* kInterfaceId<QelStatsLib::_QelStatFctn> = &QelStatsLib::IID__QelStatFctn;

// The type library and the type information of one of its types (one reference each).
qelcom::ITypeLib* NewTypeLib();
qelcom::ITypeInfo* NewInterfaceTypeInfo(const ClassInfo& info);

// ---- Objects ----

template <class T>
T* Require(T* p) {
  if (!p) throw qelcom::ComError(qelcom::E_POINTER, "QelStatsLib", "Invalid pointer");
  return p;
}

// An object of one of the classes, the one whose default interface is
// `Interface`: IDispatch over the class's member table, and the type
// information of its interface. Counted as live while it exists.
template <class Interface>
class DualObject : public qelcom::DispatchObject<Interface> {
 public:
  using Dual = Interface;

  DualObject() : info_(ClassOfInterface(*kInterfaceId<Interface>)) { ++LiveObjects(); }
  ~DualObject() override { --LiveObjects(); }

  qelcom::HRESULT GetTypeInfoCount(std::uint32_t* count) override {
    if (!count) return qelcom::E_POINTER;
    *count = 1;
    return qelcom::S_OK;
  }
  qelcom::HRESULT GetTypeInfo(std::uint32_t index, qelcom::LCID, qelcom::ITypeInfo** info) override {
    if (!info) return qelcom::E_POINTER;
    *info = nullptr;
    if (index != 0) return qelcom::DISP_E_BADINDEX;
    *info = NewInterfaceTypeInfo(info_);
    return qelcom::S_OK;
  }

 protected:
  std::span<const qelcom::Member> Members() const override { return info_.members(); }
  std::string_view ErrorSource() const override { return "QelStatsLib"; }
  bool AlsoAnswers(qelcom::REFIID iid) override { return iid == info_.iid; }
  const ClassInfo& Info() const { return info_; }

 private:
  const ClassInfo& info_;
};

// What the DataSource setter learns from an object that is not a recordset
// of ours, by name: whether its ActiveConnection holds an object and, if so,
// that connection's ConnectionString and the object's Source.
struct DataSourceReading {
  bool connected = false;
  std::string connection_string;
  std::string source;
};
// Throws qeldata::Error: kErrObjectRequired for nullptr, kErrMemberNotFound
// when a member is missing, or the error a member raised.
DataSourceReading ReadDataSource(qelcom::IDispatch* object, const char* error_source);

// Each class's member table and a new object of it, defined beside its object.
std::span<const qelcom::Member> UnivariateMembers();
qelcom::IUnknown* NewUnivariate();
std::span<const qelcom::Member> OutlierMembers();
qelcom::IUnknown* NewOutlier();
std::span<const qelcom::Member> BivariateMembers();
qelcom::IUnknown* NewBivariate();
std::span<const qelcom::Member> StatFctnMembers();
qelcom::IUnknown* NewStatFctn();
}  // namespace qel::com
