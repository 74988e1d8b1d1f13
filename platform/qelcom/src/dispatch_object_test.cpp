// Dispatch over a member table: names, ids, argument counts, order and types,
// errors as exceptions of the call, and the owning thread.
#include "qelcom/dispatch_object.h"

#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "qelcom/dispatch.h"
#include "qelcom/error_info.h"
#include "qelcom/recordset_object.h"
#include "qelcom/slot_members.h"
#include "qeldata/error.h"

namespace {

using namespace qelcom;

// A dual interface in the property style of the library's classes.
class ISample : public IDispatch {
 public:
  virtual HRESULT get_Value(double* value) = 0;
  virtual HRESULT put_Value(double value) = 0;
  virtual HRESULT put_Name(const char* value) = 0;
  virtual HRESULT get_Name(BSTR* value) = 0;
  virtual HRESULT put_Count(std::int16_t value) = 0;
  virtual HRESULT put_Flag(VARIANT_BOOL value) = 0;
  virtual HRESULT get_Flag(VARIANT_BOOL* value) = 0;
  virtual HRESULT putref_Source(IDispatch* value) = 0;
  virtual HRESULT Subtract(double* a, double* b, double* result) = 0;
  virtual HRESULT Raise(VARIANT_BOOL* result) = 0;

 protected:
  ~ISample() = default;
};

const char* const kSubtractArgs[] = {"a", "b"};

class Sample final : public DispatchObject<ISample> {
 public:
  HRESULT get_Value(double* value) override { return Guard([&] { *value = value_; }); }
  HRESULT put_Value(double value) override { return Guard([&] { value_ = value; }); }
  HRESULT put_Name(const char* value) override { return Guard([&] { name_ = value; }); }
  HRESULT get_Name(BSTR* value) override { return Guard([&] { *value = SysAllocString(name_); }); }
  HRESULT put_Count(std::int16_t value) override { return Guard([&] { count_ = value; }); }
  HRESULT put_Flag(VARIANT_BOOL value) override { return Guard([&] { flag_ = value; }); }
  HRESULT get_Flag(VARIANT_BOOL* value) override { return Guard([&] { *value = flag_; }); }
  HRESULT putref_Source(IDispatch* value) override { return Guard([&] { source_set_ = value != nullptr; }); }
  HRESULT Subtract(double* a, double* b, double* result) override { return Guard([&] { *result = *a - *b; }); }
  HRESULT Raise(VARIANT_BOOL*) override {
    return Guard([&] {
      if (raise_library_error_) throw qeldata::Error(0x800403E8, "Sample Checks", "Value is missing or blank.");
      throw std::runtime_error("Something broke");
    });
  }

  // Reached by dispatch only, and throwing rather than returning its failure.
  static HRESULT Explode(IDispatch*, const Member&, std::span<const Variant>, Variant*) {
    throw ComError(E_INVALIDARG, "Sample", "Exploded");
  }

  std::span<const Member> Members() const override {
    using I = ISample;
    static const Member members[] = {
        SlotGet<&I::get_Value>("Value", VT_R8, 1),
        SlotLet<&I::put_Value>("Value", VT_R8, 1),
        SlotLet<&I::put_Name>("Name", VT_BSTR, 2, "The sample's name"),
        SlotGet<&I::get_Name>("Name", VT_BSTR, 2, "The sample's name"),
        SlotLet<&I::put_Count>("Count", VT_I2, 3),
        SlotLet<&I::put_Flag>("Flag", VT_BOOL, 4),
        SlotGet<&I::get_Flag>("Flag", VT_BOOL, 4),
        SlotSet<&I::putref_Source>("Source", 5),
        SlotMethod<&I::Subtract>("Subtract", VT_R8, 6, nullptr, kSubtractArgs),
        SlotMethod<&I::Raise>("Raise", VT_BOOL, 7),
        {"Explode", 8, INVOKE_FUNC, VT_EMPTY, &Explode},
    };
    return members;
  }
  std::string_view ErrorSource() const override { return "SampleLib"; }

