#include "frmMain.h"

#include <algorithm>
#include <ctime>
#include <initializer_list>
#include <iterator>
#include <exception>

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionTabWidgetFrame>
#include <QTabWidget>
#include <QTableView>

#include "QtResize.h"
#include "RecordsetModel.h"
#include "frmAbout.h"
#include "modCommon.h"
#include "qelStatsLib/QelStatsLib.h"
#include "qelcom/activation.h"
#include "qelcom/com_ptr.h"
#include "qelcom/dispatch.h"
#include "qelcom/error_info.h"
#include "qelcom/recordset_object.h"
#include "qeldata/recordset.h"
#include "qelStatsLib/modBivariate.h"
#include "qelStatsLib/modOutlier.h"
#include "qelStatsLib/modUnivariate.h"

using modCommon::PixelsFromTwips;
using qelcom::ComPtr;

namespace {

const char* const kDescription1 =
    "This small application demonstrates some of the features and functions found in the Orvanto Statistical "
    "Library. Included with this demo are two data files containing typical data used in data mining projects.  "
    "One is baseball salary information from 1996, the other is College admission information from colleges "
    "around the United States.   ";
const char* const kDescription2 =
    "While this demo is relatively simple in the sense there are no graphs, charts or other common data discovery "
    "presentation methods, it does not mean this type of presentation is not possible.  On the contrary, our "
    "components provide you the flexibility to build your own user interface to match your application needs.  "
    "Orvanto has an entire workbench of data mining tools with graphical interfaces, however this is beyond the "
    "scope of this demo.";

// The tab control: three pages whose controls are laid out relative to the
// tab control itself, as the program's layout gives them.
class TabControl : public QTabWidget {
 public:
  using QTabWidget::QTabWidget;
  // Where a page lies inside the tab control at its current size.
  QRect PageRect() {
    ensurePolished();
    QStyleOptionTabWidgetFrame option;
    initStyleOption(&option);
    return style()->subElementRect(QStyle::SE_TabWidgetTabContents, &option, this);
  }
};

// A new object of the library's class `progid` (identity `clsid`) through
// its default interface, created by class identity at run time for one
// click. Empty, after telling the user over `window`, when the class is not
// available.
template <class I>
ComPtr<I> CreateObject(QWidget* window, const qelcom::GUID& clsid, const qelcom::GUID& iid, const char* progid) {
  ComPtr<I> object;
  const qelcom::HRESULT hr = qelcom::CreateInstance(clsid, iid, object.out());
  if (qelcom::Failed(hr) || !object) {
    const auto info = qelcom::GetErrorInfo();
    const QString error = info && !info->description.empty()
                              ? QString::fromStdString(info->description)
                              : QStringLiteral("error 0x%1").arg(static_cast<quint32>(hr), 8, 16, QLatin1Char('0'));
    modCommon::ShowMessage(window,
                           QStringLiteral("The class %1 is not available: ").arg(QLatin1String(progid)) + error);
    return {};
  }
  return object;
}

// Calls `run` and writes the whole seconds it took, by the clock, into `box`.
template <class Run>
void ShowElapsed(QLineEdit* box, Run run) {
  const std::time_t start = std::time(nullptr);
  run();
  box->setText(QString::number(static_cast<long long>(std::time(nullptr) - start)));
  box->repaint();
}

// A clone of the open dataset in a recordset object, as DataSource takes it.
ComPtr<qelcom::IDispatch> DataSourceClone(const std::shared_ptr<qeldata::Recordset>& dataset) {
  if (!dataset) return {};
  try {
    return ComPtr<qelcom::IDispatch>::Attach(qelcom::WrapRecordset(dataset->Clone(qeldata::adLockUnspecified)));
  } catch (const std::exception&) {
    return {};
  }
}

QByteArray Utf8(const QString& text) { return text.toUtf8(); }

// A result box and the result it shows: a member of the analysis's run
// record, as the engine's result table names it.
template <class Record>
struct ResultBox {
  QLineEdit* box;
  double Record::*result;
};

// Writes into each box the result `object` reports under the name its row of
// the engine's result table `table` gives it, read by name through the
// object's dispatch interface. A box whose result the object could not report
// keeps its text. A box too narrow for the whole number shows it whole as its
// tooltip.
template <class Record, std::size_t N>
void ShowResults(qelcom::IDispatch* object, const qel::ResultMember<Record> (&table)[N],
                 std::initializer_list<ResultBox<Record>> boxes) {
  for (const ResultBox<Record>& b : boxes) {
    const auto row = std::find_if(std::begin(table), std::end(table),
                                  [&](const qel::ResultMember<Record>& r) { return r.member == b.result; });
    if (row == std::end(table)) continue;
    qelcom::Variant value, number;
    if (qelcom::Failed(qelcom::InvokeByName(object, row->name, qelcom::DISPATCH_PROPERTYGET, {}, &value)) ||
        qelcom::Failed(value.ChangeType(qelcom::VT_R8, &number)))
      continue;
    const QString text = modCommon::ResultText(number.dbl());
    b.box->setText(text);
    b.box->setCursorPosition(0);  // the leading digits matter most
    b.box->setToolTip(modCommon::TextFits(*b.box, text) ? QString() : text);
  }
}

}  // namespace

