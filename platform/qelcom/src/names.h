// How the component layer compares member and key names: ASCII letters only,
// so that the locale a host program set never changes which member or key a
// name means. Internal to qelcom.
#pragma once

#include "qeldata/text.h"

namespace qelcom::detail {

using qeldata::text::EqualsNoCase;
using qeldata::text::Lower;

}  // namespace qelcom::detail
