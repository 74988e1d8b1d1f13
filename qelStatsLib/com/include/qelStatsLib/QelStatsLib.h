// The binary interface of libqelStatsLib.so, for hosts that create its classes
// at run time and never link the library. This one header is all a host
// includes: it brings the component layer (CreateInstance, ComPtr, Variant,
// error info, calls by name) and the recordset objects (WrapRecordset for a
// DataSource the host opened, UnwrapRecordset for a ResultSet).
//
//   qelcom::ComPtr<QelStatsLib::_QelUnivariate> u;
//   qelcom::CreateInstance(QelStatsLib::CLSID_QelUnivariate, QelStatsLib::IID__QelUnivariate, u.out());
//   u->put_ConnectionString("Text;DBQ=/data");
//   u->put_Source("BaseBall.csv");
//   u->put_FieldName("Salary");
//   qelcom::VARIANT_BOOL ok;
//   if (qelcom::Succeeded(u->Run(&ok)) && ok) { double mean; u->get_Mean(&mean); }
//
// Every interface is dual: the same members are reachable by name through
// IDispatch (GetIDsOfNames ignores case; Invoke takes the dispatch ids noted
// below). The order of the virtual functions is the slot order hosts bind to:
// never reorder them. Strings passed in are UTF-8 and stay the caller's;
// strings and objects handed out belong to the caller (SysFreeString,
// Release). Booleans are 16-bit, true = -1.
//
// A failing call returns its error number as the HRESULT (0x800403E8 for the
// library's input errors) and leaves number, source and description in the
// calling thread's error info (qelcom::GetErrorInfo). Objects answer only on
// the thread that created them; any other thread gets RPC_E_WRONG_THREAD.
#pragma once

#include <cstdint>

#include "qelcom/guid.h"
#include "qelcom/interfaces.h"
#include "qelcom/qelcom.h"
#include "qelcom/recordset_object.h"

namespace QelStatsLib {

using qelcom::BSTR;
using qelcom::HRESULT;
using qelcom::IDispatch;
using qelcom::Variant;
using qelcom::VARIANT_BOOL;

// The type library.
inline constexpr qelcom::GUID LIBID_QelStatsLib = qelcom::MakeGuid("{BBBC580D-1FFE-11D6-BED1-00E09804AE2F}");
inline constexpr const char* kTypeLibName = "QelStatsLib";
inline constexpr const char* kTypeLibDescription = "Data Mining Statistical Library";
inline constexpr std::uint16_t kTypeLibMajor = 7;
inline constexpr std::uint16_t kTypeLibMinor = 0;
inline constexpr qelcom::LCID kTypeLibLcid = 1033;

// Classes (ProgIDs "QelStatsLib.<class>") and their default interfaces.
inline constexpr qelcom::GUID CLSID_QelBivariate = qelcom::MakeGuid("{BBBC580F-1FFE-11D6-BED1-00E09804AE2F}");
inline constexpr qelcom::GUID IID__QelBivariate = qelcom::MakeGuid("{402E0C96-2360-11D6-BEDC-00E09804AE2F}");
inline constexpr qelcom::GUID CLSID_QelStatFctn = qelcom::MakeGuid("{A78D66FA-20AE-11D6-BED3-00E09804AE2F}");
inline constexpr qelcom::GUID IID__QelStatFctn = qelcom::MakeGuid("{402E0C97-2360-11D6-BEDC-00E09804AE2F}");
inline constexpr qelcom::GUID CLSID_QelUnivariate = qelcom::MakeGuid("{6D1C7106-26F0-11D6-BEE4-00E09804AE2F}");
inline constexpr qelcom::GUID IID__QelUnivariate = qelcom::MakeGuid("{6D1C7105-26F0-11D6-BEE4-00E09804AE2F}");
inline constexpr qelcom::GUID CLSID_QelOutlier = qelcom::MakeGuid("{6D1C7104-26F0-11D6-BEE4-00E09804AE2F}");
inline constexpr qelcom::GUID IID__QelOutlier = qelcom::MakeGuid("{6D1C7103-26F0-11D6-BEE4-00E09804AE2F}");

// The outlier rule of QelOutlier.FindType.
inline constexpr qelcom::GUID GUID_OutlierType = qelcom::MakeGuid("{C952A800-2345-11D6-BEDC-00E09804AE2F}");
enum OutlierType : std::int32_t { outSTD = 1, outTMean = 2 };

// The library's input error (the component error base 0x80040000 plus 1000).
inline constexpr HRESULT kErrLibraryInput = static_cast<HRESULT>(0x800403E8);

// Descriptive statistics of one numeric field. Dispatch ids 0x68030000 +
// (DataSource 0x00 ... Uniques 0x1A); Run is 0x6003001B.
class _QelUnivariate : public IDispatch {
 public:
  virtual HRESULT get_Uniques(double* value) = 0;
  virtual HRESULT get_CV(double* value) = 0;
  virtual HRESULT get_Kurtosis(double* value) = 0;
  virtual HRESULT get_Skewness(double* value) = 0;
  virtual HRESULT get_Q3(double* value) = 0;
  virtual HRESULT get_Q1(double* value) = 0;
  virtual HRESULT get_IQR(double* value) = 0;
  virtual HRESULT get_Median(double* value) = 0;
  virtual HRESULT get_Range(double* value) = 0;
  virtual HRESULT get_Mode(double* value) = 0;
  virtual HRESULT get_WgtN(double* value) = 0;
  virtual HRESULT get_Sum(double* value) = 0;
  virtual HRESULT get_Max(double* value) = 0;
  virtual HRESULT get_Min(double* value) = 0;
  virtual HRESULT get_TrimmedMean(double* value) = 0;
  virtual HRESULT get_Mean(double* value) = 0;
  virtual HRESULT get_Variance(double* value) = 0;
  virtual HRESULT get_Stdev(double* value) = 0;
  virtual HRESULT put_FieldName(const char* value) = 0;
  virtual HRESULT get_FieldName(BSTR* value) = 0;
  virtual HRESULT get_Cardinality(double* value) = 0;
  virtual HRESULT get_N(double* value) = 0;
  virtual HRESULT get_Missing(double* value) = 0;
  virtual HRESULT put_ConnectionString(const char* value) = 0;
  virtual HRESULT get_ConnectionString(BSTR* value) = 0;
  virtual HRESULT put_showStatus(VARIANT_BOOL value) = 0;
  virtual HRESULT get_showStatus(VARIANT_BOOL* value) = 0;
  // True when all statistics were computed; input errors fail the call.
  virtual HRESULT Run(VARIANT_BOOL* result) = 0;
  virtual HRESULT put_WeightField(const char* value) = 0;
  virtual HRESULT get_WeightField(BSTR* value) = 0;
  virtual HRESULT put_Source(const char* value) = 0;
  virtual HRESULT get_Source(BSTR* value) = 0;
  // Reads ActiveConnection, its ConnectionString, and Source of `value` by name.
  virtual HRESULT putref_DataSource(IDispatch* value) = 0;
  virtual HRESULT get_DataSource(IDispatch** value) = 0;