frmMain::frmMain(QWidget* parent) : QMainWindow(parent), grid_model_(new RecordsetModel(this)) {
  setObjectName(QStringLiteral("frmMain"));
  setWindowTitle(QStringLiteral("Orvanto Component Demo Project"));
  setFont(modCommon::ProgramFont());

  auto* inner = new QWidget(this);
  inner->setObjectName(QStringLiteral("frmMainClient"));
  setCentralWidget(inner);
  BuildMenu();

  Label2 = AddLabel(inner, QStringLiteral("Label2"), QString::fromLatin1(kDescription1), 120, 120, 10575, 615);
  Label39 = AddLabel(inner, QStringLiteral("Label39"), QString::fromLatin1(kDescription2), 120, 840, 10575, 855);
  Label2->setWordWrap(true);
  Label39->setWordWrap(true);
  Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Label39->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  auto* tabs = new TabControl(inner);
  SSTab1 = tabs;
  Place(SSTab1, inner, QStringLiteral("SSTab1"), 120, 1920, 4335, 4695);
  auto* biv_page = new QWidget;
  auto* outl_page = new QWidget;
  auto* uni_page = new QWidget;
  biv_page->setObjectName(QStringLiteral("SSTab1Page0"));
  outl_page->setObjectName(QStringLiteral("SSTab1Page1"));
  uni_page->setObjectName(QStringLiteral("SSTab1Page2"));
  SSTab1->addTab(biv_page, QStringLiteral("Bivariate Parms"));
  SSTab1->addTab(outl_page, QStringLiteral("Outlier"));
  SSTab1->addTab(uni_page, QStringLiteral("Univariate"));
  const QPoint origin = tabs->PageRect().topLeft();
  for (QWidget* page : {biv_page, outl_page, uni_page}) page_origins_.insert(page, origin);

  Label40 = AddLabel(inner, QStringLiteral("Label40"), QStringLiteral("Results Table"), 4560, 1800, 1695, 255);
  MSHFlexGrid1 = new QTableView(inner);
  Place(MSHFlexGrid1, inner, QStringLiteral("MSHFlexGrid1"), 4560, 2040, 2895, 4575);
  MSHFlexGrid1->setModel(grid_model_);
  MSHFlexGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  MSHFlexGrid1->verticalHeader()->setDefaultSectionSize(18);
  MSHFlexGrid1->horizontalHeader()->setDefaultSectionSize(64);

  Label1 = AddLabel(inner, QStringLiteral("Label1"), QStringLiteral("Data File"), 7680, 2190, 1095, 255);
  Combo1 = AddCombo(inner, QStringLiteral("Combo1"), 8400, 2160, 2055, 315);

  Frame4 = AddFrame(inner, QStringLiteral("Frame4"), QStringLiteral("Field Options"), 7680, 3240, 2775, 1575);
  Label6 = AddLabel(Frame4, QStringLiteral("Label6"), QStringLiteral("Predictor"), 240, 390, 1095, 255);
  Combo2 = AddCombo(Frame4, QStringLiteral("Combo2"), 960, 360, 1575, 315);
  Label5 = AddLabel(Frame4, QStringLiteral("Label5"), QStringLiteral("Target"), 360, 735, 1095, 255);
  Combo3 = AddCombo(Frame4, QStringLiteral("Combo3"), 960, 720, 1575, 315);
  Label10 = AddLabel(Frame4, QStringLiteral("Label10"), QStringLiteral("Weight"), 360, 1095, 1095, 255);
  Combo4 = AddCombo(Frame4, QStringLiteral("Combo4"), 960, 1080, 1575, 315);

  Frame6 = AddFrame(inner, QStringLiteral("Frame6"), QStringLiteral("Performance"), 7680, 5280, 2775, 615);
  Label12[0] = AddLabel(Frame6, QStringLiteral("Label12"), QStringLiteral("Elapsed Time"), 120, 240, 975, 255);
  Label12[0]->setProperty("index", 0);
  Text12 = AddText(Frame6, QStringLiteral("Text12"), 1200, 240, 975, 285);
  Label12[1] = AddLabel(Frame6, QStringLiteral("Label12"), QStringLiteral("Sec."), 2160, 240, 375, 255);
  Label12[1]->setProperty("index", 1);

  cmdExit = AddButton(inner, QStringLiteral("cmdExit"), QStringLiteral("Exit"), 8400, 6240, 1815, 375);

  BuildBivariateTab(biv_page);
  BuildOutlierTab(outl_page);
  BuildUnivariateTab(uni_page);
  SSTab1->setCurrentIndex(1);

  // Client area 10995 x 7125 twips below the menu bar.
  inner->resize(PixelsFromTwips(10995), PixelsFromTwips(7125));
  resize(PixelsFromTwips(10995), PixelsFromTwips(7125) + menuBar()->sizeHint().height());

  connect(Combo1, &QComboBox::activated, this, [this] { Combo1_Click(); });
  connect(cmdBivariates, &QPushButton::clicked, this, &frmMain::cmdBivariates_Click);
  connect(cmdExecuteOutl, &QPushButton::clicked, this, &frmMain::cmdExecuteOutl_Click);
  connect(cmdUnivariate, &QPushButton::clicked, this, &frmMain::cmdUnivariate_Click);
  connect(cmdExit, &QPushButton::clicked, this, &QWidget::close);

  // Load.
  CenterForm();
  Combo1->clear();
  Combo1->insertItem(0, QStringLiteral("BaseBall"));
  Combo1->insertItem(1, QStringLiteral("College"));
  Combo1->update();
  Combo1->setCurrentIndex(0);
  Combo1_Click();
  FillFieldLists();
  Text11->setText(QStringLiteral("10"));
  Text11->update();
}

