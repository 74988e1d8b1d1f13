// Slot bodies shared by the analysis objects: property access on the engine
// object `engine_`, run under Guard (own thread only, errors as HRESULTs).
#pragma once

#include <memory>
#include <string>

#include "qelcom/com_ptr.h"
#include "qelcom/recordset_object.h"
#include "server.h"

namespace qelcom_server {

inline BSTR AllocOrThrow(const std::string& text) {
  BSTR s = SysAllocString(text);
  if (!s) throw std::bad_alloc();
  return s;
}

inline VARIANT_BOOL ToVariantBool(bool b) { return b ? VARIANT_TRUE : VARIANT_FALSE; }

template <class Kind>
InvokeKind ToInvokeKind(Kind k) {
  switch (static_cast<int>(k)) {
    case 0: return INVOKE_PROPERTYGET;    // kGet
    case 1: return INVOKE_PROPERTYPUT;    // kLet
    case 2: return INVOKE_PROPERTYPUTREF; // kSet
    default: return INVOKE_FUNC;          // kMethod
  }
}

// The DataSource a host set, as the analysis sees it. A recordset object of
// ours reaches the engine as the recordset itself; any other object only
// through the connection string and source it reports.
struct DataSourceSlot {
  ComPtr<IDispatch> object;
  bool foreign_disconnected = false;  // someone else's in-memory recordset: unreadable here

  template <class Engine>
  void Set(Engine& engine, IDispatch* value, const char* error_source) {
    object = ComPtr<IDispatch>(value);  // stored before anything can fail
    foreign_disconnected = false;
    if (!value) {
      engine.SetDataSource(nullptr);  // stores empty and raises "Object required"
      return;
    }
    std::shared_ptr<qeldata::Recordset> ours = UnwrapRecordset(value);
    if (ours) {
      engine.SetDataSource(ours);
    } else {
      try {
        engine.SetDataSource(nullptr);  // forget an earlier recordset; the refusal is expected
      } catch (const qeldata::Error&) {
      }
    }
    const DataSourceReading reading = ReadDataSource(value, error_source);
    if (reading.connected) {
      engine.SetConnectionString(reading.connection_string);
      engine.SetSource(reading.source);
    } else if (!ours) {
      foreign_disconnected = true;
    }
  }

  void Get(IDispatch** out) const {
    *out = object.get();
    if (*out) (*out)->AddRef();
  }

  // The description of the failure a run would meet with an unreadable DataSource.
  static constexpr const char* kForeignMessage =
      "DataSource is an in-memory recordset of another provider; pass a recordset of this platform or a connected "
      "one.";
};

// Result tables reach hosts as recordset objects; the same table is handed
// out as the same object.
struct ResultSetSlot {
  std::shared_ptr<qeldata::Recordset> table;
  ComPtr<IDispatch> object;

  void Get(std::shared_ptr<qeldata::Recordset> current, IDispatch** out) {
    if (!current) {
      table.reset();
      object.Reset();
      *out = nullptr;
      return;
    }
    if (current != table) {
      table = current;
      object = ComPtr<IDispatch>::Attach(WrapRecordset(current));
    }
    *out = object.get();
    if (*out) (*out)->AddRef();
  }
};

}  // namespace qelcom_server

#define QEL_SLOT(body) return Guard(owner(), [&] { body; })
#define QEL_GET_DOUBLE(Name) \
  HRESULT get_##Name(double* value) override { QEL_SLOT(*Require(value) = engine_.Name()); }
#define QEL_STRING_PROPERTY(Name)                                                                 \
  HRESULT put_##Name(const char* value) override { QEL_SLOT(engine_.Set##Name(value ? value : "")); } \
  HRESULT get_##Name(BSTR* value) override { QEL_SLOT(*Require(value) = AllocOrThrow(engine_.Name())); }
#define QEL_BOOL_PROPERTY(Name)                                                                 \
  HRESULT put_##Name(VARIANT_BOOL value) override { QEL_SLOT(engine_.Set##Name(value != 0)); } \
  HRESULT get_##Name(VARIANT_BOOL* value) override { QEL_SLOT(*Require(value) = ToVariantBool(engine_.Name())); }
