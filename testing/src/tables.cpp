#include "qeltesting/tables.h"

namespace qel::testing {

std::shared_ptr<qeldata::Recordset> Table(const std::vector<Column>& columns,
                                          const std::vector<std::vector<qeldata::Value>>& rows) {
  auto rs = std::make_shared<qeldata::Recordset>();
  qeldata::Fields fields = rs->GetFields();
  for (const Column& c : columns)
    fields.Append(c.name, c.type, c.size == 0 && qeldata::IsTextType(c.type) ? 255 : c.size,
                  qeldata::adFldIsNullable);
  rs->Open();
  for (const auto& row : rows) {
    rs->AddNew();
    for (std::size_t i = 0; i < row.size() && i < columns.size(); ++i)
      fields.Item(static_cast<int>(i)).SetValue(row[i]);
    rs->Update();
  }
  if (!rows.empty()) rs->MoveFirst();
  return rs;
}

std::shared_ptr<qeldata::Recordset> Numbers(const std::vector<qeldata::Value>& xs, const std::string& name) {
  std::vector<std::vector<qeldata::Value>> rows;
  rows.reserve(xs.size());
  for (const auto& x : xs) rows.push_back({x});
  return Table({{name}}, rows);
}

}  // namespace qel::testing
