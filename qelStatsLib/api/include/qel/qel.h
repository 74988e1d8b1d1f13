// The qelStatsLib API in one include: tables, the three analyses over arrays,
// tables and tallies, the tallies, the scalar functions and qel::Error.
//
//   #include <qel/qel.h>
//   qel::UnivariateResult r = qel::Univariate(qel::Table::Csv("BaseBall.csv"), "Salary");
//
// Link with qelStatsLib::engine (CMake: find_package(qelStatsLib)) or
// `pkg-config --cflags --libs qelStatsLib`.
#pragma once

#include "qel/base.h"
#include "qel/bivariate.h"
#include "qel/functions.h"
#include "qel/outlier.h"
#include "qel/table.h"
#include "qel/tally.h"
#include "qel/univariate.h"

namespace qel {

// The library's version, "7.0.0"; the major number is the SONAME's.
QEL_API const char* Version() noexcept;

}  // namespace qel
