// Keeps a read-only file mapping from ending the process when the file
// shrinks under it. Internal to qeldata.
//
// Reading a mapped page that lies beyond the end of a file cut short after it
// was mapped raises SIGBUS, whose default action ends the process. For a
// guarded mapping a handler maps a page of zeros over the rest of the mapping
// instead, and marks the mapping as cut short: the read goes on, and the
// reader, on seeing the mark (the zeros fail any CSV parse at once), reports
// an error naming the file. Faults outside guarded mappings go on to the
// handler that was installed before, or to the default action.
#pragma once

#include <cstddef>

namespace qeldata::detail {

class MappingGuard {
 public:
  MappingGuard() = default;
  // Guards [data, data + size). Without a free slot (a thousand mappings are
  // guarded at once) the mapping stays unguarded: guarded() is then false.
  MappingGuard(const void* data, std::size_t size);
  ~MappingGuard();  // before the mapping is unmapped
  MappingGuard(const MappingGuard&) = delete;
  MappingGuard& operator=(const MappingGuard&) = delete;

  bool guarded() const { return slot_ >= 0; }
  // True once a read of the mapping faulted beyond the end of the file.
  bool CutShort() const;

 private:
  int slot_ = -1;
};

}  // namespace qeldata::detail
