// QelBivariate as a component: _QelBivariate over qel::QelBivariate.
#include "qelStatsLib/QelBivariate.h"

#include "object_helpers.h"
#include "qelStatsLib/presenter.h"

namespace qel::com {
namespace {

using namespace qelcom;

using QelStatsLib::_QelBivariate;

class BivariateObject final : public AnalysisObject<_QelBivariate, qel::QelBivariate, kBivariateResults> {
 public:
  BivariateObject() : AnalysisObject(BivariateClass()) {}

  HRESULT get_Cardinality(double* value) override { return ReadResult(Result("Cardinality"), value); }
  QEL_BOOL_PROPERTY(Categorical)
  HRESULT get_TargetMean(double* value) override { return ReadResult(Result("TargetMean"), value); }
  HRESULT get_N(double* value) override { return ReadResult(Result("N"), value); }
  HRESULT get_Missing(double* value) override { return ReadResult(Result("Missing"), value); }
  HRESULT get_DI(double* value) override { return ReadResult(Result("DI"), value); }
  HRESULT get_PSI(double* value) override { return ReadResult(Result("PSI"), value); }

  // The result tells whether the segmentation ran to the end (the class
  // itself leaves the variant empty; a host is better served by an answer).
  HRESULT Run(Variant* result) override {
    QEL_SLOT({
      Require(result);
      bool ran = false;
      if (data_source_.foreign_disconnected)
        qel::CurrentPresenter().ShowMessage(std::string("Error: ") + DataSourceSlot::kForeignMessage);
      else
        ran = engine_.Run();
      *result = Variant::Boolean(ran);
    });
  }
  // A clone per call, so a new object each time.
  HRESULT get_ResultSet(IDispatch** value) override {
    QEL_SLOT(*Require(value) = WrapRecordset(engine_.ResultSet()));
  }

  QEL_STRING_PROPERTY(PredictorField)
  QEL_STRING_PROPERTY(TargetField)
  HRESULT put_BinCount(std::int16_t value) override { QEL_SLOT(engine_.SetBinCount(value)); }
  HRESULT get_BinCount(std::int16_t* value) override { QEL_SLOT(*Require(value) = engine_.BinCount()); }
};

// Help texts of the properties that have a setter and a getter.
constexpr const char* kCategoricalHelp =
    "Flag set at runtime to determine how to treat the Predictor variable in the processing.  Under certain "
    "conditions, this flag may be reset during processing to indicate the actual treatment of the predictor "
    "variable based on the characteristics discovered at the time of the procedure.  By default this is set to "
    "False. The value is determined True if the number of possible values of the predictor field is less than or "
    "equal to the number of bins/segments requested";
constexpr const char* kConnectionStringHelp =
    "Connectionstring used to identify the database and drivers used to access input data.";
constexpr const char* kShowStatusHelp = "Boolean indicator requesting user status display as the procedure runs.";
constexpr const char* kWeightFieldHelp =
    "Field used to determine the weight that should be applied to each record found in the input dataset";
constexpr const char* kPredictorFieldHelp =
    "Field used as an independent variable. Considered a predictor field since you are using this field to "
    "determine its relationship with the target.";
constexpr const char* kTargetFieldHelp = "Field to be used as dependent variable in the bivariate analysis.";
constexpr const char* kBinCountHelp = "Maximum number of bins to create in output data";
constexpr const char* kSourceHelp = "Source can be a table name our SQL string";
constexpr const char* kDataSourceHelp = "Incoming data to the Bivariate procedure";

// _QelBivariate in slot order, with its dispatch ids and help texts.
std::span<const Member> Members() {
  using I = _QelBivariate;
  using O = BivariateObject;
  static const Member members[] = {
      ResultGet<&I::get_Cardinality, O>(O::Result("Cardinality"), 0x6803001F,
      "Number of individual values the predictor field contains. This may be more or less than the number of "
      "bins requested."),
      SlotLet<&I::put_Categorical>("Categorical", VT_BOOL, 0x6803001E, kCategoricalHelp),
      SlotGet<&I::get_Categorical>("Categorical", VT_BOOL, 0x6803001E, kCategoricalHelp),
      ResultGet<&I::get_TargetMean, O>(O::Result("TargetMean"), 0x6803001D),
      ResultGet<&I::get_N, O>(O::Result("N"), 0x6803001C, "Total weighted N of the data less any records with missing values"),
      ResultGet<&I::get_Missing, O>(O::Result("Missing"), 0x6803001B, "Number of records with missing target or predictor values"),
      ResultGet<&I::get_DI, O>(O::Result("DI"), 0x6803001A, "Discontinuity Index generated as a result of the Bivariate run"),
      ResultGet<&I::get_PSI, O>(O::Result("PSI"), 0x68030019, "Power of Segmentation Index as a result of the Bivariate run"),
      SlotLet<&I::put_ConnectionString>("ConnectionString", VT_BSTR, 0x68030018, kConnectionStringHelp),
      SlotGet<&I::get_ConnectionString>("ConnectionString", VT_BSTR, 0x68030018, kConnectionStringHelp),
      SlotLet<&I::put_showStatus>("showStatus", VT_BOOL, 0x68030017, kShowStatusHelp),
      SlotGet<&I::get_showStatus>("showStatus", VT_BOOL, 0x68030017, kShowStatusHelp),
      SlotMethod<&I::Run>("Run", VT_VARIANT, 0x60030020, "Executes the bivariate function based on the parameters submitted."),
      SlotGet<&I::get_ResultSet>("ResultSet", VT_DISPATCH, 0x68030016, "Resulting output from the procedure completion"),
      SlotLet<&I::put_WeightField>("WeightField", VT_BSTR, 0x68030015, kWeightFieldHelp),
      SlotGet<&I::get_WeightField>("WeightField", VT_BSTR, 0x68030015, kWeightFieldHelp),
      SlotLet<&I::put_PredictorField>("PredictorField", VT_BSTR, 0x68030014, kPredictorFieldHelp),
      SlotGet<&I::get_PredictorField>("PredictorField", VT_BSTR, 0x68030014, kPredictorFieldHelp),
      SlotLet<&I::put_TargetField>("TargetField", VT_BSTR, 0x68030013, kTargetFieldHelp),
      SlotGet<&I::get_TargetField>("TargetField", VT_BSTR, 0x68030013, kTargetFieldHelp),
      SlotLet<&I::put_BinCount>("BinCount", VT_I2, 0x68030012, kBinCountHelp),
      SlotGet<&I::get_BinCount>("BinCount", VT_I2, 0x68030012, kBinCountHelp),
      SlotLet<&I::put_Source>("Source", VT_BSTR, 0x68030011, kSourceHelp),
      SlotGet<&I::get_Source>("Source", VT_BSTR, 0x68030011, kSourceHelp),
      SlotSet<&I::putref_DataSource>("DataSource", 0x68030010, kDataSourceHelp),
      SlotGet<&I::get_DataSource>("DataSource", VT_DISPATCH, 0x68030010, kDataSourceHelp),
  };
  return members;
}

}  // namespace

const ClassInfo& BivariateClass() {
  static const ClassInfo info{"QelBivariate",
                              "QelStatsLib.QelBivariate",
                              QelStatsLib::CLSID_QelBivariate,
                              QelStatsLib::IID__QelBivariate,
                              "_QelBivariate",
                              nullptr,
                              false,
                              &Members,
                              [] { return static_cast<IUnknown*>(static_cast<_QelBivariate*>(new BivariateObject())); }};
  return info;
}

}  // namespace qel::com