frmMain::~frmMain() { Unload(); }

void frmMain::Place(QWidget* widget, QWidget* parent, const QString& name, int left, int top, int width,
                    int height) {
  widget->setObjectName(name);
  if (widget->parentWidget() != parent) widget->setParent(parent);
  const QPoint origin = page_origins_.value(parent);
  widget->setGeometry(PixelsFromTwips(left) - origin.x(), PixelsFromTwips(top) - origin.y(), PixelsFromTwips(width),
                      PixelsFromTwips(height));
  controls_.append(widget);
}

QLabel* frmMain::AddLabel(QWidget* parent, const QString& name, const QString& text, int left, int top, int width,
                          int height) {
  return Placed(new QLabel(text, parent), parent, name, left, top, width, height);
}

QLineEdit* frmMain::AddText(QWidget* parent, const QString& name, int left, int top, int width, int height) {
  return Placed(new QLineEdit(parent), parent, name, left, top, width, height);
}

QComboBox* frmMain::AddCombo(QWidget* parent, const QString& name, int left, int top, int width, int height) {
  auto* combo = new QComboBox(parent);
  combo->setEditable(true);
  combo->setInsertPolicy(QComboBox::NoInsert);
  return Placed(combo, parent, name, left, top, width, height);
}

QGroupBox* frmMain::AddFrame(QWidget* parent, const QString& name, const QString& caption, int left, int top,
                             int width, int height) {
  return Placed(new QGroupBox(caption, parent), parent, name, left, top, width, height);
}

