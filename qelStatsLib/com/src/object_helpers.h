// Slot bodies shared by the analysis objects: property access on the engine
// object `engine_`, run under Guard (own thread only, errors as HRESULTs).
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "qelcom/com_ptr.h"
#include "qelcom/recordset_object.h"
#include "qelcom/slot_members.h"
#include "qeldata/recordset.h"
#include "qelStatsLib/results.h"
#include "server.h"

namespace qel::com {

inline qelcom::BSTR AllocOrThrow(const std::string& text) {
  qelcom::BSTR s = qelcom::SysAllocString(text);
  if (!s) throw std::bad_alloc();
  return s;
}

inline qelcom::VARIANT_BOOL ToVariantBool(bool b) { return b ? qelcom::VARIANT_TRUE : qelcom::VARIANT_FALSE; }

// An unopened recordset on a connection: to an analysis, a source to open
// over `connection_string` rather than records to read.
inline std::shared_ptr<qeldata::Recordset> ConnectionTo(std::string connection_string) {
  auto recordset = std::make_shared<qeldata::Recordset>();
  recordset->SetActiveConnection(std::make_shared<const qeldata::Connection>(std::move(connection_string)));
  return recordset;
}

// The DataSource a host set, as the analysis sees it. A recordset object of
// ours reaches the engine as the recordset itself; any other object only
// through the connection string and source it reports.
struct DataSourceSlot {
  qelcom::ComPtr<qelcom::IDispatch> object;
  bool foreign_disconnected = false;  // someone else's in-memory recordset: unreadable here

  template <class Engine>
  void Set(Engine& engine, qelcom::IDispatch* value, const char* error_source) {
    object = qelcom::ComPtr<qelcom::IDispatch>(value);  // stored before anything can fail
    foreign_disconnected = false;
    if (!value) {
      engine.SetDataSource(nullptr);  // stores empty and raises "Object required"
      return;
    }
    if (std::shared_ptr<qeldata::Recordset> ours = qelcom::UnwrapRecordset(value)) {
      engine.SetDataSource(std::move(ours));  // copies a connection's string and source itself
      return;
    }
    // Someone else's object reaches the engine only as a connection to open.
    // Until it has said which, the engine holds a connection to what it would
    // open anyway, so that a recordset set before is forgotten even when
    // reading the object fails.
    std::string source = engine.Source();
    engine.SetDataSource(ConnectionTo(engine.ConnectionString()));
    engine.SetSource(std::move(source));
    const DataSourceReading reading = ReadDataSource(value, error_source);
    if (reading.connected) {
      engine.SetConnectionString(reading.connection_string);
      engine.SetSource(reading.source);
    } else {
      foreign_disconnected = true;
    }
  }

  void Get(qelcom::IDispatch** out) const {
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
  qelcom::ComPtr<qelcom::IDispatch> object;

  void Get(std::shared_ptr<qeldata::Recordset> current, qelcom::IDispatch** out) {
    if (!current) {
      table.reset();
      object.Reset();
      *out = nullptr;
      return;
    }
    if (current != table) {
      table = current;
      object = qelcom::ComPtr<qelcom::IDispatch>::Attach(qelcom::WrapRecordset(current));
    }
    *out = object.get();
    if (*out) (*out)->AddRef();
  }
};

// ---- Results ----

// The row called `name` of an analysis's result table, found while compiling:
// a name the table lacks does not build.
template <class Record, std::size_t N>
consteval const qel::ResultMember<Record>& ResultRow(const qel::ResultMember<Record> (&table)[N],
                                                     std::string_view name) {
  for (const qel::ResultMember<Record>& row : table)
    if (row.name == name) return row;
  throw "no result of that name";
}

// An analysis object: the engine object behind it, the result getters, which
// read the engine's results through the rows of its result table `Table`, and
// the properties every analysis interface has.
template <class Interface, class Engine, const auto& Table>
class AnalysisObject : public DualObject<Interface> {
 public:
  using Dual = Interface;
  using Record = std::remove_cvref_t<decltype(std::declval<const Engine&>().Results())>;
  using Row = qel::ResultMember<Record>;

