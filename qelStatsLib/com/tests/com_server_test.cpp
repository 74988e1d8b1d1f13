// A host's view of libqelStatsLib.so: this program links only the platform
// layers and reaches the library as every host does, by class identity or
// ProgID through qelcom (which loads the library beside the executable).
#include <dlfcn.h>
#include <stdlib.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "qelStatsLib/QelStatsLib.h"
#include "qelcom/qelcom.h"
#include "com_test_support.h"
#include "qelcom/recordset_object.h"

namespace {

using namespace qelcom;
using namespace QelStatsLib;

const std::string kDatasets = QEL_SOURCE_DIR "/VesquinDemo/datasets";
const std::string kTextConnection = "Text;DBQ=" + kDatasets;
const std::string kLibrary = QEL_BINARY_DIR "/bin/libqelStatsLib.so";

// Every test runs against a registry file of its own, never the user's.
const auto* const kRegistryEnvironment =
    ::testing::AddGlobalTestEnvironment(new com_test::ScratchRegistry("qelcom-test-"));
using com_test::Create;

// Calls a slot by its index in the table of slots, as a host reading the
// table by hand would: HRESULT (*)(this, Arg).
template <class Arg>
HRESULT CallSlot(void* object, std::size_t slot, Arg arg) {
  using Fn = HRESULT (*)(void*, Arg);
  void** table = *static_cast<void***>(object);
  return reinterpret_cast<Fn>(table[slot])(object, arg);
}

// The slot index the host header gives a member (Itanium ABI encoding).
template <class P>
std::size_t HeaderSlot(P pmf) {
  std::uintptr_t raw[2];
  std::memcpy(raw, &pmf, sizeof raw);
#if defined(__arm__) || defined(__aarch64__)
  return raw[0] / sizeof(void*);
#else
  return (raw[0] - 1) / sizeof(void*);
#endif
}

struct Expected {
  const char* name;
  InvokeKind kind;
  DISPID dispid;
};

constexpr InvokeKind G = INVOKE_PROPERTYGET, L = INVOKE_PROPERTYPUT, S = INVOKE_PROPERTYPUTREF, M = INVOKE_FUNC;

// The published interfaces, slot by slot.
const std::vector<Expected> kUnivariate = {
    {"Uniques", G, 0x6803001A}, {"CV", G, 0x68030019}, {"Kurtosis", G, 0x68030018}, {"Skewness", G, 0x68030017},
    {"Q3", G, 0x68030016}, {"Q1", G, 0x68030015}, {"IQR", G, 0x68030014}, {"Median", G, 0x68030013},
    {"Range", G, 0x68030012}, {"Mode", G, 0x68030011}, {"WgtN", G, 0x68030010}, {"Sum", G, 0x6803000F},
    {"Max", G, 0x6803000E}, {"Min", G, 0x6803000D}, {"TrimmedMean", G, 0x6803000C}, {"Mean", G, 0x6803000B},
    {"Variance", G, 0x6803000A}, {"Stdev", G, 0x68030009}, {"FieldName", L, 0x68030008},
    {"FieldName", G, 0x68030008}, {"Cardinality", G, 0x68030007}, {"N", G, 0x68030006}, {"Missing", G, 0x68030005},
    {"ConnectionString", L, 0x68030004}, {"ConnectionString", G, 0x68030004}, {"showStatus", L, 0x68030003},
    {"showStatus", G, 0x68030003}, {"Run", M, 0x6003001B}, {"WeightField", L, 0x68030002},
    {"WeightField", G, 0x68030002}, {"Source", L, 0x68030001}, {"Source", G, 0x68030001},
    {"DataSource", S, 0x68030000}, {"DataSource", G, 0x68030000}};

const std::vector<Expected> kOutlier = {
    {"Median", G, 0x68030019}, {"Q1", G, 0x68030018}, {"Q3", G, 0x68030017}, {"SumWgt", G, 0x68030016},
    {"WgtN", G, 0x68030015}, {"TypeParm", L, 0x68030014}, {"FindType", L, 0x68030013},
    {"OutlierCountN", G, 0x68030012}, {"OutlierCountWgt", G, 0x68030011}, {"Sum", G, 0x68030010},
    {"Max", G, 0x6803000F}, {"Min", G, 0x6803000E}, {"TrimmedMean", G, 0x6803000D}, {"Mean", G, 0x6803000C},
    {"Variance", G, 0x6803000B}, {"Stdev", G, 0x6803000A}, {"OutlierField", L, 0x68030009},
    {"OutlierField", G, 0x68030009}, {"Cardinality", G, 0x68030008}, {"N", G, 0x68030007}, {"Missing", G, 0x68030006},
    {"ConnectionString", L, 0x68030005}, {"ConnectionString", G, 0x68030005}, {"showStatus", L, 0x68030004},
    {"showStatus", G, 0x68030004}, {"Run", M, 0x6003001A}, {"ResultSet", G, 0x68030003},
    {"WeightField", L, 0x68030002}, {"WeightField", G, 0x68030002}, {"Source", L, 0x68030001},
    {"Source", G, 0x68030001}, {"DataSource", S, 0x68030000}, {"DataSource", G, 0x68030000}};

const std::vector<Expected> kBivariate = {
    {"Cardinality", G, 0x6803001F}, {"Categorical", L, 0x6803001E}, {"Categorical", G, 0x6803001E},
    {"TargetMean", G, 0x6803001D}, {"N", G, 0x6803001C}, {"Missing", G, 0x6803001B}, {"DI", G, 0x6803001A},
    {"PSI", G, 0x68030019}, {"ConnectionString", L, 0x68030018}, {"ConnectionString", G, 0x68030018},
    {"showStatus", L, 0x68030017}, {"showStatus", G, 0x68030017}, {"Run", M, 0x60030020},
    {"ResultSet", G, 0x68030016}, {"WeightField", L, 0x68030015}, {"WeightField", G, 0x68030015},
    {"PredictorField", L, 0x68030014}, {"PredictorField", G, 0x68030014}, {"TargetField", L, 0x68030013},
    {"TargetField", G, 0x68030013}, {"BinCount", L, 0x68030012}, {"BinCount", G, 0x68030012},
    {"Source", L, 0x68030011}, {"Source", G, 0x68030011}, {"DataSource", S, 0x68030010},
    {"DataSource", G, 0x68030010}};

std::vector<Expected> StatFctnExpected() {
  const char* names[] = {"ArcSin", "Secant", "CoSec", "CoTan", "ArcCos", "ArcCosSec", "ArcCoTan", "HSin",
                         "HCos", "HTan", "HSec", "HCoSec", "HCoTan", "HArcsin", "HArccos", "HArctan",
                         "HArcsec", "HArcCoSec", "HArcCoTan", "LogN", "DTOR", "Dist_Fctn"};
  std::vector<Expected> out;
  for (int i = 0; i < 22; ++i) out.push_back({names[i], M, 0x60030000 + i});
  return out;
}

struct ClassCase {
  const char* progid;
  GUID clsid;
  GUID iid;
  std::vector<Expected> members;
  bool app_object;
};

std::vector<ClassCase> AllClasses() {
  return {{"QelStatsLib.QelUnivariate", CLSID_QelUnivariate, IID__QelUnivariate, kUnivariate, true},
          {"QelStatsLib.QelOutlier", CLSID_QelOutlier, IID__QelOutlier, kOutlier, true},
          {"QelStatsLib.QelBivariate", CLSID_QelBivariate, IID__QelBivariate, kBivariate, false},
          {"QelStatsLib.QelStatFctn", CLSID_QelStatFctn, IID__QelStatFctn, StatFctnExpected(), true}};
}

TEST(ComServer, CreatesEveryClassByIdentityAndByProgID) {
  for (const ClassCase& c : AllClasses()) {
    SCOPED_TRACE(c.progid);
    ComPtr<IDispatch> by_clsid, by_progid, by_text;
    ASSERT_EQ(CreateInstance(c.clsid, c.iid, by_clsid.out()), S_OK);
    ASSERT_EQ(CreateInstance(c.progid, IID_IDispatch, by_progid.out()), S_OK);
    ASSERT_EQ(CreateInstance(ToString(c.clsid), IID_IUnknown, by_text.out()), S_OK);
    EXPECT_NE(by_clsid.get(), by_progid.get()) << "each creation is a new object";
    // The default interface is reachable from any of its interfaces.
    ComPtr<IDispatch> again = by_progid.As<IDispatch>(c.iid);
    EXPECT_TRUE(again);
    EXPECT_FALSE(by_progid.As<IDispatch>(IID_IClassFactory));
    CLSID looked_up;
    ASSERT_EQ(CLSIDFromProgID(c.progid, &looked_up), S_OK);
    EXPECT_EQ(looked_up, c.clsid);
  }
}

TEST(ComServer, UnknownIdentitiesAreRefused) {
  const GUID stranger = MakeGuid("{01234567-89AB-CDEF-0123-456789ABCDEF}");
  ComPtr<IUnknown> object;
  EXPECT_EQ(CreateInstance(stranger, IID_IUnknown, object.out()), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(CreateInstance("QelStatsLib.NoSuchClass", IID_IUnknown, object.out()), CO_E_CLASSSTRING);

  void* lib = ::dlopen(kLibrary.c_str(), RTLD_NOW);
  ASSERT_NE(lib, nullptr) << ::dlerror();
  auto get = reinterpret_cast<DllGetClassObjectFn>(::dlsym(lib, "DllGetClassObject"));
  ASSERT_NE(get, nullptr);
  void* factory = reinterpret_cast<void*>(1);
  EXPECT_EQ(get(stranger, IID_IClassFactory, &factory), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(factory, nullptr);
  // The type library's own identity and the enumeration's are no classes either.
  EXPECT_EQ(get(LIBID_QelStatsLib, IID_IClassFactory, &factory), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(get(GUID_OutlierType, IID_IClassFactory, &factory), CLASS_E_CLASSNOTAVAILABLE);
  // Aggregation is not offered.
  ComPtr<IClassFactory> cf;
  ASSERT_EQ(get(CLSID_QelUnivariate, IID_IClassFactory, cf.out()), S_OK);
  ComPtr<IUnknown> outer = Create<IUnknown>(CLSID_QelStatFctn, IID_IUnknown);
  EXPECT_EQ(cf->CreateInstance(outer.get(), IID_IUnknown, object.out()), CLASS_E_NOAGGREGATION);
  ::dlclose(lib);
}

TEST(ComServer, OnlyTheEntryPointsAreExported) {
  void* lib = ::dlopen(kLibrary.c_str(), RTLD_NOW);
  ASSERT_NE(lib, nullptr);
  for (const char* name : {"DllRegisterServer", "DllUnregisterServer", "DllGetClassObject", "DllCanUnloadNow"})
    EXPECT_NE(::dlsym(lib, name), nullptr) << name;
  // The engine inside stays private.
  EXPECT_EQ(::dlsym(lib, "_ZN3qel13QelUnivariate3RunEv"), nullptr);
  ::dlclose(lib);
}

// The type information against the published tables, the host header's slot
// order against both, and GetIDsOfNames against the dispatch ids.
TEST(ComServer, SlotOrderAndDispatchIdsMatchThePublishedTables) {
  for (const ClassCase& c : AllClasses()) {
    SCOPED_TRACE(c.progid);
    ComPtr<IDispatch> object;
    ASSERT_EQ(CreateInstance(c.clsid, IID_IDispatch, object.out()), S_OK);
    std::uint32_t count = 0;
    ASSERT_EQ(object->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(object->GetTypeInfo(0, 0, info.typed_out()), S_OK);
    TypeAttr attr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr.guid, c.iid);
    EXPECT_TRUE(attr.wTypeFlags & TYPEFLAG_FDUAL);
    EXPECT_TRUE(attr.wTypeFlags & TYPEFLAG_FHIDDEN);
    ASSERT_EQ(attr.cFuncs, c.members.size());
    EXPECT_EQ(attr.cbSizeVft, (7 + c.members.size()) * sizeof(void*));
    for (std::size_t i = 0; i < c.members.size(); ++i) {
      const Expected& e = c.members[i];
      SCOPED_TRACE(std::to_string(i + 1) + " " + e.name);
      FuncDesc d;
      ASSERT_EQ(info->GetFuncDesc(static_cast<std::uint32_t>(i), &d), S_OK);
      EXPECT_STREQ(d.name, e.name);
      EXPECT_EQ(d.invkind, e.kind);
      EXPECT_EQ(d.memid, e.dispid);
      EXPECT_EQ(d.oVft, static_cast<std::int16_t>((7 + i) * sizeof(void*)));
      // By name, in any case.
      std::string shouted = e.name;
      for (char& ch : shouted) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
      const char* names[] = {shouted.c_str()};
      DISPID id = 0;
      EXPECT_EQ(object->GetIDsOfNames(GUID_NULL, names, 1, 0, &id), S_OK);
      EXPECT_EQ(id, e.dispid);
    }
    const char* unknown[] = {"NoSuchMember"};
    DISPID id = 0;
    EXPECT_EQ(object->GetIDsOfNames(GUID_NULL, unknown, 1, 0, &id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(id, DISPID_UNKNOWN);
  }
  // The host header declares the slots in the same order.
  EXPECT_EQ(HeaderSlot(&_QelUnivariate::get_Uniques), 7u);
  EXPECT_EQ(HeaderSlot(&_QelUnivariate::Run), 7u + 27);
  EXPECT_EQ(HeaderSlot(&_QelUnivariate::get_DataSource), 7u + 33);
  EXPECT_EQ(HeaderSlot(&_QelOutlier::put_FindType), 7u + 6);
  EXPECT_EQ(HeaderSlot(&_QelOutlier::get_ResultSet), 7u + 26);
  EXPECT_EQ(HeaderSlot(&_QelBivariate::put_BinCount), 7u + 20);
  EXPECT_EQ(HeaderSlot(&_QelBivariate::get_DataSource), 7u + 25);
  EXPECT_EQ(HeaderSlot(&_QelStatFctn::LogN), 7u + 19);
  EXPECT_EQ(HeaderSlot(&_QelStatFctn::Dist_Fctn), 7u + 21);
}

// Help texts as the type information publishes them: the bivariate interface
// carries them (but not on TargetMean), the univariate and outlier ones none.
TEST(ComServer, HelpTextsOfTheAnalysisInterfaces) {
  for (const ClassCase& c : AllClasses()) {
    if (c.clsid == CLSID_QelStatFctn) continue;
    SCOPED_TRACE(c.progid);
    ComPtr<IDispatch> object;
    ASSERT_EQ(CreateInstance(c.clsid, IID_IDispatch, object.out()), S_OK);
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(object->GetTypeInfo(0, 0, info.typed_out()), S_OK);
    std::vector<DISPID> ids;
    for (std::size_t i = 0; i < c.members.size(); ++i) {
      FuncDesc d;
      ASSERT_EQ(info->GetFuncDesc(static_cast<std::uint32_t>(i), &d), S_OK);
      ids.push_back(d.memid);
      const std::string help = d.helpString ? d.helpString : "";
      if (c.clsid != CLSID_QelBivariate) {
        EXPECT_EQ(help, "") << d.name;
      } else if (std::string(d.name) == "TargetMean") {
        EXPECT_EQ(d.helpString, nullptr);
      } else {
        EXPECT_NE(help, "") << d.name;
      }
      if (c.clsid == CLSID_QelBivariate && std::string(d.name) == "Source") {
        EXPECT_EQ(help, "Source can be a table name our SQL string");
      }
    }
    // A let and its get share one dispatch id; distinct members never do.
    std::sort(ids.begin(), ids.end());
    if (c.clsid == CLSID_QelBivariate) {
      EXPECT_EQ(std::unique(ids.begin(), ids.end()) - ids.begin(), 17);
    }
  }
}

TEST(ComServer, TypeLibraryDescribesItselfTheClassesAndTheEnumeration) {
  ComPtr<IDispatch> object = Create<IDispatch>(CLSID_QelUnivariate, IID_IDispatch);
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(object->GetTypeInfo(0, 0, info.typed_out()), S_OK);
  Bstr name, doc;
  ASSERT_EQ(info->GetDocumentation(DISPID_UNKNOWN, name.out(), doc.out()), S_OK);
  EXPECT_EQ(name.str(), "_QelUnivariate");
  EXPECT_EQ(doc.str(), "Calculate Univariate statistics for given input field on a recordset.");

  ComPtr<ITypeLib> lib;
  std::uint32_t index = 0;
  ASSERT_EQ(info->GetContainingTypeLib(lib.typed_out(), &index), S_OK);
  TLibAttr lib_attr;
  ASSERT_EQ(lib->GetLibAttr(&lib_attr), S_OK);
  EXPECT_EQ(lib_attr.guid, LIBID_QelStatsLib);
  EXPECT_EQ(lib_attr.lcid, 1033u);
  EXPECT_EQ(lib_attr.wMajorVerNum, 7);
  EXPECT_EQ(lib_attr.wMinorVerNum, 0);
  ASSERT_EQ(lib->GetDocumentation(-1, name.out(), doc.out()), S_OK);
  EXPECT_EQ(name.str(), "QelStatsLib");
  EXPECT_EQ(doc.str(), "Data Mining Statistical Library");

  ComPtr<ITypeInfo> enumeration;
  ASSERT_EQ(lib->GetTypeInfoOfGuid(GUID_OutlierType, enumeration.typed_out()), S_OK);
  TypeAttr attr;
  ASSERT_EQ(enumeration->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr.typekind, TKIND_ENUM);
  ASSERT_EQ(attr.cVars, 2);
  VarDesc v;
  ASSERT_EQ(enumeration->GetVarDesc(0, &v), S_OK);
  EXPECT_STREQ(v.name, "outSTD");
  EXPECT_EQ(v.value, 1);
  ASSERT_EQ(enumeration->GetVarDesc(1, &v), S_OK);
  EXPECT_STREQ(v.name, "outTMean");
  EXPECT_EQ(v.value, 2);

  // Application objects, and only the three.
  for (const ClassCase& c : AllClasses()) {
    ComPtr<ITypeInfo> coclass;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(c.clsid, coclass.typed_out()), S_OK);
    ASSERT_EQ(coclass->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr.typekind, TKIND_COCLASS);
    EXPECT_EQ((attr.wTypeFlags & TYPEFLAG_FAPPOBJECT) != 0, c.app_object) << c.progid;
  }

  // Help texts travel with the members.
  ComPtr<IDispatch> bivariate = Create<IDispatch>(CLSID_QelBivariate, IID_IDispatch);
  ComPtr<ITypeInfo> binfo;
  ASSERT_EQ(bivariate->GetTypeInfo(0, 0, binfo.typed_out()), S_OK);
  ASSERT_EQ(binfo->GetDocumentation(0x68030012, name.out(), doc.out()), S_OK);
  EXPECT_EQ(name.str(), "BinCount");
  EXPECT_EQ(doc.str(), "Maximum number of bins to create in output data");
  ComPtr<IDispatch> fn = Create<IDispatch>(CLSID_QelStatFctn, IID_IDispatch);
  ComPtr<ITypeInfo> finfo;
  ASSERT_EQ(fn->GetTypeInfo(0, 0, finfo.typed_out()), S_OK);
  FuncDesc d;
  ASSERT_EQ(finfo->GetFuncDesc(21, &d), S_OK);
  EXPECT_STREQ(d.name, "Dist_Fctn");
  ASSERT_EQ(d.cParams, 4);
  EXPECT_STREQ(d.paramNames[0], "lat1");
  EXPECT_STREQ(d.paramNames[3], "long2");
}

const char* const kUnivariateResults[] = {"Uniques", "CV",          "Kurtosis", "Skewness", "Q3",       "Q1",
                                          "IQR",     "Median",      "Range",    "Mode",     "WgtN",     "Sum",
                                          "Max",     "Min",         "TrimmedMean", "Mean",  "Variance", "Stdev",
                                          "Cardinality", "N",       "Missing"};

TEST(ComServer, UnivariateThroughSlotsEqualsTheSameRunByName) {
  // Early bound, as the demonstration program calls it.
  ComPtr<_QelUnivariate> early = Create<_QelUnivariate>(CLSID_QelUnivariate, IID__QelUnivariate);
  ASSERT_EQ(early->put_ConnectionString(kTextConnection.c_str()), S_OK);
  ASSERT_EQ(early->put_Source("BaseBall.csv"), S_OK);
  ASSERT_EQ(early->put_FieldName("Salary"), S_OK);
  ASSERT_EQ(early->put_WeightField("AB"), S_OK);
  ASSERT_EQ(early->put_showStatus(VARIANT_FALSE), S_OK);
  VARIANT_BOOL ok = 0;
  ASSERT_EQ(early->Run(&ok), S_OK);
  EXPECT_EQ(ok, VARIANT_TRUE);

  // Late bound, by name only.
  ComPtr<IDispatch> late;
  ASSERT_EQ(GetAppObject("QelStatsLib.QelUnivariate", IID_IDispatch, late.out()), S_OK);
  PutProperty(late.get(), "connectionstring", Variant::String(kTextConnection));
  PutProperty(late.get(), "SOURCE", Variant::String("BaseBall.csv"));
  PutProperty(late.get(), "FieldName", Variant::String("Salary"));
  PutProperty(late.get(), "WeightField", Variant::String("AB"));
  PutProperty(late.get(), "showStatus", Variant::Boolean(false));
  const Variant ran = CallMethod(late.get(), "Run");
  EXPECT_EQ(ran.type(), VT_BOOL);
  EXPECT_EQ(ran.boolean(), VARIANT_TRUE);

  ComPtr<ITypeInfo> info;
  ASSERT_EQ(early->GetTypeInfo(0, 0, info.typed_out()), S_OK);
  for (const char* member : kUnivariateResults) {
    SCOPED_TRACE(member);
    const Variant by_name = GetProperty(late.get(), member);
    ASSERT_EQ(by_name.type(), VT_R8);
    // The same member read by raw slot index on the early-bound object.
    DISPID id;
    const char* names[] = {member};
    ASSERT_EQ(early->GetIDsOfNames(GUID_NULL, names, 1, 0, &id), S_OK);
    std::size_t slot = 0;
    for (std::uint32_t i = 0;; ++i) {
      FuncDesc d;
      ASSERT_EQ(info->GetFuncDesc(i, &d), S_OK);
      if (d.memid == id && d.invkind == INVOKE_PROPERTYGET) {
        slot = static_cast<std::size_t>(d.oVft) / sizeof(void*);
        break;
      }
    }
    double by_slot = -1;
    ASSERT_EQ(CallSlot<double*>(early.get(), slot, &by_slot), S_OK);
    if (std::isnan(by_slot))
      EXPECT_TRUE(std::isnan(by_name.dbl()));
    else
      EXPECT_EQ(by_slot, by_name.dbl());
  }
  double n = 0, mean = 0, min = 0, max = 0;
  early->get_N(&n);
  early->get_Mean(&mean);
  early->get_Min(&min);
  early->get_Max(&max);
  EXPECT_GT(n, 800);
  EXPECT_GT(mean, min);
  EXPECT_LT(mean, max);
  // The application object is the same one on every use of this thread.
  ComPtr<IDispatch> again;
  ASSERT_EQ(GetAppObject(CLSID_QelUnivariate, IID_IDispatch, again.out()), S_OK);
  EXPECT_EQ(again.get(), late.get());
  EXPECT_EQ(GetProperty(again.get(), "FieldName").AsString(), "Salary");
  ReleaseAppObjects();
}

TEST(ComServer, BivariateIsNoApplicationObject) {
  ComPtr<IDispatch> object;
  EXPECT_EQ(GetAppObject(CLSID_QelBivariate, IID_IDispatch, object.out()), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_FALSE(object);
  ASSERT_EQ(GetAppObject(CLSID_QelStatFctn, IID_IDispatch, object.out()), S_OK);
  EXPECT_DOUBLE_EQ(CallMethod(object.get(), "LogN", {Variant::Double(8), Variant::Int16(2)}).AsDouble(), 3.0);
  // Another thread (another apartment) gets an application object of its own.
  IDispatch* elsewhere = nullptr;
  double answer = 0;
  std::thread([&] {
    ComPtr<IDispatch> theirs;
    if (Succeeded(GetAppObject(CLSID_QelStatFctn, IID_IDispatch, theirs.out()))) {
      elsewhere = theirs.get();
      answer = CallMethod(theirs.get(), "DTOR", {Variant::Double(180)}).AsDouble();
    }
  }).join();
  EXPECT_NE(elsewhere, nullptr);
  EXPECT_NE(elsewhere, object.get());
  EXPECT_EQ(answer, 3.141592654);
  object.Reset();
  ReleaseAppObjects();
}

TEST(ComServer, InputErrorsReachTheClientWithNumberSourceAndDescription) {
  ComPtr<_QelUnivariate> u = Create<_QelUnivariate>(CLSID_QelUnivariate, IID__QelUnivariate);
  ASSERT_EQ(u->put_Source("   "), S_OK);
  VARIANT_BOOL ok = 7;
  ClearErrorInfo();
  EXPECT_EQ(u->Run(&ok), kErrLibraryInput);
  std::optional<ErrorInfo> info = GetErrorInfo();
  ASSERT_TRUE(info);
  EXPECT_EQ(info->number, static_cast<HRESULT>(0x800403E8));
  EXPECT_EQ(info->source, "Build Univariates");
  EXPECT_EQ(info->description, "Source parameter is missing or blank.");
  EXPECT_FALSE(GetErrorInfo()) << "taking the error info clears it";

  // By name the same error arrives as the call's exception.
  ComPtr<IDispatch> d = u.As<IDispatch>(IID_IDispatch);
  PutProperty(d.get(), "Source", Variant::String("BaseBall.csv"));
  Variant result;
  ExcepInfo excep;
  EXPECT_EQ(InvokeByName(d.get(), "Run", DISPATCH_METHOD, {}, &result, &excep), DISP_E_EXCEPTION);
  EXPECT_EQ(excep.scode, kErrLibraryInput);
  EXPECT_STREQ(excep.bstrSource, "Build Univariates");
  EXPECT_STREQ(excep.bstrDescription, "Connection String parameter is missing or blank.");
  ClearExcepInfo(&excep);
  try {
    CallMethod(d.get(), "Run");
    ADD_FAILURE() << "Run should raise";
  } catch (const ComError& e) {
    EXPECT_EQ(e.hr(), kErrLibraryInput);
    EXPECT_EQ(e.source(), "Build Univariates");
  }

  // The data layer's own errors pass through unchanged.
  PutProperty(d.get(), "ConnectionString", Variant::String(kTextConnection));
  PutProperty(d.get(), "Source", Variant::String("NoSuchFile.csv"));
  PutProperty(d.get(), "FieldName", Variant::String("Salary"));
  EXPECT_TRUE(Failed(u->Run(&ok)));
  info = GetErrorInfo();
  ASSERT_TRUE(info);
  EXPECT_NE(info->number, kErrLibraryInput);
  EXPECT_NE(info->description.find("NoSuchFile.csv"), std::string::npos) << info->description;
}

TEST(ComServer, DispatchRefusesWhatTheInterfaceDoesNotOffer) {
  ComPtr<IDispatch> o = Create<IDispatch>(CLSID_QelOutlier, IID_IDispatch);
  Variant result;
  // FindType can be written but not read back.
  EXPECT_EQ(InvokeByName(o.get(), "FindType", DISPATCH_PROPERTYGET, {}, &result), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(InvokeByName(o.get(), "FindType", DISPATCH_PROPERTYPUT, {Variant::Int32(outTMean)}, &result), S_OK);
  EXPECT_EQ(InvokeByName(o.get(), "Mean", DISPATCH_PROPERTYPUT, {Variant::Double(1)}, &result), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(InvokeByName(o.get(), "Run", DISPATCH_METHOD, {Variant::Double(1)}, &result), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(InvokeByName(o.get(), "TypeParm", DISPATCH_PROPERTYPUT, {Variant::String("ten")}, &result),
            DISP_E_TYPEMISMATCH);
  ComPtr<IDispatch> b = Create<IDispatch>(CLSID_QelBivariate, IID_IDispatch);
  EXPECT_EQ(InvokeByName(b.get(), "BinCount", DISPATCH_PROPERTYPUT, {Variant::Double(40000)}, &result),
            DISP_E_OVERFLOW);
  EXPECT_EQ(GetProperty(b.get(), "BinCount").int16(), 20) << "a refused put changes nothing";
  PutProperty(b.get(), "BinCount", Variant::String("12"));
  EXPECT_EQ(GetProperty(b.get(), "BinCount").type(), VT_I2);
  EXPECT_EQ(GetProperty(b.get(), "BinCount").int16(), 12);
  EXPECT_EQ(GetProperty(b.get(), "showStatus").boolean(), VARIANT_TRUE) << "booleans are -1 for true";
  ComPtr<IDispatch> f = Create<IDispatch>(CLSID_QelStatFctn, IID_IDispatch);
  EXPECT_EQ(InvokeByName(f.get(), "LogN", DISPATCH_METHOD, {Variant::Double(8)}, &result), DISP_E_BADPARAMCOUNT);
}

TEST(ComServer, DataSourceTakesRecordsetObjectsAndReadsThemByName) {
  // A connected, client-side recordset, as the demonstration program opens it.
  auto rs = std::make_shared<qeldata::Recordset>();
  rs->SetCursorLocation(qeldata::adUseClient);
  rs->Open("select * from [BaseBall.csv]", kTextConnection, qeldata::adOpenStatic, qeldata::adLockReadOnly, -1);
  ComPtr<IDispatch> connected = ComPtr<IDispatch>::Attach(WrapRecordset(rs));
  ComPtr<_QelUnivariate> u = Create<_QelUnivariate>(CLSID_QelUnivariate, IID__QelUnivariate);
  ASSERT_EQ(u->putref_DataSource(connected.get()), S_OK);
  Bstr text;
  ASSERT_EQ(u->get_ConnectionString(text.out()), S_OK);
  EXPECT_EQ(text.str(), kTextConnection);
  ASSERT_EQ(u->get_Source(text.out()), S_OK);
  EXPECT_EQ(text.str(), "select * from [BaseBall.csv]");
  ComPtr<IDispatch> back;
  ASSERT_EQ(u->get_DataSource(back.typed_out()), S_OK);
  EXPECT_EQ(back.get(), connected.get()) << "the setter stores the caller's reference";
  ASSERT_EQ(u->put_FieldName("HR"), S_OK);
  VARIANT_BOOL ok = 0;
  ASSERT_EQ(u->Run(&ok), S_OK);
  EXPECT_EQ(ok, VARIANT_TRUE);
  double connected_mean = 0;
  u->get_Mean(&connected_mean);

  // A disconnected copy is read directly and left at its end.
  auto memory = std::make_shared<qeldata::Recordset>();
  memory->GetFields().Append("HR", qeldata::adDouble);
  memory->Open();
  for (double v : {1.0, 2.0, 3.0, 10.0}) {
    memory->AddNew();
    memory->GetFields().Item("HR").SetValue(qeldata::Value(v));
    memory->Update();
  }
  ComPtr<IDispatch> disconnected = ComPtr<IDispatch>::Attach(WrapRecordset(memory));
  EXPECT_TRUE(GetProperty(disconnected.get(), "ActiveConnection").IsNothing());
  ASSERT_EQ(u->putref_DataSource(disconnected.get()), S_OK);
  ASSERT_EQ(u->Run(&ok), S_OK);
  EXPECT_EQ(ok, VARIANT_TRUE);
  double mean = 0;
  u->get_Mean(&mean);
  EXPECT_DOUBLE_EQ(mean, 4.0);
  EXPECT_TRUE(memory->IsEOF());
  EXPECT_NE(mean, connected_mean);

  // An empty reference: stored, then the platform's object-required error.
  EXPECT_EQ(u->putref_DataSource(nullptr), CTL_E_OBJECTREQUIRED);
  ASSERT_EQ(u->get_DataSource(back.typed_out()), S_OK);
  EXPECT_FALSE(back);
  // An object without ActiveConnection: member not found, reference kept.
  ComPtr<IDispatch> not_a_recordset = Create<IDispatch>(CLSID_QelStatFctn, IID_IDispatch);
  EXPECT_EQ(u->putref_DataSource(not_a_recordset.get()), CTL_E_MEMBERNOTFOUND);
  std::optional<ErrorInfo> info = GetErrorInfo();
  ASSERT_TRUE(info);
  EXPECT_NE(info->description.find("ActiveConnection"), std::string::npos);
  ASSERT_EQ(u->get_DataSource(back.typed_out()), S_OK);
  EXPECT_EQ(back.get(), not_a_recordset.get());

  // Late bound, with Set.
  ComPtr<IDispatch> d = u.As<IDispatch>(IID_IDispatch);
  PutPropertyRef(d.get(), "DataSource", connected.get());
  EXPECT_EQ(GetProperty(d.get(), "Source").AsString(), "select * from [BaseBall.csv]");
}

// Someone else's recordset-like object: only the members the setter reads by name.
class ForeignObject final : public IDispatch {
 public:
  // `connection` null: a disconnected recordset; else its connection string.
  ForeignObject(const char* connection, const char* source) : connection_(connection), source_(source) {}
  HRESULT QueryInterface(REFIID iid, void** object) override {
    if (iid == IID_IUnknown || iid == IID_IDispatch) {
      *object = this;
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    const ULONG left = --refs_;
    if (!left) delete this;
    return left;
  }
  HRESULT GetTypeInfoCount(std::uint32_t* n) override { *n = 0; return S_OK; }
  HRESULT GetTypeInfo(std::uint32_t, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, const char* const* names, std::uint32_t, LCID, DISPID* ids) override {
    const std::string name = names[0];
    *ids = name == "ActiveConnection" && !is_connection_ ? 1
         : name == "Source" && !is_connection_        ? 2
         : name == "ConnectionString" && is_connection_ ? 3
                                                        : DISPID_UNKNOWN;
    return *ids == DISPID_UNKNOWN ? DISP_E_UNKNOWNNAME : S_OK;
  }
  HRESULT Invoke(DISPID id, REFIID, LCID, std::uint16_t, DispParams*, Variant* result, ExcepInfo*,
                 std::uint32_t*) override {
    ++reads;
    if (id == 1) {
      if (!connection_) {
        *result = Variant::Object(nullptr);
      } else {
        auto* c = new ForeignObject(connection_, nullptr);
        c->is_connection_ = true;
        *result = Variant::AttachObject(c);
      }
    } else {
      *result = Variant::String(id == 2 ? source_ : connection_);
    }
    return S_OK;
  }
  int reads = 0;

 private:
  const char* connection_;
  const char* source_;
  bool is_connection_ = false;
  std::atomic<ULONG> refs_{1};
};

TEST(ComServer, DataSourceReadsAnyObjectByName) {
  ComPtr<_QelUnivariate> u = Create<_QelUnivariate>(CLSID_QelUnivariate, IID__QelUnivariate);
  u->put_FieldName("HR");
  ComPtr<ForeignObject> connected = ComPtr<ForeignObject>::Attach(new ForeignObject(kTextConnection.c_str(), "BaseBall.csv"));
  ASSERT_EQ(u->putref_DataSource(connected.get()), S_OK);
  EXPECT_GE(connected->reads, 2);
  Bstr text;
  u->get_Source(text.out());
  EXPECT_EQ(text.str(), "BaseBall.csv");
  VARIANT_BOOL ok = 0;
  ASSERT_EQ(u->Run(&ok), S_OK) << "Run opens the data the object named";
  EXPECT_EQ(ok, VARIANT_TRUE);

  // A disconnected object this library cannot read is refused by Run, not misread.
  ComPtr<ForeignObject> loose = ComPtr<ForeignObject>::Attach(new ForeignObject(nullptr, "ignored"));
  ASSERT_EQ(u->putref_DataSource(loose.get()), S_OK);
  EXPECT_TRUE(Failed(u->Run(&ok)));
  std::optional<ErrorInfo> info = GetErrorInfo();
  ASSERT_TRUE(info);
  EXPECT_NE(info->description.find("DataSource"), std::string::npos);
}

// A recordset of ours set before is forgotten when another object replaces
// it, also when reading that object fails: Run then opens the named source.
TEST(ComServer, ReplacingOurRecordsetForgetsIt) {
  auto memory = std::make_shared<qeldata::Recordset>();
  memory->GetFields().Append("HR", qeldata::adDouble);
  memory->Open();
  memory->AddNew();
  memory->GetFields().Item("HR").SetValue(qeldata::Value(1000.0));
  memory->Update();
  ComPtr<IDispatch> ours = ComPtr<IDispatch>::Attach(WrapRecordset(memory));
  ComPtr<IDispatch> not_a_recordset = Create<IDispatch>(CLSID_QelStatFctn, IID_IDispatch);
  ComPtr<ForeignObject> connected =
      ComPtr<ForeignObject>::Attach(new ForeignObject(kTextConnection.c_str(), "BaseBall.csv"));
  for (IDispatch* replacement : {static_cast<IDispatch*>(connected.get()), not_a_recordset.get()}) {
    ComPtr<_QelUnivariate> u = Create<_QelUnivariate>(CLSID_QelUnivariate, IID__QelUnivariate);
    u->put_FieldName("HR");
    u->put_ConnectionString(kTextConnection.c_str());
    u->put_Source("BaseBall.csv");
    ASSERT_EQ(u->putref_DataSource(ours.get()), S_OK);
    Bstr text;
    u->get_Source(text.out());
    EXPECT_EQ(text.str(), "BaseBall.csv") << "a disconnected recordset leaves Source alone";
    u->putref_DataSource(replacement);
    VARIANT_BOOL ok = 0;
    ASSERT_EQ(u->Run(&ok), S_OK);
    EXPECT_EQ(ok, VARIANT_TRUE);
    double n = 0, max = 0;
    u->get_N(&n);
    u->get_Max(&max);
    EXPECT_GT(n, 800) << "the file was read";
    EXPECT_NE(max, 1000.0) << "not the recordset set before";
  }
}

TEST(ComServer, OutlierAndBivariateHandBackRecordsetObjects) {
  ComPtr<_QelOutlier> o = Create<_QelOutlier>(CLSID_QelOutlier, IID__QelOutlier);
  ComPtr<IDispatch> none;
  ASSERT_EQ(o->get_ResultSet(none.typed_out()), S_OK);
  EXPECT_FALSE(none) << "no table before the first run";
  o->put_ConnectionString(kTextConnection.c_str());
  o->put_Source("BaseBall.csv");
  o->put_OutlierField("HR");
  o->put_FindType(outSTD);
  o->put_TypeParm(2.0);
  o->put_showStatus(VARIANT_FALSE);
  Variant ran;
  ASSERT_EQ(o->Run(&ran), S_OK);
  EXPECT_EQ(ran.type(), VT_BOOL);
  EXPECT_EQ(ran.boolean(), VARIANT_TRUE);
  ComPtr<IDispatch> table, same;
  ASSERT_EQ(o->get_ResultSet(table.typed_out()), S_OK);
  ASSERT_TRUE(table);
  ASSERT_EQ(o->get_ResultSet(same.typed_out()), S_OK);
  EXPECT_EQ(table.get(), same.get()) << "the stored table is handed out, not a copy";
  Variant fields = GetProperty(table.get(), "Fields");
  EXPECT_EQ(GetProperty(fields.object(), "Count").AsDouble(), 4);
  double cardinality = 0;
  o->get_Cardinality(&cardinality);
  int rows = 0;
  for (CallMethod(table.get(), "MoveFirst"); !GetProperty(table.get(), "EOF").AsBool(); CallMethod(table.get(), "MoveNext"))
    ++rows;
  EXPECT_EQ(rows, static_cast<int>(cardinality));

  ComPtr<_QelBivariate> b = Create<_QelBivariate>(CLSID_QelBivariate, IID__QelBivariate);
  b->put_ConnectionString(kTextConnection.c_str());
  b->put_Source("BaseBall.csv");
  b->put_PredictorField("HR");
  b->put_TargetField("Salary");
  b->put_BinCount(5);
  b->put_showStatus(VARIANT_FALSE);
  ASSERT_EQ(b->Run(&ran), S_OK);
  EXPECT_EQ(ran.boolean(), VARIANT_TRUE);
  ComPtr<IDispatch> bins;
  ASSERT_EQ(b->get_ResultSet(bins.typed_out()), S_OK);
  ASSERT_TRUE(bins);
  Variant first = CallMethod(bins.get(), "Collect", {Variant::String("Bin")});
  EXPECT_FALSE(first.IsNull());
  double psi = 0;
  b->get_PSI(&psi);
  EXPECT_GT(psi, 0);
}

TEST(ComServer, StatFctnThroughSlotsAndByName) {
  ComPtr<_QelStatFctn> f = Create<_QelStatFctn>(CLSID_QelStatFctn, IID__QelStatFctn);
  double x = 180, r = 0;
  ASSERT_EQ(f->DTOR(&x, &r), S_OK);
  EXPECT_EQ(r, 3.141592654);
  EXPECT_EQ(x, 180) << "arguments are never written";
  x = 1;
  ASSERT_EQ(f->ArcSin(&x, &r), S_OK);
  EXPECT_EQ(r, -9999999.0);
  double lat1 = 40, long1 = -75, lat2 = 41, long2 = -75;
  ASSERT_EQ(f->Dist_Fctn(&lat1, &long1, &lat2, &long2, &r), S_OK);
  ComPtr<IDispatch> d = f.As<IDispatch>(IID_IDispatch);
  const double by_name = CallMethod(d.get(), "dist_fctn", {Variant::Double(40), Variant::Double(-75),
                                                           Variant::Double(41), Variant::Double(-75)}).AsDouble();
  EXPECT_EQ(r, by_name);
  EXPECT_NEAR(r, 69.05, 0.01);
  EXPECT_EQ(f->ArcSin(nullptr, &r), E_POINTER);
}

TEST(ComServer, AnObjectAnswersOnlyOnItsOwnThread) {
  ComPtr<_QelUnivariate> u = Create<_QelUnivariate>(CLSID_QelUnivariate, IID__QelUnivariate);
  HRESULT slot = S_OK, by_name = S_OK, names = S_OK;
  std::thread other([&] {
    double mean;
    slot = u->get_Mean(&mean);
    ComPtr<IDispatch> d = u.As<IDispatch>(IID_IDispatch);  // reference counting works anywhere
    Variant result;
    by_name = d->Invoke(0x6803000B, GUID_NULL, 0, DISPATCH_PROPERTYGET, nullptr, &result, nullptr, nullptr);
    const char* n[] = {"Mean"};
    DISPID id;
    names = d->GetIDsOfNames(GUID_NULL, n, 1, 0, &id);
  });
  other.join();
  EXPECT_EQ(slot, RPC_E_WRONG_THREAD);
  EXPECT_EQ(by_name, RPC_E_WRONG_THREAD);
  EXPECT_EQ(names, RPC_E_WRONG_THREAD);
  double mean;
  EXPECT_EQ(u->get_Mean(&mean), S_OK);
}

TEST(ComServer, TwoThreadsRunTheirOwnAnalysesAtOnce) {
  // Each thread makes its own object and application object; their results
  // and the per-thread run records must not mix.
  auto analyse = [](const char* field, int runs, std::vector<double>* means, std::vector<double>* cards) {
    ComPtr<_QelUnivariate> u = Create<_QelUnivariate>(CLSID_QelUnivariate, IID__QelUnivariate);
    u->put_ConnectionString(kTextConnection.c_str());
    u->put_Source("BaseBall.csv");
    u->put_FieldName(field);
    for (int i = 0; i < runs; ++i) {
      VARIANT_BOOL ok = 0;
      if (Failed(u->Run(&ok)) || !ok) return;
      double mean, card;
      u->get_Mean(&mean);
      u->get_Cardinality(&card);
      means->push_back(mean);
      cards->push_back(card);
    }
    ReleaseAppObjects();
  };
  std::vector<double> hr_alone, hr_cards, ab_alone, ab_cards;
  analyse("HR", 1, &hr_alone, &hr_cards);
  analyse("AB", 1, &ab_alone, &ab_cards);
  ASSERT_EQ(hr_alone.size(), 1u);
  ASSERT_EQ(ab_alone.size(), 1u);
  ASSERT_NE(hr_alone[0], ab_alone[0]);

  std::vector<double> hr_means, hr_c, ab_means, ab_c;
  std::thread a(analyse, "HR", 5, &hr_means, &hr_c);
  std::thread b(analyse, "AB", 5, &ab_means, &ab_c);
  a.join();
  b.join();
  ASSERT_EQ(hr_means.size(), 5u);
  ASSERT_EQ(ab_means.size(), 5u);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(hr_means[i], hr_alone[0]);
    EXPECT_EQ(hr_c[i], hr_cards[0]);
    EXPECT_EQ(ab_means[i], ab_alone[0]);
    EXPECT_EQ(ab_c[i], ab_cards[0]);
  }
}

TEST(ComServer, CanUnloadOnlyWithoutObjectsAndLocks) {
  ReleaseAppObjects();
  void* lib = ::dlopen(kLibrary.c_str(), RTLD_NOW);
  ASSERT_NE(lib, nullptr);
  auto can_unload = reinterpret_cast<DllCanUnloadNowFn>(::dlsym(lib, "DllCanUnloadNow"));
  auto get = reinterpret_cast<DllGetClassObjectFn>(::dlsym(lib, "DllGetClassObject"));
  ASSERT_EQ(can_unload(), S_OK);
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(get(CLSID_QelOutlier, IID_IClassFactory, factory.out()), S_OK);
  EXPECT_EQ(can_unload(), S_FALSE) << "a factory in use";
  ComPtr<IDispatch> object;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, object.out()), S_OK);
  ASSERT_EQ(factory->LockServer(1), S_OK);
  factory.Reset();
  EXPECT_EQ(can_unload(), S_FALSE);
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(object->GetTypeInfo(0, 0, info.typed_out()), S_OK);
  object.Reset();
  EXPECT_EQ(can_unload(), S_FALSE) << "type information still held, and the lock";
  info.Reset();
  EXPECT_EQ(can_unload(), S_FALSE) << "the lock";
  ASSERT_EQ(get(CLSID_QelOutlier, IID_IClassFactory, factory.out()), S_OK);
  ASSERT_EQ(factory->LockServer(0), S_OK);
  factory.Reset();
  EXPECT_EQ(can_unload(), S_OK) << "after the last release";
  ::dlclose(lib);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(ComServer, RegisterLookUpAndUnregister) {
  const std::string registry = ::getenv("QEL_REGISTRY");
  const std::string regsvr = QEL_BINARY_DIR "/bin/qelregsvr";
  ASSERT_EQ(std::system((regsvr + " -s " + kLibrary).c_str()), 0);
  const std::string text = ReadFile(registry);
  EXPECT_NE(text.find("[CLSID\\{6D1C7106-26F0-11D6-BEE4-00E09804AE2F}\\InprocServer32]"), std::string::npos);
  EXPECT_NE(text.find("\"ThreadingModel\"=\"Apartment\""), std::string::npos);
  EXPECT_NE(text.find("Data Mining Statistical Library"), std::string::npos);

  const Registry reg = Registry::Load(registry);
  for (const ClassCase& c : AllClasses()) {
    SCOPED_TRACE(c.progid);
    const std::string key = "CLSID\\" + ToString(c.clsid);
    EXPECT_EQ(reg.GetValue(key + "\\InprocServer32"), std::filesystem::canonical(kLibrary).string());
    EXPECT_EQ(reg.GetValue(key + "\\ProgID"), c.progid);
    EXPECT_EQ(reg.GetValue(key + "\\TypeLib"), ToString(LIBID_QelStatsLib));
    EXPECT_EQ(reg.GetValue(std::string(c.progid) + "\\CLSID"), ToString(c.clsid));
    EXPECT_EQ(reg.GetValue("Interface\\" + ToString(c.iid) + "\\TypeLib"), ToString(LIBID_QelStatsLib));
    std::string progid;
    ASSERT_EQ(ProgIDFromCLSID(c.clsid, &progid), S_OK);
    EXPECT_EQ(progid, c.progid);
    ComPtr<IDispatch> object;
    EXPECT_EQ(CreateInstance(c.progid, IID_IDispatch, object.out()), S_OK) << "through the registry";
  }
  EXPECT_EQ(reg.GetValue("TypeLib\\" + ToString(LIBID_QelStatsLib) + "\\7.0\\Enum\\" + ToString(GUID_OutlierType)),
            "OutlierType");

  ASSERT_EQ(std::system((regsvr + " -u -s " + kLibrary).c_str()), 0);
  const Registry after = Registry::Load(registry);
  for (const ClassCase& c : AllClasses()) {
    EXPECT_FALSE(after.HasKey("CLSID\\" + ToString(c.clsid)));
    EXPECT_FALSE(after.HasKey(c.progid));
  }
  EXPECT_FALSE(after.HasKey("TypeLib\\" + ToString(LIBID_QelStatsLib)));
  // Unregistered, the class is still found beside the executable.
  ComPtr<IDispatch> object;
  EXPECT_EQ(CreateInstance("QelStatsLib.QelBivariate", IID_IDispatch, object.out()), S_OK);

  // A registration pointing at a missing file is reported as such.
  {
    Registry broken;
    broken.SetValue("CLSID\\" + ToString(CLSID_QelOutlier) + "\\InprocServer32", "", "/nonexistent/libX.so");
    broken.Save(registry);
  }
  EXPECT_EQ(CreateInstance(CLSID_QelOutlier, IID_IDispatch, object.out()), CO_E_DLLNOTFOUND);
  std::optional<ErrorInfo> info = GetErrorInfo();
  ASSERT_TRUE(info);
  EXPECT_NE(info->description.find("/nonexistent/libX.so"), std::string::npos);
  std::filesystem::remove(registry);

  // qelregsvr names what went wrong.
  EXPECT_NE(std::system((regsvr + " -s /nonexistent/lib.so 2>/dev/null").c_str()), 0);
}

// The number under "name" in a JSON object printed by qelstats.
double JsonNumber(const std::string& json, const std::string& name) {
  const std::string key = "\"" + name + "\": ";
  const std::size_t at = json.find(key);
  if (at == std::string::npos) return NAN;
  return std::strtod(json.c_str() + at + key.size(), nullptr);
}

std::string Capture(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  ::pclose(pipe);
  return out;
}

// The component and the command line link the same engine: on the same data
// they must agree to the last bit.
TEST(ComServer, AgreesWithTheCommandLineOnTheSameData) {
  const std::string qelstats = QEL_BINARY_DIR "/bin/qelstats";
  if (!std::filesystem::exists(qelstats)) GTEST_SKIP() << "qelstats not built";
  const std::string csv = kDatasets + "/BaseBall.csv";

  const std::string uni = Capture(qelstats + " univariate --no-progress --json --csv '" + csv +
                                  "' --field Salary --weight AB");
  ComPtr<IDispatch> u = Create<IDispatch>(CLSID_QelUnivariate, IID_IDispatch);
  PutProperty(u.get(), "ConnectionString", Variant::String(kTextConnection));
  PutProperty(u.get(), "Source", Variant::String("BaseBall.csv"));
  PutProperty(u.get(), "FieldName", Variant::String("Salary"));
  PutProperty(u.get(), "WeightField", Variant::String("AB"));
  ASSERT_TRUE(CallMethod(u.get(), "Run").AsBool());
  for (const char* member : kUnivariateResults)
    EXPECT_EQ(GetProperty(u.get(), member).dbl(), JsonNumber(uni, member)) << member;

  const std::string out = Capture(qelstats + " outlier --no-progress --json --csv '" + csv +
                                  "' --field HR --rule tmean --parm 10");
  ComPtr<IDispatch> o = Create<IDispatch>(CLSID_QelOutlier, IID_IDispatch);
  PutProperty(o.get(), "ConnectionString", Variant::String(kTextConnection));
  PutProperty(o.get(), "Source", Variant::String("BaseBall.csv"));
  PutProperty(o.get(), "OutlierField", Variant::String("HR"));
  PutProperty(o.get(), "FindType", Variant::Int32(outTMean));
  PutProperty(o.get(), "TypeParm", Variant::Double(10));
  PutProperty(o.get(), "showStatus", Variant::Boolean(false));
  ASSERT_TRUE(CallMethod(o.get(), "Run").AsBool());
  for (const char* member : {"OutlierCountN", "OutlierCountWgt", "TrimmedMean", "Mean", "Stdev", "Median"})
    EXPECT_EQ(GetProperty(o.get(), member).dbl(), JsonNumber(out, member)) << member;

  const std::string biv = Capture(qelstats + " bivariate --no-progress --json --csv '" + csv +
                                  "' --predictor HR --target Salary --bins 5");
  ComPtr<IDispatch> b = Create<IDispatch>(CLSID_QelBivariate, IID_IDispatch);
  PutProperty(b.get(), "ConnectionString", Variant::String(kTextConnection));
  PutProperty(b.get(), "Source", Variant::String("BaseBall.csv"));
  PutProperty(b.get(), "PredictorField", Variant::String("HR"));
  PutProperty(b.get(), "TargetField", Variant::String("Salary"));
  PutProperty(b.get(), "BinCount", Variant::Int16(5));
  PutProperty(b.get(), "showStatus", Variant::Boolean(false));
  ASSERT_TRUE(CallMethod(b.get(), "Run").AsBool());
  for (const char* member : {"PSI", "DI", "N", "Missing", "TargetMean", "Cardinality"})
    EXPECT_EQ(GetProperty(b.get(), member).dbl(), JsonNumber(biv, member)) << member;
}

}  // namespace