QPushButton* frmMain::AddButton(QWidget* parent, const QString& name, const QString& caption, int left, int top,
                                int width, int height) {
  auto* button = new QPushButton(caption, parent);
  button->setAutoDefault(false);
  return Placed(button, parent, name, left, top, width, height);
}

QCheckBox* frmMain::AddCheck(QWidget* parent, const QString& name, const QString& caption, int left, int top,
                             int width, int height) {
  return Placed(new QCheckBox(caption, parent), parent, name, left, top, width, height);
}

QLineEdit* frmMain::AddResult(QWidget* parent, const QString& box, const QString& caption, int left, int label_top,
                              int box_top, int label_width, int box_width) {
  AddLabel(parent, QStringLiteral("lbl") + box, caption, left, label_top, label_width, 255);
  return AddText(parent, box, left, box_top, box_width, 285);
}

void frmMain::AddResultColumn(QWidget* parent, int left, int first_label_top, int label_width, int box_width,
                              std::initializer_list<ResultSpec> boxes) {
  int label_top = first_label_top;
  for (const ResultSpec& b : boxes) {
    *b.box = AddResult(parent, QString::fromLatin1(b.name), QString::fromLatin1(b.caption), left, label_top,
                       label_top + 240, b.label_width ? b.label_width : label_width, box_width);
    label_top += 600;
  }
}

void frmMain::BuildMenu() {
  mnuHelp = menuBar()->addMenu(QStringLiteral("&Help"));
  mnuHelp->setObjectName(QStringLiteral("mnuHelp"));
  mnuHelpContents = mnuHelp->addAction(QStringLiteral("&Contents"));
  mnuHelpContents->setObjectName(QStringLiteral("mnuHelpContents"));
  mnuHelpSearch = mnuHelp->addAction(QStringLiteral("&Search For Help On..."));
  mnuHelpSearch->setObjectName(QStringLiteral("mnuHelpSearch"));
  mnuHelpBar1 = mnuHelp->addSeparator();
  mnuHelpBar1->setObjectName(QStringLiteral("mnuHelpBar1"));
  mnuHelpBar1->setText(QStringLiteral("-"));
  mnuHelpAbout = mnuHelp->addAction(QStringLiteral("&About Orvanto Statisical Components"));
  mnuHelpAbout->setObjectName(QStringLiteral("mnuHelpAbout"));

  connect(mnuHelpContents, &QAction::triggered, this, [this] { modCommon::ShowHelp(modCommon::kHelpDisplayTopic, this); });
  connect(mnuHelpSearch, &QAction::triggered, this, [this] { modCommon::ShowHelp(modCommon::kHelpDisplayTopic, this); });
  connect(mnuHelpAbout, &QAction::triggered, this, [this] {
    frmAbout about(this);
    about.exec();
  });
}

