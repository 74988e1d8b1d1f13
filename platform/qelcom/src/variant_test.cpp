// Variant::ChangeType across the type pairs the component layer converts.
#include "qelcom/variant.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "qelcom/recordset_object.h"

namespace {

using namespace qelcom;

struct Case {
  const char* what;
  Variant from;
  VarType to;
  HRESULT expected;
};

// Every source type to every value type, failures included: a conversion
// either gives the automation value or fails with the documented code,
// never a silent zero.
TEST(VariantChangeType, EachPairConvertsOrFailsWithItsCode) {
  const double inf = std::numeric_limits<double>::infinity();
  const Case cases[] = {
      {"empty to double", Variant(), VT_R8, S_OK},
      {"empty to int16", Variant(), VT_I2, S_OK},
      {"empty to bool", Variant(), VT_BOOL, S_OK},
      {"empty to text", Variant(), VT_BSTR, S_OK},
      {"null to double", Variant::Null(), VT_R8, DISP_E_TYPEMISMATCH},
      {"null to text", Variant::Null(), VT_BSTR, DISP_E_TYPEMISMATCH},
      {"null to null", Variant::Null(), VT_NULL, S_OK},
      {"error to int32", Variant::Error(E_FAIL), VT_I4, DISP_E_TYPEMISMATCH},
      {"int16 to int32", Variant::Int16(-5), VT_I4, S_OK},
      {"int32 to int16 in range", Variant::Int32(-32768), VT_I2, S_OK},
      {"int32 to int16 above", Variant::Int32(32768), VT_I2, DISP_E_OVERFLOW},
      {"int32 to int16 below", Variant::Int32(-32769), VT_I2, DISP_E_OVERFLOW},
      {"double to int32 above", Variant::Double(2147483647.5), VT_I4, DISP_E_OVERFLOW},
      {"double to int32 at the edge", Variant::Double(2147483647.4), VT_I4, S_OK},
      {"infinity to int32", Variant::Double(inf), VT_I4, DISP_E_OVERFLOW},
      {"NaN to bool", Variant::Double(std::nan("")), VT_BOOL, DISP_E_TYPEMISMATCH},
      {"NaN to double", Variant::Double(std::nan("")), VT_R8, S_OK},
      {"date to double", Variant::Date(45000.25), VT_R8, S_OK},
      {"double to date", Variant::Double(45000.25), VT_DATE, S_OK},
      {"text to int16 overflowing", Variant::String("40000"), VT_I2, DISP_E_OVERFLOW},
      {"text that is no number", Variant::String("1,5"), VT_R8, DISP_E_TYPEMISMATCH},
      {"empty text to double", Variant::String(""), VT_R8, DISP_E_TYPEMISMATCH},
      {"text to object", Variant::String("x"), VT_DISPATCH, DISP_E_TYPEMISMATCH},
      {"number to object", Variant::Double(1), VT_DISPATCH, DISP_E_TYPEMISMATCH},
      {"empty object to object", Variant::Object(nullptr), VT_DISPATCH, S_OK},
      {"object to double", Variant::Object(nullptr), VT_R8, DISP_E_TYPEMISMATCH},
      {"object to text", Variant::Object(nullptr), VT_BSTR, DISP_E_TYPEMISMATCH},
      {"double to error", Variant::Double(1), VT_ERROR, DISP_E_TYPEMISMATCH},
      {"anything to variant", Variant::Null(), VT_VARIANT, S_OK},
  };
  for (const Case& c : cases) {
    Variant out = Variant::Double(-123);
    EXPECT_EQ(c.from.ChangeType(c.to, &out), c.expected) << c.what;
    if (c.expected != S_OK) {
      EXPECT_EQ(out.type(), VT_R8) << c.what << ": a failed conversion leaves the target alone";
      EXPECT_EQ(out.dbl(), -123) << c.what;
    } else if (c.to != VT_VARIANT) {
      EXPECT_EQ(out.type(), c.to) << c.what;
    }
  }
  EXPECT_EQ(Variant().ChangeType(VT_R8, nullptr), E_POINTER);
}

TEST(VariantChangeType, ValuesComeOutAsAutomationGivesThem) {
  Variant out;
  // Integers round half to even.
  ASSERT_EQ(Variant::Double(-2.5).ChangeType(VT_I4, &out), S_OK);
  EXPECT_EQ(out.int32(), -2);
  ASSERT_EQ(Variant::String(" -3.5 ").ChangeType(VT_I2, &out), S_OK);
  EXPECT_EQ(out.int16(), -4);
  // Booleans are -1 and 0 both ways, and any non-zero number is true.
  ASSERT_EQ(Variant::Double(0.001).ChangeType(VT_BOOL, &out), S_OK);
  EXPECT_EQ(out.boolean(), VARIANT_TRUE);
  ASSERT_EQ(Variant::Boolean(true).ChangeType(VT_I2, &out), S_OK);
  EXPECT_EQ(out.int16(), -1);
  ASSERT_EQ(Variant::String("FALSE").ChangeType(VT_I4, &out), S_OK);
  EXPECT_EQ(out.int32(), 0);
  ASSERT_EQ(Variant::String("tRuE").ChangeType(VT_R8, &out), S_OK);
  EXPECT_EQ(out.dbl(), -1.0);
  // Texts: booleans by name, integers exactly, doubles in at most 15 digits.
  EXPECT_EQ(Variant::Boolean(false).AsString(), "False");
  EXPECT_EQ(Variant::Int32(-2147483647 - 1).AsString(), "-2147483648");
  EXPECT_EQ(Variant::Double(1.0 / 3).AsString(), "0.333333333333333");
  EXPECT_EQ(Variant::Double(1e21).AsString(), "1E+21");
  EXPECT_EQ(Variant::Date(2.5).AsDouble(), 2.5);
  EXPECT_EQ(Variant::String("\t7\t").AsDouble(), 7.0) << "tabs around a number are blanks to the conversion";
  // A text stays the same text, spaces and all.
  ASSERT_EQ(Variant::String(" a ").ChangeType(VT_BSTR, &out), S_OK);
  EXPECT_STREQ(out.bstr(), " a ");
}

TEST(VariantChangeType, ObjectsConvertByAskingTheObject) {
  auto rs = std::make_shared<qeldata::Recordset>();
  IDispatch* object = WrapRecordset(rs);
  const Variant held = Variant::Object(object);
  Variant as_unknown;
  ASSERT_EQ(held.ChangeType(VT_UNKNOWN, &as_unknown), S_OK);
  EXPECT_EQ(as_unknown.type(), VT_UNKNOWN);
  Variant back;
  ASSERT_EQ(as_unknown.ChangeType(VT_DISPATCH, &back), S_OK);
  EXPECT_EQ(back.object(), object);
  back.Clear();
  as_unknown.Clear();
  EXPECT_EQ(object->Release(), 1u) << "every conversion gave its reference back; the held variant keeps one";
}

}  // namespace
