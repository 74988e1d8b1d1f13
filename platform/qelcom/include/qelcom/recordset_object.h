// A qeldata recordset as an automation object, so that a host can hand the
// recordset it opened to a component (`Set obj.DataSource = rs`) and read a
// component's result table.
//
// Members by name: ActiveConnection (an object with ConnectionString, or the
// empty object when the recordset is disconnected), Source, EOF, BOF,
// RecordCount, AbsolutePosition, CursorLocation, CursorType, LockType, State,
// MoveFirst, MoveNext, MoveLast, MovePrevious, Close, Clone, Fields (Count,
// Item(index or name) -> Name, Type, DefinedSize, Value) and Collect(name).
// Like every object, it answers only on the thread that made it.
#pragma once

#include <memory>

#include "qelcom/interfaces.h"
#include "qeldata/recordset.h"

namespace qelcom {

inline constexpr GUID IID_IQelRecordset = MakeGuid("{3B648791-576F-411B-8FD5-16C1E62ECD28}");

// The interface through which a component reaches the recordset itself.
class IQelRecordset : public IDispatch {
 public:
  virtual HRESULT GetRecordset(std::shared_ptr<qeldata::Recordset>* recordset) = 0;

 protected:
  ~IQelRecordset() = default;
};

// A new object over `recordset` (shared, not copied); one reference for the caller.
// Returns nullptr for an empty pointer.
IDispatch* WrapRecordset(std::shared_ptr<qeldata::Recordset> recordset);

// The recordset behind `object` when it is one of ours, else nullptr.
std::shared_ptr<qeldata::Recordset> UnwrapRecordset(IUnknown* object);

}  // namespace qelcom
