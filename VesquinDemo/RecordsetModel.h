// The results grid's model: the columns and rows of a bound recordset.
//
// Binding keeps a reference to the recordset until the next binding, as the
// grid of the program does, and reads its rows through a clone so that the
// bound recordset's own cursor is left where it was. Clearing empties the
// cells but keeps the bound recordset.
#pragma once

#include <memory>
#include <vector>

#include <QAbstractTableModel>
#include <QString>
#include <QStringList>

namespace qeldata {
class Recordset;
}

class RecordsetModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  explicit RecordsetModel(QObject* parent = nullptr);

  // Shows `recordset` (nullptr shows nothing). Throws qeldata::Error when its
  // rows cannot be read; the previous table then stays.
  void setRecordset(std::shared_ptr<qeldata::Recordset> recordset);
  // Empties the cells; the bound recordset stays referenced.
  void clear();
  std::shared_ptr<qeldata::Recordset> recordset() const { return recordset_; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

 private:
  std::shared_ptr<qeldata::Recordset> recordset_;
  QStringList columns_;
  std::vector<QStringList> rows_;
  std::vector<std::vector<bool>> numeric_;
};