  bool raise_library_error_ = true;
  double value_ = 0;
  std::string name_;
  std::int16_t count_ = 0;
  VARIANT_BOOL flag_ = VARIANT_FALSE;
  bool source_set_ = false;
};

class DispatchObjectTest : public ::testing::Test {
 protected:
  void TearDown() override {
    sample_->Release();
    ClearErrorInfo();
  }
  // Invoke by id with arguments in automation order (last first).
  HRESULT Call(DISPID id, std::uint16_t flags, std::vector<Variant> reversed, Variant* result = nullptr,
               ExcepInfo* excep = nullptr, bool named_put = false) {
    DispParams params;
    DISPID put = DISPID_PROPERTYPUT;
    params.rgvarg = reversed.data();
    params.cArgs = static_cast<std::uint32_t>(reversed.size());
    if (named_put) {
      params.rgdispidNamedArgs = &put;
      params.cNamedArgs = 1;
    }
    arg_err_ = 99;
    return sample_->Invoke(id, GUID_NULL, 0, flags, &params, result, excep, &arg_err_);
  }

  Sample* sample_ = new Sample;
  std::uint32_t arg_err_ = 0;
};

TEST_F(DispatchObjectTest, TheTableGivesEachRowItsSlotInDeclarationOrder) {
  const std::span<const Member> members = sample_->Members();
  for (std::size_t i = 0; i + 1 < members.size(); ++i) {
    SCOPED_TRACE(members[i].name);
    EXPECT_EQ(members[i].slot, 7 + i) << "IUnknown and IDispatch take slots 0 to 6";
  }
  EXPECT_EQ(members.back().slot, 0u) << "a member reached by dispatch only";
  const Member& subtract = members[8];
  EXPECT_EQ(subtract.kind, INVOKE_FUNC);
  EXPECT_EQ(subtract.min_args, 2);
  EXPECT_EQ(subtract.max_args, 2);
  EXPECT_STREQ(subtract.param_names[1], "b");
  EXPECT_EQ(subtract.param_types[1], VT_R8);
  EXPECT_EQ(members[9].max_args, 0) << "Raise's pointer is its result, not an argument";
  EXPECT_EQ(members[2].kind, INVOKE_PROPERTYPUT);
  EXPECT_EQ(members[7].kind, INVOKE_PROPERTYPUTREF);
  EXPECT_EQ(members[7].type, VT_DISPATCH);
}

TEST_F(DispatchObjectTest, NamesMatchIgnoringAsciiCaseAndOnlyTheFirstIsAMember) {
  DISPID ids[2] = {0, 0};
  const char* value[] = {"vALUE"};
  EXPECT_EQ(sample_->GetIDsOfNames(GUID_NULL, value, 1, 0, ids), S_OK);
  EXPECT_EQ(ids[0], 1);
  // Only ASCII letters fold: a name that differs beyond them is another name.
  for (const char* other : {"Valuе" /* Cyrillic e */, "Value ", "Valu", ""}) {
    const char* names[] = {other};
    EXPECT_EQ(sample_->GetIDsOfNames(GUID_NULL, names, 1, 0, ids), DISP_E_UNKNOWNNAME) << other;
    EXPECT_EQ(ids[0], DISPID_UNKNOWN);
  }
  // Argument names are not taken by name.
  const char* with_arg[] = {"Subtract", "a"};
  EXPECT_EQ(sample_->GetIDsOfNames(GUID_NULL, with_arg, 2, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 6);
  EXPECT_EQ(ids[1], DISPID_UNKNOWN);
  EXPECT_EQ(sample_->GetIDsOfNames(GUID_NULL, nullptr, 0, 0, nullptr), S_OK);
  EXPECT_EQ(sample_->GetIDsOfNames(GUID_NULL, nullptr, 1, 0, ids), E_POINTER);
}

TEST_F(DispatchObjectTest, CallsReachTheirSlotWithArgumentsInNaturalOrder) {
  PutProperty(sample_, "Value", Variant::String(" 12.5 "));
  EXPECT_EQ(sample_->value_, 12.5) << "a numeric text converts to the slot's double";
  EXPECT_EQ(GetProperty(sample_, "value").dbl(), 12.5);
  PutProperty(sample_, "Name", Variant::Int32(42));
  EXPECT_EQ(GetProperty(sample_, "Name").AsString(), "42");
  PutProperty(sample_, "Flag", Variant::String("true"));
  const Variant flag = GetProperty(sample_, "Flag");
  EXPECT_EQ(flag.type(), VT_BOOL);
  EXPECT_EQ(flag.boolean(), VARIANT_TRUE);
  const Variant difference = CallMethod(sample_, "Subtract", {Variant::Double(10), Variant::String("4")});
  EXPECT_EQ(difference.dbl(), 6.0) << "10 - 4, not 4 - 10";
  // An object assigned without Set reaches the object setter.
  IDispatch* other = new Sample;
  PutProperty(sample_, "Source", Variant::Object(other));
  EXPECT_TRUE(sample_->source_set_);
  other->Release();
  // A get may be called as a method and a method as a get.
  Variant result;
  EXPECT_EQ(Call(1, DISPATCH_METHOD, {}, &result), S_OK);
  EXPECT_EQ(result.dbl(), 12.5);
}

TEST_F(DispatchObjectTest, WrongCallsAreRefusedBeforeReachingASlot) {
  Variant result;
  EXPECT_EQ(Call(99, DISPATCH_PROPERTYGET, {}), DISP_E_MEMBERNOTFOUND) << "no such id";
  EXPECT_EQ(Call(5, DISPATCH_PROPERTYGET, {}), DISP_E_MEMBERNOTFOUND) << "Source has no getter";
  EXPECT_EQ(Call(3, DISPATCH_PROPERTYGET, {}), DISP_E_MEMBERNOTFOUND) << "Count has no getter";
  EXPECT_EQ(Call(1, DISPATCH_PROPERTYGET, {Variant::Double(1)}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(1, DISPATCH_PROPERTYPUT, {}, nullptr, nullptr, true), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(1, DISPATCH_PROPERTYPUT, {Variant::Double(1), Variant::Double(2)}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(6, DISPATCH_METHOD, {Variant::Double(1)}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(6, DISPATCH_METHOD, {Variant::Double(1), Variant::Double(2), Variant::Double(3)}),
            DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(6, DISPATCH_METHOD, {Variant::Double(1), Variant::Double(2)}, &result, nullptr, true),
            DISP_E_NONAMEDARGS);
  DispParams missing;
  missing.cArgs = 1;
  EXPECT_EQ(sample_->Invoke(1, GUID_NULL, 0, DISPATCH_PROPERTYPUT, &missing, nullptr, nullptr, nullptr),
            E_INVALIDARG);
  EXPECT_EQ(sample_->value_, 0.0) << "nothing reached the slot";
}

TEST_F(DispatchObjectTest, ValuesOfTheWrongTypeOrSizeAreTypeMismatchesOrOverflows) {
  EXPECT_EQ(Call(1, DISPATCH_PROPERTYPUT, {Variant::String("12abc")}, nullptr, nullptr, true), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(arg_err_, 0u);
  EXPECT_EQ(Call(1, DISPATCH_PROPERTYPUT, {Variant::Null()}, nullptr, nullptr, true), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Call(3, DISPATCH_PROPERTYPUT, {Variant::Int32(40000)}, nullptr, nullptr, true), DISP_E_OVERFLOW);
  EXPECT_EQ(arg_err_, 0u);
  EXPECT_EQ(Call(3, DISPATCH_PROPERTYPUT, {Variant::Double(-32768.4)}, nullptr, nullptr, true), S_OK);
  EXPECT_EQ(sample_->count_, -32768);
  IDispatch* other = new Sample;
  EXPECT_EQ(Call(1, DISPATCH_PROPERTYPUT, {Variant::Object(other)}, nullptr, nullptr, true), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Call(5, DISPATCH_PROPERTYPUTREF, {Variant::Double(1)}, nullptr, nullptr, true), DISP_E_TYPEMISMATCH);
  other->Release();
  EXPECT_EQ(Call(6, DISPATCH_METHOD, {Variant::String("x"), Variant::Double(1)}), DISP_E_TYPEMISMATCH);
}

TEST_F(DispatchObjectTest, ARaisedErrorTravelsAsAnExceptionOfTheCall) {
  ExcepInfo excep;
  Variant result;
  EXPECT_EQ(Call(7, DISPATCH_METHOD, {}, &result, &excep), DISP_E_EXCEPTION);
  EXPECT_EQ(excep.scode, static_cast<HRESULT>(0x800403E8));
  EXPECT_STREQ(excep.bstrSource, "Sample Checks");
  EXPECT_STREQ(excep.bstrDescription, "Value is missing or blank.");
  ClearExcepInfo(&excep);
  std::optional<ErrorInfo> info = GetErrorInfo();
  ASSERT_TRUE(info);
  EXPECT_EQ(info->number, static_cast<HRESULT>(0x800403E8));

  // Any other exception is E_FAIL under the object's own source.
  sample_->raise_library_error_ = false;
  try {
    CallMethod(sample_, "Raise");
    FAIL() << "expected an error";
  } catch (const ComError& e) {
    EXPECT_EQ(e.hr(), E_FAIL);
    EXPECT_EQ(e.source(), "SampleLib");
    EXPECT_EQ(e.description(), "Something broke");
  }
  // A member that throws instead of returning is caught by Invoke itself.
  EXPECT_EQ(Call(8, DISPATCH_METHOD, {}, &result, &excep), DISP_E_EXCEPTION);
  EXPECT_EQ(excep.scode, E_INVALIDARG);
  EXPECT_STREQ(excep.bstrDescription, "Exploded");
  ClearExcepInfo(&excep);
  // A call that succeeds leaves no stale error behind.
  SetErrorInfo(E_FAIL, "earlier", "earlier failure");
  EXPECT_EQ(Call(1, DISPATCH_PROPERTYGET, {}, &result), S_OK);
  EXPECT_FALSE(PeekErrorInfo());
}

TEST_F(DispatchObjectTest, OtherThreadsAreRefusedByNameByIdAndBySlot) {
  HRESULT by_name = S_OK, by_id = S_OK, by_slot = S_OK;
  std::thread([&] {
    const char* names[] = {"Value"};
    DISPID id = 0;
    by_name = sample_->GetIDsOfNames(GUID_NULL, names, 1, 0, &id);
    DispParams none;
    Variant result;
    by_id = sample_->Invoke(1, GUID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr);
    by_slot = sample_->put_Value(3);
  }).join();
  EXPECT_EQ(by_name, RPC_E_WRONG_THREAD);
  EXPECT_EQ(by_id, RPC_E_WRONG_THREAD);
  EXPECT_EQ(by_slot, RPC_E_WRONG_THREAD);
  EXPECT_EQ(sample_->value_, 0.0);
  void* p = nullptr;
  EXPECT_EQ(sample_->QueryInterface(IID_IDispatch, &p), S_OK) << "reference counting works from anywhere";
  static_cast<IDispatch*>(p)->Release();
}

// The recordset objects use the same dispatcher, with optional arguments.
TEST(RecordsetDispatch, CountsOptionalArgumentsAndReportsDataErrors) {
  auto rs = std::make_shared<qeldata::Recordset>();
  rs->GetFields().Append("Salary", qeldata::adDouble);
  rs->Open();
  rs->AddNew();
  rs->SetCollect("Salary", qeldata::Value(1250.0));
  rs->Update();
  rs->MoveFirst();
  IDispatch* object = WrapRecordset(rs);
  auto refused = [&](const char* name, std::initializer_list<Variant> args) {
    try {
      CallMethod(object, name, args);
    } catch (const ComError& e) {
      return e.hr();
    }
    return S_OK;
  };
  EXPECT_EQ(CallMethod(object, "Collect", {Variant::String("salary")}).dbl(), 1250.0);
  EXPECT_EQ(refused("Collect", {}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(refused("Fields", {Variant::Int32(0), Variant::Int32(1)}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(refused("MoveFirst", {Variant::Int32(0)}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(refused("Clone", {Variant::String("readonly")}), DISP_E_TYPEMISMATCH);
  // Fields(name) and Fields.Item(index) reach the same field.
  const Variant by_name = CallMethod(object, "Fields", {Variant::String("SALARY")});
  const Variant fields = GetProperty(object, "Fields");
  const Variant by_index = CallMethod(fields.object(), "Item", {Variant::Double(0)});
  EXPECT_EQ(GetProperty(by_name.object(), "Value").dbl(), 1250.0);
  EXPECT_EQ(GetProperty(by_index.object(), "Name").AsString(), "Salary");
  PutProperty(by_index.object(), "Value", Variant::String("99.5"));
  EXPECT_EQ(rs->Collect("Salary").number(), 99.5);
  // The data layer's errors keep their number and source.
  try {
    CallMethod(object, "Collect", {Variant::String("Bonus")});
    FAIL() << "expected an error";
  } catch (const ComError& e) {
    EXPECT_EQ(e.hr(), qeldata::kErrItemNotFound);
    EXPECT_NE(e.description().find("Bonus"), std::string::npos) << e.description();
  }
  EXPECT_EQ(refused("Item", {}), DISP_E_UNKNOWNNAME) << "Item belongs to Fields, not to the recordset";
  object->Release();
}

}  // namespace
