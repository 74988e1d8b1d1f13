#include "RecordsetModel.h"

#include "qeldata/recordset.h"

RecordsetModel::RecordsetModel(QObject* parent) : QAbstractTableModel(parent) {}

void RecordsetModel::setRecordset(std::shared_ptr<qeldata::Recordset> recordset) {
  QStringList columns;
  std::vector<QStringList> rows;
  std::vector<std::vector<bool>> numeric;
  if (recordset) {
    const qeldata::Fields fields = recordset->GetFields();
    for (int i = 0; i < fields.Count(); ++i) columns << QString::fromStdString(fields.Item(i).Name());
    // Static recordsets are read through a clone; a stream is read as it is.
    std::shared_ptr<qeldata::Recordset> cursor;
    try {
      cursor = recordset->Clone();
    } catch (const qeldata::Error&) {
      cursor = recordset;
    }
    const qeldata::Fields cells = cursor->GetFields();
    if (!(cursor->IsBOF() && cursor->IsEOF())) cursor->MoveFirst();
    for (; !cursor->IsEOF(); cursor->MoveNext()) {
      QStringList row;
      std::vector<bool> row_numeric;
      for (int i = 0; i < cells.Count(); ++i) {
        const qeldata::Value& v = cells.Item(i).GetValue();
        row << QString::fromStdString(v.AsText());
        row_numeric.push_back(v.IsNumber());
      }
      rows.push_back(std::move(row));
      numeric.push_back(std::move(row_numeric));
    }
  }
  beginResetModel();
  recordset_ = std::move(recordset);
  columns_ = std::move(columns);
  rows_ = std::move(rows);
  numeric_ = std::move(numeric);
  endResetModel();
}

void RecordsetModel::clear() {
  beginResetModel();
  columns_.clear();
  rows_.clear();
  numeric_.clear();
  endResetModel();
}

int RecordsetModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int RecordsetModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant RecordsetModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) return {};
  if (role == Qt::DisplayRole) return rows_[index.row()].value(index.column());
  if (role == Qt::TextAlignmentRole) {
    return numeric_[index.row()][index.column()] ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                                                 : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
  }
  return {};
}

QVariant RecordsetModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Horizontal) return columns_.value(section);
  return section + 1;
}
