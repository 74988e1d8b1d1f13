// frmMain: the program's main window. It opens one of the two datasets beside
// the program, lists its fields, runs the library's three analyses on it and
// shows their results, the result table and the elapsed time.
//
// The library's classes are created at run time by class identity through the
// component layer; the program never links the library.
#pragma once

#include <initializer_list>
#include <memory>

#include <QHash>
#include <QList>
#include <QPoint>
#include <QMainWindow>
#include <QString>

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTabWidget;
class QTableView;
class RecordsetModel;

namespace qeldata {
class Recordset;
}

class frmMain : public QMainWindow {
  Q_OBJECT
 public:
  // Loads the window: centres it, lists the datasets and opens the first one.
  explicit frmMain(QWidget* parent = nullptr);
  ~frmMain() override;

  // The open dataset (shared with the clones handed to the library), or
  // nullptr when none could be opened.
  std::shared_ptr<qeldata::Recordset> dataset() const { return dataset_; }
  QString datasetName() const { return dataset_name_; }
  RecordsetModel* gridModel() const { return grid_model_; }
  // The controls the resize module keeps in proportion, in the window's order.
  const QList<QWidget*>& resizableControls() const { return controls_; }

  // Centres the window on its screen.
  void CenterForm();
  // Opens the dataset named by Combo1's text and lists its fields. When it
  // cannot be opened the user is told which file and why, and the open
  // dataset, its name and the field lists stay as they were.
  void Combo1_Click();
  // Lists the open dataset's fields: predictor and target hold every field,
  // the weight list "None" followed by every field; each shows its first entry.
  void FillFieldLists();

  void cmdBivariates_Click();
  void cmdExecuteOutl_Click();
  void cmdUnivariate_Click();

  // The controls, under their names.
  QLabel* Label2;
  QLabel* Label39;
  QTabWidget* SSTab1;
  QLabel* Label40;
  QTableView* MSHFlexGrid1;
  QLabel* Label1;
  QComboBox* Combo1;
  QGroupBox* Frame4;
  QLabel* Label6;
  QComboBox* Combo2;
  QLabel* Label5;
  QComboBox* Combo3;
  QLabel* Label10;
  QComboBox* Combo4;
  QGroupBox* Frame6;
  QLabel* Label12[2];
  QLineEdit* Text12;
  QPushButton* cmdExit;
  // Tab "Bivariate Parms".
  QGroupBox* Frame1;
  QLineEdit *Text3, *Text4, *Text7, *Text8, *Text9;
  QCheckBox* Check1;
  QGroupBox* Frame5;
  QLineEdit* Text11;
  QPushButton* cmdBivariates;
  // Tab "Outlier".
  QGroupBox* Frame2;
  QLineEdit *Text13, *Text14, *Text15, *Text16, *Text17, *Text18, *Text19, *Text20, *Text21, *Text22;
  QCheckBox* ckType;
  QPushButton* cmdExecuteOutl;
  // Tab "Univariate".
  QGroupBox* Frame3;
  QLineEdit *Text23, *Text24, *Text25, *Text26, *Text27, *Text28, *Text29, *Text30, *Text31, *Text32, *Text33,
      *Text34, *Text35, *Text36, *Text37, *Text38;
  QPushButton* cmdUnivariate;
  // The "&Help" menu.
  QMenu* mnuHelp;
  QAction* mnuHelpContents;
  QAction* mnuHelpSearch;
  QAction* mnuHelpBar1;
  QAction* mnuHelpAbout;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  QLabel* AddLabel(QWidget* parent, const QString& name, const QString& text, int left, int top, int width,
                   int height);
  QLineEdit* AddText(QWidget* parent, const QString& name, int left, int top, int width, int height);
  QComboBox* AddCombo(QWidget* parent, const QString& name, int left, int top, int width, int height);
  QGroupBox* AddFrame(QWidget* parent, const QString& name, const QString& caption, int left, int top, int width,
                      int height);
  QPushButton* AddButton(QWidget* parent, const QString& name, const QString& caption, int left, int top,
                         int width, int height);
  QCheckBox* AddCheck(QWidget* parent, const QString& name, const QString& caption, int left, int top, int width,
                      int height);
  // A result box with its label above it; the label is named after the box.
  QLineEdit* AddResult(QWidget* parent, const QString& box, const QString& caption, int left, int label_top,
                       int box_top, int label_width, int box_width);
  // A column of result boxes, each with its label above it, a row every 600
  // twips from `first_label_top`; a box's own label width, when given,
  // replaces the column's.
  struct ResultSpec {
    QLineEdit** box;
    const char* name;
    const char* caption;
    int label_width = 0;
  };
  void AddResultColumn(QWidget* parent, int left, int first_label_top, int label_width, int box_width,
                       std::initializer_list<ResultSpec> boxes);
  void Place(QWidget* widget, QWidget* parent, const QString& name, int left, int top, int width, int height);
  // `widget`, placed.
  template <class Widget>
  Widget* Placed(Widget* widget, QWidget* parent, const QString& name, int left, int top, int width, int height) {
    Place(widget, parent, name, left, top, width, height);
    return widget;
  }
  void BuildMenu();
  void BuildBivariateTab(QWidget* page);
  void BuildOutlierTab(QWidget* page);
  void BuildUnivariateTab(QWidget* page);
  // Releases the dataset and closes the help windows; runs once.
  void Unload();

  std::shared_ptr<qeldata::Recordset> dataset_;
  QString dataset_name_;
  RecordsetModel* grid_model_;
  QList<QWidget*> controls_;
  // Where each tab page lies inside the tab control: page controls are
  // given relative to the tab control.
  QHash<QWidget*, QPoint> page_origins_;
  bool unloaded_ = false;
};
