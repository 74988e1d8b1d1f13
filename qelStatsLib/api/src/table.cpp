#include <filesystem>

#include "internal.h"
#include "qel/table.h"

namespace qel {

struct Table::Impl {
  std::string connection, source;
  std::vector<FieldInfo> fields;
};

namespace {

FieldType TypeOf(int ado_type) {
  switch (ado_type) {
    case qeldata::adChar:
    case qeldata::adWChar:
    case qeldata::adVarChar:
    case qeldata::adVarWChar:
    case qeldata::adLongVarChar:
    case qeldata::adLongVarWChar:
      return FieldType::kText;
    case qeldata::adDate:
    case qeldata::adDBDate:
      return FieldType::kDate;
    case qeldata::adBoolean:
      return FieldType::kOther;
    default:
      return FieldType::kNumber;
  }
}

}  // namespace

Table::Table() : impl_(std::make_unique<Impl>()) {}
Table::Table(const Table& other) : impl_(std::make_unique<Impl>(*other.impl_)) {}
Table::Table(Table&&) noexcept = default;
Table& Table::operator=(const Table& other) {
  if (this != &other) impl_ = std::make_unique<Impl>(*other.impl_);
  return *this;
}
Table& Table::operator=(Table&&) noexcept = default;
Table::~Table() = default;

Table Table::Open(std::string_view connection, std::string_view source) {
  Table t;
  t.impl_->connection = detail::FieldName(connection, "The connection string", true);
  t.impl_->source = detail::FieldName(source, "The source", true);
  const auto rs = detail::OpenInput(t);
  const qeldata::Fields fields = rs->GetFields();
  for (int i = 0; i < fields.Count(); ++i) {
    const qeldata::Field f = fields.Item(i);
    t.impl_->fields.push_back({f.Name(), TypeOf(f.Type())});
  }
  return t;
}

Table Table::Csv(std::string_view path_text) {
  namespace fs = std::filesystem;
  const fs::path path(path_text);
  std::error_code ec;
  if (!fs::is_regular_file(path, ec))
    detail::Throw(ErrorCode::kData, "cannot read " + std::string(path_text) + ": no such file");
  const std::string folder = fs::absolute(path, ec).parent_path().string();
  const std::string name = path.filename().string();
  // Quoted, never pasted: a folder holding "}" or a name holding "]" stays one name.
  std::string quoted_folder, quoted_name;
  for (char c : folder) quoted_folder += c == '}' ? std::string("}}") : std::string(1, c);
  for (char c : name) quoted_name += c == ']' ? std::string("]]") : std::string(1, c);
  return Open("Text;DBQ={" + quoted_folder + "}", "select * from [" + quoted_name + "]");
}

const std::string& Table::connection() const { return impl_->connection; }
const std::string& Table::source() const { return impl_->source; }
const std::vector<FieldInfo>& Table::fields() const { return impl_->fields; }

namespace detail {

std::unique_ptr<qeldata::Recordset> OpenInput(const Table& table) {
  return Translated([&] {
    auto rs = std::make_unique<qeldata::Recordset>();
    rs->SetCursorLocation(qeldata::adUseServer);
    rs->Open(table.source(), table.connection(), qeldata::adOpenForwardOnly, qeldata::adLockReadOnly, -1);
    return rs;
  });
}

const FieldInfo& FieldOf(const Table& table, const std::string& name) {
  for (const FieldInfo& f : table.fields())
    if (f.name.size() == name.size() &&
        std::equal(f.name.begin(), f.name.end(), name.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
        }))
      return f;
  Throw(ErrorCode::kNoSuchField, "No field '" + name + "' in " + table.source());
}

}  // namespace detail
}  // namespace qel