  // The row of the result called `name`.
  static consteval const Row& Result(std::string_view name) { return ResultRow(Table, name); }

  // The body of every result getter, by slot and by dispatch alike.
  qelcom::HRESULT ReadResult(const Row& row, double* value) {
    return this->Guard([&] { *Require(value) = engine_.Results().*row.member; });
  }

  qelcom::HRESULT put_ConnectionString(const char* value) override {
    return this->Guard([&] { engine_.SetConnectionString(value ? value : ""); });
  }
  qelcom::HRESULT get_ConnectionString(qelcom::BSTR* value) override {
    return this->Guard([&] { *Require(value) = AllocOrThrow(engine_.ConnectionString()); });
  }
  qelcom::HRESULT put_Source(const char* value) override {
    return this->Guard([&] { engine_.SetSource(value ? value : ""); });
  }
  qelcom::HRESULT get_Source(qelcom::BSTR* value) override {
    return this->Guard([&] { *Require(value) = AllocOrThrow(engine_.Source()); });
  }
  qelcom::HRESULT put_WeightField(const char* value) override {
    return this->Guard([&] { engine_.SetWeightField(value ? value : ""); });
  }
  qelcom::HRESULT get_WeightField(qelcom::BSTR* value) override {
    return this->Guard([&] { *Require(value) = AllocOrThrow(engine_.WeightField()); });
  }
  qelcom::HRESULT put_showStatus(qelcom::VARIANT_BOOL value) override {
    return this->Guard([&] { engine_.SetshowStatus(value != 0); });
  }
  qelcom::HRESULT get_showStatus(qelcom::VARIANT_BOOL* value) override {
    return this->Guard([&] { *Require(value) = ToVariantBool(engine_.showStatus()); });
  }
  qelcom::HRESULT putref_DataSource(qelcom::IDispatch* value) override {
    return this->Guard([&] { data_source_.Set(engine_, value, this->Info().progid); });
  }
  qelcom::HRESULT get_DataSource(qelcom::IDispatch** value) override {
    return this->Guard([&] { data_source_.Get(Require(value)); });
  }

 protected:
  using DualObject<Interface>::DualObject;

  Engine engine_;
  DataSourceSlot data_source_;
};

// The member of a result property: its slot `Pmf`, its name from its row of
// the result table, and a dispatch call that reads the row itself.
template <auto Pmf, class Object>
qelcom::Member ResultGet(const typename Object::Row& row, qelcom::DISPID dispid, const char* help = nullptr) {
  qelcom::Member m = qelcom::SlotGet<Pmf>(row.name.data(), qelcom::VT_R8, dispid, help);
  m.data = &row;
  m.call = [](qelcom::IDispatch* self, const qelcom::Member& member, std::span<const qelcom::Variant>,
              qelcom::Variant* result) {
    Object* object = static_cast<Object*>(static_cast<typename Object::Dual*>(self));
    double value = 0;
    const qelcom::HRESULT hr = object->ReadResult(*static_cast<const typename Object::Row*>(member.data), &value);
    if (qelcom::Succeeded(hr) && result) *result = qelcom::Variant::Double(value);
    return hr;
  };
  return m;
}

}  // namespace qel::com

#define QEL_SLOT(body) return Guard([&] { body; })
#define QEL_STRING_PROPERTY(Name)                                                                            \
  qelcom::HRESULT put_##Name(const char* value) override { QEL_SLOT(engine_.Set##Name(value ? value : "")); } \
  qelcom::HRESULT get_##Name(qelcom::BSTR* value) override { QEL_SLOT(*Require(value) = AllocOrThrow(engine_.Name())); }
#define QEL_BOOL_PROPERTY(Name)                                                                                  \
  qelcom::HRESULT put_##Name(qelcom::VARIANT_BOOL value) override { QEL_SLOT(engine_.Set##Name(value != 0)); } \
  qelcom::HRESULT get_##Name(qelcom::VARIANT_BOOL* value) override {                                           \
    QEL_SLOT(*Require(value) = ToVariantBool(engine_.Name()));                                                   \
  }
