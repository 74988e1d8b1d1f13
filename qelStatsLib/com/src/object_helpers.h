// Slot bodies shared by the analysis objects: property access on the engine
// object `engine_`, run under Guard (own thread only, errors as HRESULTs).
#pragma once

#include <algorithm>
#include <cstddef>
#include <initializer_list>
#include <memory>
#include <new>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "qelcom/com_ptr.h"
#include "qelcom/recordset_object.h"
#include "qelcom/slot_members.h"
#include "qeldata/recordset.h"
#include "qelStatsLib/presenter.h"
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
  using Record = std::remove_cvref_t<decltype(std::declval<const Engine&>().Results())>;
  using Row = qel::ResultMember<Record>;

  // The row of the result called `name`.
  static consteval const Row& Result(std::string_view name) { return ResultRow(Table, name); }
  // The same, found at run time; nullptr when the table has no such row.
  static const Row* FindResultRow(std::string_view name) {
    for (const Row& row : Table)
      if (row.name == name) return &row;
    return nullptr;
  }

  // The body of every result getter, by slot and by dispatch alike.
  qelcom::HRESULT ReadResult(const Row& row, double* value) {
    return this->Guard([&] { *Require(value) = engine_.Results().*row.member; });
  }

  // The results every analysis interface publishes.
  qelcom::HRESULT get_N(double* value) override { return ReadResult(Result("N"), value); }
  qelcom::HRESULT get_Missing(double* value) override { return ReadResult(Result("Missing"), value); }
  qelcom::HRESULT get_Cardinality(double* value) override { return ReadResult(Result("Cardinality"), value); }

  // Run as the outlier and bivariate interfaces answer it: a boolean variant
  // telling whether the analysis produced its table. Failures go to the user
  // in a message box, never to the caller.
  qelcom::HRESULT RunShowingFailures(qelcom::Variant* result) {
    return this->Guard([&] {
      Require(result);
      bool ran = false;
      if (data_source_.foreign_disconnected)
        qel::CurrentPresenter().ShowMessage(std::string("Error: ") + DataSourceSlot::kForeignMessage);
      else
        ran = engine_.Run();
      *result = qelcom::Variant::Boolean(ran);
    });
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
  Engine engine_;
  DataSourceSlot data_source_;
};

// A univariate or outlier object: the descriptive results both interfaces
// publish, beside those of every analysis.
template <class Interface, class Engine, const auto& Table>
class DescriptiveObject : public AnalysisObject<Interface, Engine, Table> {
  using Base = AnalysisObject<Interface, Engine, Table>;

 public:
  qelcom::HRESULT get_WgtN(double* value) override { return this->ReadResult(Base::Result("WgtN"), value); }
  qelcom::HRESULT get_Sum(double* value) override { return this->ReadResult(Base::Result("Sum"), value); }
  qelcom::HRESULT get_Min(double* value) override { return this->ReadResult(Base::Result("Min"), value); }
  qelcom::HRESULT get_Max(double* value) override { return this->ReadResult(Base::Result("Max"), value); }
  qelcom::HRESULT get_Mean(double* value) override { return this->ReadResult(Base::Result("Mean"), value); }
  qelcom::HRESULT get_Variance(double* value) override { return this->ReadResult(Base::Result("Variance"), value); }
  qelcom::HRESULT get_Stdev(double* value) override { return this->ReadResult(Base::Result("Stdev"), value); }
  qelcom::HRESULT get_Q1(double* value) override { return this->ReadResult(Base::Result("Q1"), value); }
  qelcom::HRESULT get_Median(double* value) override { return this->ReadResult(Base::Result("Median"), value); }
  qelcom::HRESULT get_Q3(double* value) override { return this->ReadResult(Base::Result("Q3"), value); }
  qelcom::HRESULT get_TrimmedMean(double* value) override {
    return this->ReadResult(Base::Result("TrimmedMean"), value);
  }
};

// A new object of class `Object`, with one reference, as a class factory hands it out.
template <class Object>
qelcom::IUnknown* NewObject() {
  return static_cast<qelcom::IUnknown*>(static_cast<typename Object::Dual*>(new Object()));
}

// The members of an analysis interface, written in its slot order as the host
// header declares them. The dispatch ids are the type library's own numbering,
// so they are derived rather than written: the properties are numbered upward
// from `first_property`, starting with the last one in slot order (a getter
// and its setter share one id), and a method follows them all. Each row
// checks that its slot is the one the header gives it; a result getter, read
// straight from its row of the engine's result table, takes the next slot.
template <class Object>
class MemberTable {
  using I = typename Object::Dual;
  using Row = typename Object::Row;

 public:
  explicit MemberTable(qelcom::DISPID first_property) : first_property_(first_property) {}