void frmMain::BuildBivariateTab(QWidget* page) {
  Frame1 = AddFrame(page, QStringLiteral("Frame1"), QStringLiteral("Output Diagnostics"), 120, 480, 3855, 3975);
  AddResultColumn(Frame1, 120, 360, 975, 975,
                  {{&Text3, "Text3", "PSI"}, {&Text4, "Text4", "DI"}, {&Text7, "Text7", "Missings"},
                   {&Text8, "Text8", "N Total"}, {&Text9, "Text9", "Target Mean", 1575}});
  Check1 = AddCheck(Frame1, QStringLiteral("Check1"), QStringLiteral("Categorical?"), 1320, 600, 1455, 255);
  Frame5 = AddFrame(Frame1, QStringLiteral("Frame5"), QStringLiteral("Segmentation Options"), 1320, 1080, 1935, 975);
  AddLabel(Frame5, QStringLiteral("lblText11"), QStringLiteral("Bins"), 240, 360, 735, 255);
  Text11 = AddText(Frame5, QStringLiteral("Text11"), 720, 360, 615, 285);
  cmdBivariates =
      AddButton(Frame1, QStringLiteral("cmdBivariates"), QStringLiteral("Execute Bivariates"), 2160, 3480, 1455, 375);
}

void frmMain::BuildOutlierTab(QWidget* page) {
  Frame2 = AddFrame(page, QStringLiteral("Frame2"), QStringLiteral("Output Diagnostics"), 120, 480, 3855, 3975);
  AddResultColumn(Frame2, 120, 240, 975, 975,
                  {{&Text14, "Text14", "Mean"}, {&Text13, "Text13", "Total N"}, {&Text15, "Text15", "Wgt Total"},
                   {&Text16, "Text16", "Std"}, {&Text17, "Text17", "Variance"}, {&Text18, "Text18", "N Outliers"}});
  AddResultColumn(Frame2, 1200, 240, 975, 975,
                  {{&Text19, "Text19", "Wgt N Outl"}, {&Text20, "Text20", "Min"}, {&Text21, "Text21", "Max"}});
  AddResultColumn(Frame2, 2280, 240, 975, 975, {{&Text22, "Text22", "Outlier Parm"}});
  Text22->setText(QStringLiteral("2"));
  ckType = AddCheck(Frame2, QStringLiteral("ckType"), QStringLiteral("Stdev Type"), 2280, 960, 1335, 255);
  ckType->setChecked(true);
  cmdExecuteOutl =
      AddButton(Frame2, QStringLiteral("cmdExecuteOutl"), QStringLiteral("Outlier Execute"), 2040, 3480, 1575, 375);
}

void frmMain::BuildUnivariateTab(QWidget* page) {
  Frame3 = AddFrame(page, QStringLiteral("Frame3"), QStringLiteral("Univariate Info"), 120, 480, 3855, 3975);
  AddResultColumn(Frame3, 120, 240, 735, 855,
                  {{&Text23, "Text23", "N"}, {&Text24, "Text24", "Wgt N"}, {&Text25, "Text25", "Mean"},
                   {&Text26, "Text26", "Median"}, {&Text27, "Text27", "Mode"}, {&Text28, "Text28", "StDev"}});
  AddResultColumn(Frame3, 1080, 240, 735, 855,
                  {{&Text29, "Text29", "Variance"}, {&Text30, "Text30", "Min"}, {&Text31, "Text31", "Max"},
                   {&Text32, "Text32", "Range"}, {&Text33, "Text33", "Q1"}, {&Text34, "Text34", "Q3"}});
  AddResultColumn(Frame3, 2040, 240, 735, 855,
                  {{&Text35, "Text35", "IQR"}, {&Text36, "Text36", "Kurtosis"}, {&Text37, "Text37", "Skewness"},
                   {&Text38, "Text38", "Cardinality"}});
  cmdUnivariate =
      AddButton(page, QStringLiteral("cmdUnivariate"), QStringLiteral("Execute Univariates"), 2160, 3960, 1695, 375);
}

void frmMain::CenterForm() {
  const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;  // nowhere to centre on: left where it is
  const QRect area = screen->geometry();
  const QSize size = frameGeometry().size();
  move(area.left() + (area.width() - size.width()) / 2, area.top() + (area.height() - size.height()) / 2);
}