 protected:
  ~_QelUnivariate() = default;
};

// Outlier detection on one numeric field. Dispatch ids 0x68030000 +
// (DataSource 0x00 ... Median 0x19); Run is 0x6003001A. FindType and
// TypeParm can be written but not read back.
class _QelOutlier : public IDispatch {
 public:
  virtual HRESULT get_Median(double* value) = 0;
  virtual HRESULT get_Q1(double* value) = 0;
  virtual HRESULT get_Q3(double* value) = 0;
  virtual HRESULT get_SumWgt(double* value) = 0;
  virtual HRESULT get_WgtN(double* value) = 0;
  virtual HRESULT put_TypeParm(double value) = 0;
  virtual HRESULT put_FindType(OutlierType value) = 0;
  virtual HRESULT get_OutlierCountN(double* value) = 0;
  virtual HRESULT get_OutlierCountWgt(double* value) = 0;
  virtual HRESULT get_Sum(double* value) = 0;
  virtual HRESULT get_Max(double* value) = 0;
  virtual HRESULT get_Min(double* value) = 0;
  virtual HRESULT get_TrimmedMean(double* value) = 0;
  virtual HRESULT get_Mean(double* value) = 0;
  virtual HRESULT get_Variance(double* value) = 0;
  virtual HRESULT get_Stdev(double* value) = 0;
  virtual HRESULT put_OutlierField(const char* value) = 0;
  virtual HRESULT get_OutlierField(BSTR* value) = 0;
  virtual HRESULT get_Cardinality(double* value) = 0;
  virtual HRESULT get_N(double* value) = 0;
  virtual HRESULT get_Missing(double* value) = 0;
  virtual HRESULT put_ConnectionString(const char* value) = 0;
  virtual HRESULT get_ConnectionString(BSTR* value) = 0;
  virtual HRESULT put_showStatus(VARIANT_BOOL value) = 0;
  virtual HRESULT get_showStatus(VARIANT_BOOL* value) = 0;
  // A boolean variant: false when a check or the opening of the input failed
  // (the library then showed "Error: ..." to the user).
  virtual HRESULT Run(Variant* result) = 0;
  // The result table (a recordset object), or nullptr when there is none.
  virtual HRESULT get_ResultSet(IDispatch** value) = 0;
  virtual HRESULT put_WeightField(const char* value) = 0;
  virtual HRESULT get_WeightField(BSTR* value) = 0;
  virtual HRESULT put_Source(const char* value) = 0;
  virtual HRESULT get_Source(BSTR* value) = 0;
  virtual HRESULT putref_DataSource(IDispatch* value) = 0;
  virtual HRESULT get_DataSource(IDispatch** value) = 0;

