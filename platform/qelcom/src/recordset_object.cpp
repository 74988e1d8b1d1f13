// Automation objects over qeldata: Recordset, Connection, Fields and Field.
#include "qelcom/recordset_object.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "qelcom/error_info.h"
#include "qelcom/object_base.h"
#include "names.h"

namespace qelcom {
namespace {

using detail::EqualsNoCase;

Variant ToVariant(const qeldata::Value& value) {
  switch (value.kind()) {
    case qeldata::Value::Kind::kNull: return Variant::Null();
    case qeldata::Value::Kind::kNumber: return Variant::Double(value.number());
    case qeldata::Value::Kind::kText: return Variant::String(value.text());
    case qeldata::Value::Kind::kDate: return Variant::Date(value.date().ToSerial());
    case qeldata::Value::Kind::kBoolean: return Variant::Boolean(value.boolean());
  }
  return Variant();
}

// A member reachable by name: its dispatch id and the kinds of call it takes.
struct Member {
  const char* name;
  DISPID id;
  std::uint16_t flags;  // DISPATCH_* it accepts
};

// Reference counting, the owning thread and name lookup for the data objects.
// Subclasses answer Call() with the arguments in natural order.
template <class Interface>
class DataObject : public ObjectBase<Interface> {
 public:
  HRESULT GetTypeInfoCount(std::uint32_t* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(std::uint32_t, LCID, ITypeInfo** info) override {
    if (info) *info = nullptr;
    return TYPE_E_ELEMENTNOTFOUND;
  }
  HRESULT GetIDsOfNames(REFIID, const char* const* names, std::uint32_t count, LCID, DISPID* ids) override {
    if (!OnOwnerThread()) return RPC_E_WRONG_THREAD;
    if ((!names || !ids) && count) return E_POINTER;
    HRESULT hr = S_OK;
    for (std::uint32_t i = 0; i < count; ++i) {
      ids[i] = DISPID_UNKNOWN;
      for (const Member& m : Members())
        if (names[i] && EqualsNoCase(names[i], m.name)) ids[i] = m.id;
      if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
  }
  HRESULT Invoke(DISPID id, REFIID, LCID, std::uint16_t flags, DispParams* params, Variant* result,
                 ExcepInfo* excep, std::uint32_t*) override {
    if (!OnOwnerThread()) return RPC_E_WRONG_THREAD;
    const Member* member = nullptr;
    for (const Member& m : Members())
      if (m.id == id) member = &m;
    if (!member || !(member->flags & flags)) return DISP_E_MEMBERNOTFOUND;
    std::vector<Variant> args;
    if (params) {
      for (std::uint32_t i = params->cArgs; i-- > 0;) args.push_back(params->rgvarg[i]);
    }
    Variant value;
    try {
      HRESULT hr = Call(id, flags, args, &value);
      if (Succeeded(hr) && result) *result = std::move(value);
      return hr;
    } catch (const qeldata::Error& e) {
      SetErrorInfo(e.number(), e.source(), e.description());
      if (excep) {
        excep->scode = e.number();
        excep->bstrSource = SysAllocString(e.source());
        excep->bstrDescription = SysAllocString(e.description());
      }
      return DISP_E_EXCEPTION;
    } catch (const std::exception& e) {
      SetErrorInfo(E_FAIL, "qeldata", e.what());
      if (excep) {
        excep->scode = E_FAIL;
        excep->bstrSource = SysAllocString("qeldata");
        excep->bstrDescription = SysAllocString(e.what());
      }
      return DISP_E_EXCEPTION;
    }
  }

 protected:
  DataObject() = default;
  virtual ~DataObject() = default;
  virtual bool Extra(REFIID) { return false; }
  bool Answers(REFIID iid) override { return iid == IID_IDispatch || Extra(iid); }
  virtual const std::vector<Member>& Members() const = 0;
  virtual HRESULT Call(DISPID id, std::uint16_t flags, const std::vector<Variant>& args, Variant* result) = 0;
  // Objects answer only on the thread that made them (the apartment rule).
  bool OnOwnerThread() const { return std::this_thread::get_id() == owner_; }

 private:
  std::thread::id owner_ = std::this_thread::get_id();
};

HRESULT ExpectArgs(const std::vector<Variant>& args, std::size_t n) {
  return args.size() == n ? S_OK : DISP_E_BADPARAMCOUNT;
}

class ConnectionObject final : public DataObject<IDispatch> {
 public:
  explicit ConnectionObject(std::shared_ptr<const qeldata::Connection> connection)
      : connection_(std::move(connection)) {}

 protected:
  const std::vector<Member>& Members() const override {
    static const std::vector<Member> members{{"ConnectionString", 0, DISPATCH_PROPERTYGET | DISPATCH_METHOD}};
    return members;
  }
  HRESULT Call(DISPID, std::uint16_t, const std::vector<Variant>& args, Variant* result) override {
    if (HRESULT hr = ExpectArgs(args, 0); Failed(hr)) return hr;
    *result = Variant::String(connection_->ConnectionString());
    return S_OK;
  }

 private:
  std::shared_ptr<const qeldata::Connection> connection_;
};

class FieldObject final : public DataObject<IDispatch> {
 public:
  FieldObject(std::shared_ptr<qeldata::Recordset> rs, int ordinal) : rs_(std::move(rs)), ordinal_(ordinal) {}

 protected:
  enum : DISPID { kValue = 0, kName = 1, kType = 2, kDefinedSize = 3, kAttributes = 4 };
  const std::vector<Member>& Members() const override {
    constexpr std::uint16_t get = DISPATCH_PROPERTYGET | DISPATCH_METHOD;
    static const std::vector<Member> members{{"Value", kValue, get | DISPATCH_PROPERTYPUT},
                                             {"Name", kName, get},
                                             {"Type", kType, get},
                                             {"DefinedSize", kDefinedSize, get},
                                             {"Attributes", kAttributes, get}};
    return members;
  }
  HRESULT Call(DISPID id, std::uint16_t flags, const std::vector<Variant>& args, Variant* result) override {
    qeldata::Field field = rs_->GetFields().Item(ordinal_);
    if (id == kValue && (flags & DISPATCH_PROPERTYPUT)) {
      if (HRESULT hr = ExpectArgs(args, 1); Failed(hr)) return hr;
      const Variant& v = args[0];
      switch (v.type()) {
        case VT_NULL:
        case VT_EMPTY: field.SetValue(qeldata::Value::Null()); break;
        case VT_BSTR: field.SetValue(qeldata::Value(std::string(v.bstr()))); break;
        case VT_BOOL: field.SetValue(qeldata::Value::Boolean(v.boolean() != 0)); break;
        default: {
          Variant d;
          if (Failed(v.ChangeType(VT_R8, &d))) return DISP_E_TYPEMISMATCH;
          field.SetValue(qeldata::Value(d.dbl()));
        }
      }
      return S_OK;
    }
    if (HRESULT hr = ExpectArgs(args, 0); Failed(hr)) return hr;
    switch (id) {
      case kValue: *result = ToVariant(field.GetValue()); break;
      case kName: *result = Variant::String(field.Name()); break;
      case kType: *result = Variant::Int32(field.Type()); break;
      case kDefinedSize: *result = Variant::Int32(field.DefinedSize()); break;
      case kAttributes: *result = Variant::Int32(field.Attributes()); break;
      default: return DISP_E_MEMBERNOTFOUND;
    }
    return S_OK;
  }

 private:
  std::shared_ptr<qeldata::Recordset> rs_;
  int ordinal_;
};

// Item(index or name): an ordinal for a number, a field name for a text.
int FieldOrdinal(const qeldata::Recordset& rs, const Variant& key) {
  const qeldata::Fields fields = rs.GetFields();
  if (key.type() == VT_BSTR) return fields.Item(std::string_view(key.bstr())).Ordinal();
  Variant index;
  if (Failed(key.ChangeType(VT_I4, &index)))
    throw qeldata::Error(qeldata::kErrItemNotFound, "qeldata", "Field index must be a number or a name");
  return fields.Item(index.int32()).Ordinal();
}

class FieldsObject final : public DataObject<IDispatch> {
 public:
  explicit FieldsObject(std::shared_ptr<qeldata::Recordset> rs) : rs_(std::move(rs)) {}

 protected:
  enum : DISPID { kItem = 0, kCount = 1 };
  const std::vector<Member>& Members() const override {
    constexpr std::uint16_t get = DISPATCH_PROPERTYGET | DISPATCH_METHOD;
    static const std::vector<Member> members{{"Item", kItem, get}, {"Count", kCount, get}};
    return members;
  }
  HRESULT Call(DISPID id, std::uint16_t, const std::vector<Variant>& args, Variant* result) override {
    if (id == kCount) {
      if (HRESULT hr = ExpectArgs(args, 0); Failed(hr)) return hr;
      *result = Variant::Int32(rs_->GetFields().Count());
      return S_OK;
    }
    if (HRESULT hr = ExpectArgs(args, 1); Failed(hr)) return hr;
    *result = Variant::AttachObject(new FieldObject(rs_, FieldOrdinal(*rs_, args[0])));
    return S_OK;
  }

 private:
  std::shared_ptr<qeldata::Recordset> rs_;
};

class RecordsetObject final : public DataObject<IQelRecordset> {
 public:
  explicit RecordsetObject(std::shared_ptr<qeldata::Recordset> rs) : rs_(std::move(rs)) {}

  HRESULT GetRecordset(std::shared_ptr<qeldata::Recordset>* recordset) override {
    if (!recordset) return E_POINTER;
    *recordset = rs_;
    return S_OK;
  }

 protected:
  enum : DISPID {
    kFields = 0, kActiveConnection, kSource, kEOF, kBOF, kRecordCount, kAbsolutePosition, kCursorLocation,
    kCursorType, kLockType, kState, kMoveFirst, kMoveNext, kMoveLast, kMovePrevious, kClose, kClone, kCollect,
  };
  bool Extra(REFIID iid) override { return iid == IID_IQelRecordset; }
  const std::vector<Member>& Members() const override {
    constexpr std::uint16_t get = DISPATCH_PROPERTYGET | DISPATCH_METHOD;
    constexpr std::uint16_t call = DISPATCH_METHOD;
    static const std::vector<Member> members{
        {"Fields", kFields, get},         {"ActiveConnection", kActiveConnection, get},
        {"Source", kSource, get},         {"EOF", kEOF, get},
        {"BOF", kBOF, get},               {"RecordCount", kRecordCount, get},
        {"AbsolutePosition", kAbsolutePosition, get}, {"CursorLocation", kCursorLocation, get},
        {"CursorType", kCursorType, get}, {"LockType", kLockType, get},
        {"State", kState, get},           {"MoveFirst", kMoveFirst, call},
        {"MoveNext", kMoveNext, call},    {"MoveLast", kMoveLast, call},
        {"MovePrevious", kMovePrevious, call}, {"Close", kClose, call},
        {"Clone", kClone, call},          {"Collect", kCollect, get},
    };
    return members;
  }
  HRESULT Call(DISPID id, std::uint16_t, const std::vector<Variant>& args, Variant* result) override {
    if (id == kCollect) {
      if (HRESULT hr = ExpectArgs(args, 1); Failed(hr)) return hr;
      *result = ToVariant(rs_->GetFields().Item(FieldOrdinal(*rs_, args[0])).GetValue());
      return S_OK;
    }
    if (id == kFields && args.size() == 1) {  // rs.Fields(name) as a shorthand for Fields.Item(name)
      *result = Variant::AttachObject(new FieldObject(rs_, FieldOrdinal(*rs_, args[0])));
      return S_OK;
    }
    if (id == kClone && args.size() == 1) {
      Variant lock;
      if (Failed(args[0].ChangeType(VT_I4, &lock))) return DISP_E_TYPEMISMATCH;
      *result = Variant::AttachObject(WrapRecordset(rs_->Clone(lock.int32())));
      return S_OK;
    }
    if (HRESULT hr = ExpectArgs(args, 0); Failed(hr)) return hr;
    switch (id) {
      case kFields: *result = Variant::AttachObject(new FieldsObject(rs_)); break;
      case kActiveConnection:
        if (auto connection = rs_->ActiveConnection())
          *result = Variant::AttachObject(new ConnectionObject(std::move(connection)));
        else
          *result = Variant::Object(nullptr);
        break;
      case kSource: *result = Variant::String(rs_->Source()); break;
      case kEOF: *result = Variant::Boolean(rs_->IsEOF()); break;
      case kBOF: *result = Variant::Boolean(rs_->IsBOF()); break;
      case kRecordCount: *result = Variant::Int32(static_cast<std::int32_t>(rs_->RecordCount())); break;
      case kAbsolutePosition: *result = Variant::Int32(static_cast<std::int32_t>(rs_->AbsolutePosition() + 1)); break;
      case kCursorLocation: *result = Variant::Int32(rs_->CursorLocation()); break;
      case kCursorType: *result = Variant::Int32(rs_->CursorType()); break;
      case kLockType: *result = Variant::Int32(rs_->LockType()); break;
      case kState: *result = Variant::Int32(rs_->IsOpen() ? 1 : 0); break;
      case kMoveFirst: rs_->MoveFirst(); break;
      case kMoveNext: rs_->MoveNext(); break;
      case kMoveLast: rs_->MoveLast(); break;
      case kMovePrevious: rs_->MovePrevious(); break;
      case kClose: rs_->Close(); break;
      case kClone: *result = Variant::AttachObject(WrapRecordset(rs_->Clone())); break;
      default: return DISP_E_MEMBERNOTFOUND;
    }
    return S_OK;
  }

 private:
  std::shared_ptr<qeldata::Recordset> rs_;
};

}  // namespace

IDispatch* WrapRecordset(std::shared_ptr<qeldata::Recordset> recordset) {
  if (!recordset) return nullptr;
  return new RecordsetObject(std::move(recordset));
}

std::shared_ptr<qeldata::Recordset> UnwrapRecordset(IUnknown* object) {
  if (!object) return nullptr;
  void* p = nullptr;
  if (Failed(object->QueryInterface(IID_IQelRecordset, &p)) || !p) return nullptr;
  auto* rs = static_cast<IQelRecordset*>(p);
  std::shared_ptr<qeldata::Recordset> out;
  rs->GetRecordset(&out);
  rs->Release();
  return out;
}

}  // namespace qelcom