void frmMain::Combo1_Click() {
  const QString name = Combo1->currentText();
  const QString folder = modCommon::DatasetsFolder();
  auto recordset = std::make_shared<qeldata::Recordset>();
  try {
    recordset->SetCursorLocation(qeldata::adUseClient);
    recordset->Open(modCommon::DatasetSource(name).toStdString(),
                    modCommon::DatasetConnectionString(folder).toStdString(), qeldata::adOpenDynamic,
                    qeldata::adLockOptimistic, -1);
  } catch (const std::exception& e) {
    modCommon::ShowMessage(this, QStringLiteral("The data file %1 cannot be opened: %2")
                                     .arg(folder + QLatin1Char('/') + name + QStringLiteral(".csv"),
                                          QString::fromUtf8(e.what())));
    // The window keeps showing the dataset that is still open.
    const int open = Combo1->findText(dataset_name_);
    if (open >= 0) {
      Combo1->setCurrentIndex(open);
    } else {
      Combo1->setEditText(dataset_name_);
    }
    return;
  }
  dataset_ = std::move(recordset);
  dataset_name_ = name;
  FillFieldLists();
}

void frmMain::FillFieldLists() {
  Combo2->clear();
  Combo3->clear();
  Combo4->clear();
  Combo4->addItem(QStringLiteral("None"));
  if (dataset_) {
    const qeldata::Fields fields = dataset_->GetFields();
    for (int i = 0; i < fields.Count(); ++i) {
      const QString name = QString::fromStdString(fields.Item(i).Name());
      Combo2->addItem(name);
      Combo3->addItem(name);
      Combo4->addItem(name);
    }
  }
  Combo2->setCurrentIndex(0);
  Combo3->setCurrentIndex(0);
  Combo4->setCurrentIndex(0);
}

void frmMain::cmdBivariates_Click() {
  auto biv = CreateObject<QelStatsLib::_QelBivariate>(this, QelStatsLib::CLSID_QelBivariate,
                                                      QelStatsLib::IID__QelBivariate, "QelStatsLib.QelBivariate");
  if (!biv) return;
  // Every step below ignores its own failure and the next one runs.
  biv->put_PredictorField(Utf8(Combo2->currentText()).constData());
  biv->put_TargetField(Utf8(Combo3->currentText()).constData());
  if (Combo4->currentText() != QLatin1String("None")) biv->put_WeightField(Utf8(Combo4->currentText()).constData());
  if (const auto bins = modCommon::BinCountFromText(Text11->text())) biv->put_BinCount(*bins);
  if (auto source = DataSourceClone(dataset_)) biv->putref_DataSource(source.get());
  biv->put_showStatus(qelcom::VARIANT_TRUE);
  if (Check1->isChecked()) biv->put_Categorical(qelcom::VARIANT_TRUE);

  qelcom::Variant result;
  ShowElapsed(Text12, [&] { biv->Run(&result); });

  ComPtr<qelcom::IDispatch> table;
  if (qelcom::Succeeded(biv->get_ResultSet(table.typed_out())) && table) {
    if (auto rs = qelcom::UnwrapRecordset(table.get())) {
      try {
        grid_model_->setRecordset(rs->Clone(qeldata::adLockUnspecified));
        MSHFlexGrid1->resizeColumnsToContents();
      } catch (const std::exception&) {
        // The grid keeps its previous table.
      }
    }
  }
  using B = qel::BivariateRecord;
  ShowResults<B>(biv.get(), qel::kBivariateResults,
                 {{Text3, &B::PSI}, {Text4, &B::DI}, {Text7, &B::Missing}, {Text8, &B::N}, {Text9, &B::TargetMean}});
  qelcom::VARIANT_BOOL categorical = qelcom::VARIANT_FALSE;
  if (qelcom::Succeeded(biv->get_Categorical(&categorical))) Check1->setChecked(categorical != qelcom::VARIANT_FALSE);
  MSHFlexGrid1->viewport()->update();
}