  // Result getters `get_X(double*)`, in slot order, under their names in the result table.
  MemberTable& Results(std::initializer_list<std::string_view> names) {
    for (std::string_view name : names) {
      const Row* row = Object::FindResultRow(name);
      if (!row) throw std::logic_error("no result " + std::string(name) + " in the result table");
      qelcom::Member m;
      m.name = row->name.data();  // the table's literals end in a null
      m.kind = qelcom::INVOKE_PROPERTYGET;
      m.type = qelcom::VT_R8;
      m.data = row;
      m.call = [](qelcom::IDispatch* self, const qelcom::Member& member, std::span<const qelcom::Variant>,
                  qelcom::Variant* result) {
        Object* object = static_cast<Object*>(static_cast<I*>(self));
        double value = 0;
        const qelcom::HRESULT hr = object->ReadResult(*static_cast<const Row*>(member.data), &value);
        if (qelcom::Succeeded(hr) && result) *result = qelcom::Variant::Double(value);
        return hr;
      };
      m.slot = kFirstSlot + members_.size();
      members_.push_back(m);
    }
    return *this;
  }
  // A property with a setter and a getter: `put_X(T)`, `get_X(T*)`.
  template <auto Put, auto Get>
  MemberTable& Property(const char* name, qelcom::VarType type) {
    return Add(qelcom::SlotLet<Put>(name, type, 0)).Add(qelcom::SlotGet<Get>(name, type, 0));
  }
  template <auto Get>
  MemberTable& Getter(const char* name, qelcom::VarType type) {
    return Add(qelcom::SlotGet<Get>(name, type, 0));
  }
  template <auto Put>
  MemberTable& Setter(const char* name, qelcom::VarType type) {
    return Add(qelcom::SlotLet<Put>(name, type, 0));
  }
  template <auto Run>
  MemberTable& Method(const char* name, qelcom::VarType type) {
    return Add(qelcom::SlotMethod<Run>(name, type, 0));
  }

  // The properties every analysis interface has, under the same slot names.
  MemberTable& ConnectionAndStatus() {
    return Property<&I::put_ConnectionString, &I::get_ConnectionString>("ConnectionString", qelcom::VT_BSTR)
        .template Property<&I::put_showStatus, &I::get_showStatus>("showStatus", qelcom::VT_BOOL);
  }
  MemberTable& WeightField() {
    return Property<&I::put_WeightField, &I::get_WeightField>("WeightField", qelcom::VT_BSTR);
  }
  MemberTable& ResultSet() { return Getter<&I::get_ResultSet>("ResultSet", qelcom::VT_DISPATCH); }
  MemberTable& SourceAndDataSource() {
    Property<&I::put_Source, &I::get_Source>("Source", qelcom::VT_BSTR);
    Add(qelcom::SlotSet<&I::putref_DataSource>("DataSource", 0));
    return Getter<&I::get_DataSource>("DataSource", qelcom::VT_DISPATCH);
  }

  // The slots the univariate and outlier interfaces end with: the analysed
  // field's name (`PutField`, `GetField`), Cardinality, N, Missing, the
  // connection and status, Run (answering a `run_type`), the result table
  // when the interface has one, the weight field, the source and the data source.
  template <auto PutField, auto GetField>
  MemberTable& DescriptiveTail(const char* field, qelcom::VarType run_type) {
    Property<PutField, GetField>(field, qelcom::VT_BSTR)
        .Results({"Cardinality", "N", "Missing"})
        .ConnectionAndStatus()
        .template Method<&I::Run>("Run", run_type);
    if constexpr (requires { &I::get_ResultSet; }) ResultSet();
    return WeightField().SourceAndDataSource();
  }

  // Help texts by member name (both halves of a property share theirs).
  MemberTable& Help(std::span<const std::pair<std::string_view, const char*>> texts) {
    for (qelcom::Member& m : members_)
      for (const auto& [name, text] : texts)
        if (name == m.name) m.help = text;
    return *this;
  }

  // The rows with their dispatch ids.
  std::vector<qelcom::Member> Numbered() {
    std::vector<std::string_view> properties;  // in reverse slot order
    for (auto m = members_.rbegin(); m != members_.rend(); ++m) {
      const bool listed = std::find(properties.begin(), properties.end(), m->name) != properties.end();
      if (m->kind != qelcom::INVOKE_FUNC && !listed) properties.push_back(m->name);
    }
    const qelcom::DISPID first_method = kFirstMethod + (first_property_ - kFirstPropertyId) +
                                        static_cast<qelcom::DISPID>(properties.size());
    qelcom::DISPID next_method = first_method;
    for (qelcom::Member& m : members_) {
      if (m.kind == qelcom::INVOKE_FUNC) {
        m.dispid = next_method++;
      } else {
        const auto at = std::find(properties.begin(), properties.end(), std::string_view(m.name));
        m.dispid = first_property_ + static_cast<qelcom::DISPID>(at - properties.begin());
      }
    }
    return members_;
  }

 private:
  static constexpr std::size_t kFirstSlot = 7;  // after IUnknown's and IDispatch's own
  static constexpr qelcom::DISPID kFirstPropertyId = static_cast<qelcom::DISPID>(0x68030000);
  static constexpr qelcom::DISPID kFirstMethod = static_cast<qelcom::DISPID>(0x60030000);

  MemberTable& Add(qelcom::Member m) {
    if (m.slot != kFirstSlot + members_.size())
      throw std::logic_error(std::string("member ") + m.name + " is out of its slot order");
    members_.push_back(m);
    return *this;
  }

  qelcom::DISPID first_property_;
  std::vector<qelcom::Member> members_;
};

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
