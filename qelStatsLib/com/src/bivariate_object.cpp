// QelBivariate as a component: _QelBivariate over qel::QelBivariate.
#include "qelStatsLib/QelBivariate.h"

#include "object_helpers.h"

namespace qel::com {
namespace {

using namespace qelcom;

using QelStatsLib::_QelBivariate;

class BivariateObject final : public AnalysisObject<_QelBivariate, qel::QelBivariate, kBivariateResults> {
 public:
  QEL_BOOL_PROPERTY(Categorical)
  HRESULT get_TargetMean(double* value) override { return ReadResult(Result("TargetMean"), value); }
  HRESULT get_DI(double* value) override { return ReadResult(Result("DI"), value); }
  HRESULT get_PSI(double* value) override { return ReadResult(Result("PSI"), value); }

  // The result tells whether the segmentation ran to the end (the class
  // itself leaves the variant empty; a host is better served by an answer).
  HRESULT Run(Variant* result) override { return RunShowingFailures(result); }
  // A clone per call, so a new object each time.
  HRESULT get_ResultSet(IDispatch** value) override {
    QEL_SLOT(*Require(value) = WrapRecordset(engine_.ResultSet()));
  }

  QEL_STRING_PROPERTY(PredictorField)
  QEL_STRING_PROPERTY(TargetField)
  HRESULT put_BinCount(std::int16_t value) override { QEL_SLOT(engine_.SetBinCount(value)); }
  HRESULT get_BinCount(std::int16_t* value) override { QEL_SLOT(*Require(value) = engine_.BinCount()); }
};

// The interface's help texts, by member name (TargetMean carries none).
constexpr std::pair<std::string_view, const char*> kHelp[] = {
    {"Cardinality",
     "Number of individual values the predictor field contains. This may be more or less than the number of "
     "bins requested."},
    {"Categorical",
     "Flag set at runtime to determine how to treat the Predictor variable in the processing.  Under certain "
     "conditions, this flag may be reset during processing to indicate the actual treatment of the predictor "
     "variable based on the characteristics discovered at the time of the procedure.  By default this is set to "
     "False. The value is determined True if the number of possible values of the predictor field is less than or "
     "equal to the number of bins/segments requested"},
    {"N", "Total weighted N of the data less any records with missing values"},
    {"Missing", "Number of records with missing target or predictor values"},
    {"DI", "Discontinuity Index generated as a result of the Bivariate run"},
    {"PSI", "Power of Segmentation Index as a result of the Bivariate run"},
    {"ConnectionString", "Connectionstring used to identify the database and drivers used to access input data."},
    {"showStatus", "Boolean indicator requesting user status display as the procedure runs."},
    {"Run", "Executes the bivariate function based on the parameters submitted."},
    {"ResultSet", "Resulting output from the procedure completion"},
    {"WeightField",
     "Field used to determine the weight that should be applied to each record found in the input dataset"},
    {"PredictorField",
     "Field used as an independent variable. Considered a predictor field since you are using this field to "
     "determine its relationship with the target."},
    {"TargetField", "Field to be used as dependent variable in the bivariate analysis."},
    {"BinCount", "Maximum number of bins to create in output data"},
    {"Source", "Source can be a table name our SQL string"},
    {"DataSource", "Incoming data to the Bivariate procedure"},
};

}  // namespace

// _QelBivariate in slot order, with its help texts.
std::span<const Member> BivariateMembers() {
  using I = _QelBivariate;
  static const std::vector<Member> members =
      MemberTable<BivariateObject>(0x68030010)
          .Results({"Cardinality"})
          .Property<&I::put_Categorical, &I::get_Categorical>("Categorical", VT_BOOL)
          .Results({"TargetMean", "N", "Missing", "DI", "PSI"})
          .ConnectionAndStatus()
          .Method<&I::Run>("Run", VT_VARIANT)
          .ResultSet()
          .WeightField()
          .Property<&I::put_PredictorField, &I::get_PredictorField>("PredictorField", VT_BSTR)
          .Property<&I::put_TargetField, &I::get_TargetField>("TargetField", VT_BSTR)
          .Property<&I::put_BinCount, &I::get_BinCount>("BinCount", VT_I2)
          .SourceAndDataSource()
          .Help(kHelp)
          .Numbered();
  return members;
}

IUnknown* NewBivariate() { return NewObject<BivariateObject>(); }

}  // namespace qel::com