void frmMain::cmdExecuteOutl_Click() {
  auto outl = CreateObject<QelStatsLib::_QelOutlier>(this, QelStatsLib::CLSID_QelOutlier, QelStatsLib::IID__QelOutlier,
                                                     "QelStatsLib.QelOutlier");
  if (!outl) return;
  outl->put_OutlierField(Utf8(Combo2->currentText()).constData());
  if (Combo4->currentText() != QLatin1String("None")) outl->put_WeightField(Utf8(Combo4->currentText()).constData());
  outl->put_showStatus(qelcom::VARIANT_TRUE);
  if (const auto parm = modCommon::TypeParmFromText(Text22->text())) outl->put_TypeParm(*parm);
  outl->put_FindType(ckType->isChecked() ? QelStatsLib::outSTD : QelStatsLib::outTMean);
  if (auto source = DataSourceClone(dataset_)) outl->putref_DataSource(source.get());

  qelcom::Variant result;
  ShowElapsed(Text12, [&] { outl->Run(&result); });

  // The grid shows the object's own table, or nothing when there is none.
  ComPtr<qelcom::IDispatch> table;
  if (qelcom::Succeeded(outl->get_ResultSet(table.typed_out()))) {
    try {
      grid_model_->setRecordset(table ? qelcom::UnwrapRecordset(table.get()) : nullptr);
      MSHFlexGrid1->resizeColumnsToContents();
    } catch (const std::exception&) {
    }
  }
  using O = qel::OutlierRecord;
  ShowResults<O>(outl.get(), qel::kOutlierResults,
                 {{Text14, &O::Mean}, {Text13, &O::N}, {Text15, &O::WgtN}, {Text16, &O::Stdev}, {Text17, &O::Variance},
                  {Text18, &O::OutlierCountN}, {Text19, &O::OutlierCountWgt}, {Text20, &O::Min}, {Text21, &O::Max}});
  update();
  MSHFlexGrid1->viewport()->update();
}

void frmMain::cmdUnivariate_Click() {
  auto uni = CreateObject<QelStatsLib::_QelUnivariate>(this, QelStatsLib::CLSID_QelUnivariate,
                                                       QelStatsLib::IID__QelUnivariate, "QelStatsLib.QelUnivariate");
  if (!uni) return;
  uni->put_FieldName(Utf8(Combo2->currentText()).constData());
  if (Combo4->currentText() != QLatin1String("None")) uni->put_WeightField(Utf8(Combo4->currentText()).constData());
  if (auto source = DataSourceClone(dataset_)) uni->putref_DataSource(source.get());
  uni->put_showStatus(qelcom::VARIANT_TRUE);

  qelcom::VARIANT_BOOL result = qelcom::VARIANT_FALSE;
  // An input error fails the call; the results are then the new object's zeros.
  ShowElapsed(Text12, [&] { uni->Run(&result); });

  grid_model_->clear();
  using U = qel::UnivariateRecord;
  ShowResults<U>(uni.get(), qel::kUnivariateResults,
                 {{Text23, &U::N}, {Text24, &U::WgtN}, {Text25, &U::Mean}, {Text26, &U::Median}, {Text27, &U::Mode},
                  {Text28, &U::Stdev}, {Text29, &U::Variance}, {Text30, &U::Min}, {Text31, &U::Max},
                  {Text32, &U::Range}, {Text33, &U::Q1}, {Text34, &U::Q3}, {Text35, &U::IQR},
                  {Text36, &U::Kurtosis}, {Text37, &U::Skewness}, {Text38, &U::Cardinality}});
}

void frmMain::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  Resize::ResizeForm(this, centralWidget(), controls_, page_origins_);
}

void frmMain::closeEvent(QCloseEvent* event) {
  Unload();
  event->accept();
}

void frmMain::Unload() {
  if (unloaded_) return;
  unloaded_ = true;
  dataset_.reset();
  modCommon::ShowHelp(modCommon::kHelpCloseAll, this);
}
