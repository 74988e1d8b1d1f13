// Automation objects over qeldata: Recordset, Connection, Fields and Field.
#include "qelcom/recordset_object.h"

#include <span>
#include <string>

#include "qelcom/dispatch_object.h"

namespace qelcom {
namespace {

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

// Reaches the member through the object's Call, which switches on the dispatch id.
template <class Object>
HRESULT CallObject(IDispatch* self, const Member& member, std::span<const Variant> args, Variant* result) {
  return static_cast<Object*>(self)->Call(member, args, result);
}

// The data objects: errors that carry no source of their own are the data layer's.
template <class Interface>
class DataObject : public DispatchObject<Interface> {
 protected:
  std::string_view ErrorSource() const override { return "qeldata"; }
};

constexpr InvokeKind kGet = INVOKE_PROPERTYGET;
constexpr InvokeKind kCall = INVOKE_FUNC;

class ConnectionObject final : public DataObject<IDispatch> {
 public:
  explicit ConnectionObject(std::shared_ptr<const qeldata::Connection> connection)
      : connection_(std::move(connection)) {}

  HRESULT Call(const Member&, std::span<const Variant>, Variant* result) {
    *result = Variant::String(connection_->ConnectionString());
    return S_OK;
  }

 protected:
  std::span<const Member> Members() const override {
    static const Member members[] = {{"ConnectionString", 0, kGet, VT_BSTR, &CallObject<ConnectionObject>}};
    return members;
  }

 private:
  std::shared_ptr<const qeldata::Connection> connection_;
};

class FieldObject final : public DataObject<IDispatch> {
 public:
  FieldObject(std::shared_ptr<qeldata::Recordset> rs, int ordinal) : rs_(std::move(rs)), ordinal_(ordinal) {}

  enum : DISPID { kValue = 0, kName = 1, kType = 2, kDefinedSize = 3, kAttributes = 4 };

  HRESULT Call(const Member& member, std::span<const Variant> args, Variant* result) {
    const DISPID id = member.dispid;
    qeldata::Field field = rs_->GetFields().Item(ordinal_);
    if (member.kind == INVOKE_PROPERTYPUT) {
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

 protected:
  std::span<const Member> Members() const override {
    constexpr MemberCall call = &CallObject<FieldObject>;
    static const Member members[] = {{"Value", kValue, kGet, VT_VARIANT, call},
                                     {"Value", kValue, INVOKE_PROPERTYPUT, VT_VARIANT, call},
                                     {"Name", kName, kGet, VT_BSTR, call},
                                     {"Type", kType, kGet, VT_I4, call},
                                     {"DefinedSize", kDefinedSize, kGet, VT_I4, call},
                                     {"Attributes", kAttributes, kGet, VT_I4, call}};
    return members;
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

  enum : DISPID { kItem = 0, kCount = 1 };

  HRESULT Call(const Member& member, std::span<const Variant> args, Variant* result) {
    if (member.dispid == kCount)
      *result = Variant::Int32(rs_->GetFields().Count());
    else
      *result = Variant::AttachObject(new FieldObject(rs_, FieldOrdinal(*rs_, args[0])));
    return S_OK;
  }

 protected:
  std::span<const Member> Members() const override {
    constexpr MemberCall call = &CallObject<FieldsObject>;
    static const Member members[] = {{"Item", kItem, kGet, VT_DISPATCH, call, 1, 1},
                                     {"Count", kCount, kGet, VT_I4, call}};
    return members;
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

  enum : DISPID {
    kFields = 0, kActiveConnection, kSource, kEOF, kBOF, kRecordCount, kAbsolutePosition, kCursorLocation,
    kCursorType, kLockType, kState, kMoveFirst, kMoveNext, kMoveLast, kMovePrevious, kClose, kClone, kCollect,
  };

  HRESULT Call(const Member& member, std::span<const Variant> args, Variant* result) {
    switch (member.dispid) {
      case kCollect: *result = ToVariant(rs_->GetFields().Item(FieldOrdinal(*rs_, args[0])).GetValue()); break;
      case kFields:
        if (args.empty())
          *result = Variant::AttachObject(new FieldsObject(rs_));
        else  // rs.Fields(name) as a shorthand for Fields.Item(name)
          *result = Variant::AttachObject(new FieldObject(rs_, FieldOrdinal(*rs_, args[0])));
        break;
      case kClone:
        if (args.empty()) {
          *result = Variant::AttachObject(WrapRecordset(rs_->Clone()));
        } else {
          Variant lock;
          if (Failed(args[0].ChangeType(VT_I4, &lock))) return DISP_E_TYPEMISMATCH;
          *result = Variant::AttachObject(WrapRecordset(rs_->Clone(lock.int32())));
        }
        break;
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
      default: return DISP_E_MEMBERNOTFOUND;
    }
    return S_OK;
  }

 protected:
  bool AlsoAnswers(REFIID iid) override { return iid == IID_IQelRecordset; }
  std::span<const Member> Members() const override {
    constexpr MemberCall call = &CallObject<RecordsetObject>;
    static const Member members[] = {
        {"Fields", kFields, kGet, VT_DISPATCH, call, 0, 1},
        {"ActiveConnection", kActiveConnection, kGet, VT_DISPATCH, call},
        {"Source", kSource, kGet, VT_BSTR, call},
        {"EOF", kEOF, kGet, VT_BOOL, call},
        {"BOF", kBOF, kGet, VT_BOOL, call},
        {"RecordCount", kRecordCount, kGet, VT_I4, call},
        {"AbsolutePosition", kAbsolutePosition, kGet, VT_I4, call},
        {"CursorLocation", kCursorLocation, kGet, VT_I4, call},
        {"CursorType", kCursorType, kGet, VT_I4, call},
        {"LockType", kLockType, kGet, VT_I4, call},
        {"State", kState, kGet, VT_I4, call},
        {"MoveFirst", kMoveFirst, kCall, VT_EMPTY, call},
        {"MoveNext", kMoveNext, kCall, VT_EMPTY, call},
        {"MoveLast", kMoveLast, kCall, VT_EMPTY, call},
        {"MovePrevious", kMovePrevious, kCall, VT_EMPTY, call},
        {"Close", kClose, kCall, VT_EMPTY, call},
        {"Clone", kClone, kCall, VT_DISPATCH, call, 0, 1},
        {"Collect", kCollect, kGet, VT_VARIANT, call, 1, 1},
    };
    return members;
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