 protected:
  ~_QelOutlier() = default;
};

// Bivariate segmentation of a predictor against a numeric target. Dispatch
// ids 0x68030000 + (DataSource 0x10 ... Cardinality 0x1F); Run is 0x60030020.
class _QelBivariate : public IDispatch {
 public:
  virtual HRESULT get_Cardinality(double* value) = 0;
  virtual HRESULT put_Categorical(VARIANT_BOOL value) = 0;
  virtual HRESULT get_Categorical(VARIANT_BOOL* value) = 0;
  virtual HRESULT get_TargetMean(double* value) = 0;
  virtual HRESULT get_N(double* value) = 0;
  virtual HRESULT get_Missing(double* value) = 0;
  virtual HRESULT get_DI(double* value) = 0;
  virtual HRESULT get_PSI(double* value) = 0;
  virtual HRESULT put_ConnectionString(const char* value) = 0;
  virtual HRESULT get_ConnectionString(BSTR* value) = 0;
  virtual HRESULT put_showStatus(VARIANT_BOOL value) = 0;
  virtual HRESULT get_showStatus(VARIANT_BOOL* value) = 0;
  // A boolean variant: true when the segmentation ran to the end.
  virtual HRESULT Run(Variant* result) = 0;
  // A clone of the result table, the empty six-column table after a failed
  // or cancelled run, or nullptr before any run.
  virtual HRESULT get_ResultSet(IDispatch** value) = 0;
  virtual HRESULT put_WeightField(const char* value) = 0;
  virtual HRESULT get_WeightField(BSTR* value) = 0;
  virtual HRESULT put_PredictorField(const char* value) = 0;
  virtual HRESULT get_PredictorField(BSTR* value) = 0;
  virtual HRESULT put_TargetField(const char* value) = 0;
  virtual HRESULT get_TargetField(BSTR* value) = 0;
  virtual HRESULT put_BinCount(std::int16_t value) = 0;
  virtual HRESULT get_BinCount(std::int16_t* value) = 0;
  virtual HRESULT put_Source(const char* value) = 0;
  virtual HRESULT get_Source(BSTR* value) = 0;
  virtual HRESULT putref_DataSource(IDispatch* value) = 0;
  virtual HRESULT get_DataSource(IDispatch** value) = 0;

 protected:
  ~_QelBivariate() = default;
};

// Scalar functions. Arguments are passed by reference and never written; a
// failed computation returns -9999999 as *result (the call itself succeeds).
// Dispatch ids 0x60030000 (ArcSin) to 0x60030015 (Dist_Fctn) in slot order.
class _QelStatFctn : public IDispatch {
 public:
  virtual HRESULT ArcSin(double* x, double* result) = 0;
  virtual HRESULT Secant(double* x, double* result) = 0;
  virtual HRESULT CoSec(double* x, double* result) = 0;
  virtual HRESULT CoTan(double* x, double* result) = 0;
  virtual HRESULT ArcCos(double* x, double* result) = 0;
  virtual HRESULT ArcCosSec(double* x, double* result) = 0;
  virtual HRESULT ArcCoTan(double* x, double* result) = 0;
  virtual HRESULT HSin(double* x, double* result) = 0;
  virtual HRESULT HCos(double* x, double* result) = 0;
  virtual HRESULT HTan(double* x, double* result) = 0;
  virtual HRESULT HSec(double* x, double* result) = 0;
  virtual HRESULT HCoSec(double* x, double* result) = 0;
  virtual HRESULT HCoTan(double* x, double* result) = 0;
  virtual HRESULT HArcsin(double* x, double* result) = 0;
  virtual HRESULT HArccos(double* x, double* result) = 0;
  virtual HRESULT HArctan(double* x, double* result) = 0;
  virtual HRESULT HArcsec(double* x, double* result) = 0;
  virtual HRESULT HArcCoSec(double* x, double* result) = 0;
  virtual HRESULT HArcCoTan(double* x, double* result) = 0;
  virtual HRESULT LogN(double* x, double* N, double* result) = 0;
  virtual HRESULT DTOR(double* x, double* result) = 0;
  virtual HRESULT Dist_Fctn(double* lat1, double* long1, double* lat2, double* long2, double* result) = 0;

 protected:
  ~_QelStatFctn() = default;
};

}  // namespace QelStatsLib
