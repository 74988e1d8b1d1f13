// qelstats._qelstats: the compiled half of the Python module. It takes arrays
// that the Python half has already checked and shaped (contiguous float64 or
// int64, or lists of optional texts), releases the GIL for the library's work,
// and returns plain dicts that the Python half turns into result objects.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine_adapter.h"

namespace py = pybind11;

namespace {

qelpy::Analysis AnalysisNamed(const std::string& name) {
  if (name == "univariate") return qelpy::Analysis::kUnivariate;
  if (name == "outlier") return qelpy::Analysis::kOutlier;
  if (name == "bivariate") return qelpy::Analysis::kBivariate;
  throw py::value_error("unknown analysis '" + name + "'");
}

qelpy::Options OptionsFrom(const py::dict& d) {
  qelpy::Options o;
  if (d.contains("field")) o.field = d["field"].cast<std::string>();
  if (d.contains("weight")) o.weight = d["weight"].cast<std::string>();
  if (d.contains("target")) o.target = d["target"].cast<std::string>();
  if (d.contains("rule")) o.rule = d["rule"].cast<std::int32_t>();
  if (d.contains("parm")) o.parm = d["parm"].cast<double>();
  if (d.contains("bins")) o.bins = d["bins"].cast<std::int16_t>();
  if (d.contains("categorical")) o.categorical = d["categorical"].cast<bool>();
  return o;
}

// A column handed in from Python: the array (kept alive here) and the view
// the engine reads.
struct ColumnArg {
  py::array_t<double> numbers;
  py::array_t<std::int64_t> integers;
  std::vector<std::optional<std::string>> texts;
  qelpy::Column column;
};

// `values` is a contiguous float64 or int64 array (read in place), or a list
// of texts and Nones (`dates`: ISO date texts).
void ReadColumn(const py::object& values, bool dates, ColumnArg& out) {
  if (py::isinstance<py::list>(values)) {
    out.texts = values.cast<std::vector<std::optional<std::string>>>();
    out.column.texts = &out.texts;
    out.column.dates = dates;
    return;
  }
  auto arr = py::array::ensure(values);
  if (!arr) throw py::type_error("values must be an array or a list of texts");
  if (!(arr.flags() & py::array::c_style)) throw py::value_error("values must be contiguous");
  if (arr.ndim() != 1) throw py::value_error("values must be one-dimensional");
  if (arr.dtype().kind() == 'f' && arr.dtype().itemsize() == 8) {
    out.numbers = py::reinterpret_borrow<py::array_t<double>>(arr);
    out.column = qelpy::Column::Numbers({out.numbers.data(), static_cast<std::size_t>(out.numbers.size())});
  } else if (arr.dtype().kind() == 'i' && arr.dtype().itemsize() == 8) {
    out.integers = py::reinterpret_borrow<py::array_t<std::int64_t>>(arr);
    out.column = qelpy::Column::Integers({out.integers.data(), static_cast<std::size_t>(out.integers.size())});
  } else {
    throw py::type_error("values must be float64 or int64, not " + py::str(arr.dtype()).cast<std::string>());
  }
}

// A float64 array (weights, targets) or None.
std::span<const double> DoublesOf(const py::object& obj, py::array_t<double>& keep) {
  if (obj.is_none()) return {};
  auto arr = py::array::ensure(obj);
  if (!arr || arr.dtype().kind() != 'f' || arr.dtype().itemsize() != 8 || !(arr.flags() & py::array::c_style) ||
      arr.ndim() != 1)
    throw py::type_error("weights and targets must be contiguous float64 arrays");
  keep = py::reinterpret_borrow<py::array_t<double>>(arr);
  return {keep.data(), static_cast<std::size_t>(keep.size())};
}

// What a call on columns hands in: the analysed column, its weights and its
// target (None: none), read as ReadColumn and DoublesOf read them.
struct ColumnsArg {
  ColumnsArg(const py::object& values, bool dates, const py::object& weights_, const py::object& target_) {
    ReadColumn(values, dates, values_);
    weights = DoublesOf(weights_, weights_keep_);
    target = DoublesOf(target_, target_keep_);
  }
  const qelpy::Column& column() const { return values_.column; }

  std::span<const double> weights;
  std::span<const double> target;

 private:
  ColumnArg values_;
  py::array_t<double> weights_keep_, target_keep_;
};

py::object CellObject(const qelpy::Cell& c) {
  if (std::holds_alternative<double>(c)) return py::float_(std::get<double>(c));
  if (std::holds_alternative<std::string>(c)) return py::str(std::get<std::string>(c));
  if (std::holds_alternative<bool>(c)) return py::bool_(std::get<bool>(c));
  return py::none();
}

py::dict OutcomeDict(const qelpy::Outcome& o) {
  py::dict d;
  d["ok"] = o.ok;
  d["reason"] = o.reason;
  py::dict stats;
  for (const auto& [name, value] : o.stats) stats[py::str(name)] = value;
  d["stats"] = stats;
  d["categorical"] = o.categorical ? py::object(py::bool_(*o.categorical)) : py::object(py::none());
  if (o.table) {
    py::dict t;
    t["columns"] = o.table->columns;
    py::list rows;
    for (const auto& row : o.table->rows) {
      py::list r;
      for (const auto& cell : row) r.append(CellObject(cell));
      rows.append(r);
    }
    t["rows"] = rows;
    d["table"] = t;
  } else {
    d["table"] = py::none();
  }
  d["messages"] = o.messages;
  return d;
}

// Hooks that reach back into Python: the progress callable, and a look at
// the interpreter's pending signals (Ctrl-C) at every checkpoint. Both take
// the GIL for the moment they need it.
struct PyHooks {
  py::object progress;
  std::optional<py::error_already_set> pending;
  qelpy::Hooks hooks;

  explicit PyHooks(py::object progress_callable) : progress(std::move(progress_callable)) {
    if (!progress.is_none())
      hooks.progress = [this](const std::string& phase, int bar) {
        py::gil_scoped_acquire gil;
        try {
          progress(phase, bar);
        } catch (py::error_already_set& e) {
          // A progress display that fails must not end the run; Ctrl-C that
          // lands while it draws does, at the next checkpoint.
          if (e.matches(PyExc_KeyboardInterrupt) && !pending) pending.emplace(std::move(e));
        }
      };
    hooks.interrupted = [this]() {
      if (pending) return true;
      py::gil_scoped_acquire gil;
      if (PyErr_CheckSignals() != 0) {
        pending.emplace();  // takes the exception (KeyboardInterrupt) out of the interpreter
        return true;
      }
      return false;
    };
  }
};

template <typename Fn>
py::dict Guarded(PyHooks& hooks, Fn fn) {
  qelpy::Outcome out;
  try {
    py::gil_scoped_release nogil;
    out = fn();
  } catch (const qelpy::Interrupted&) {
    if (hooks.pending) throw *hooks.pending;
    throw py::error_already_set();
  } catch (const qelpy::WrongType& e) {
    throw py::type_error(e.what());
  } catch (const std::invalid_argument& e) {
    throw py::value_error(e.what());
  }
  return OutcomeDict(out);
}

py::bytes Bytes(const std::vector<unsigned char>& b) {
  return py::bytes(reinterpret_cast<const char*>(b.data()), b.size());
}

std::span<const unsigned char> View(const std::string& s) {
  return {reinterpret_cast<const unsigned char*>(s.data()), s.size()};
}

}  // namespace

PYBIND11_MODULE(_qelstats, m) {
  m.doc() = "The compiled engine of qelstats (use the qelstats package, not this module).";

  m.def(
      "run_columns",
      [](const std::string& analysis, const py::object& values, bool dates, const py::object& weights,
         const py::object& target, const py::dict& options, const py::object& progress) {
        const ColumnsArg in(values, dates, weights, target);
        const auto a = AnalysisNamed(analysis);
        const auto opts = OptionsFrom(options);
        PyHooks hooks(progress);
        return Guarded(hooks,
                       [&] { return qelpy::RunColumns(a, opts, in.column(), in.weights, in.target, hooks.hooks); });
      },
      py::arg("analysis"), py::arg("values"), py::arg("dates"), py::arg("weights"), py::arg("target"),
      py::arg("options"), py::arg("progress"));

  m.def(
      "run_table",
      [](const std::string& analysis, const std::string& connection, const std::string& source,
         const py::dict& options, const py::object& progress) {
        const auto a = AnalysisNamed(analysis);
        const auto opts = OptionsFrom(options);
        PyHooks hooks(progress);
        return Guarded(hooks, [&] { return qelpy::RunTable(a, connection, source, opts, hooks.hooks); });
      },
      py::arg("analysis"), py::arg("connection"), py::arg("source"), py::arg("options"), py::arg("progress"));

  m.def(
      "tally_bytes",
      [](const std::string& analysis, const py::object& values, bool dates, const py::object& weights,
         const py::object& target, bool categorical) {
        const ColumnsArg in(values, dates, weights, target);
        const auto a = AnalysisNamed(analysis);
        std::vector<unsigned char> bytes;
        try {
          py::gil_scoped_release nogil;
          bytes = qelpy::TallyBytes(a, in.column(), in.weights, in.target, categorical);
        } catch (const qelpy::WrongType& e) {
          throw py::type_error(e.what());
        } catch (const std::invalid_argument& e) {
          throw py::value_error(e.what());
        }
        return Bytes(bytes);
      },
      py::arg("analysis"), py::arg("values"), py::arg("dates"), py::arg("weights"), py::arg("target"),
      py::arg("categorical") = false);

  m.def(
      "merge_tally_bytes",
      [](const std::string& analysis, const std::string& a, const std::string& b) {
        const auto kind = AnalysisNamed(analysis);
        std::vector<unsigned char> bytes;
        try {
          py::gil_scoped_release nogil;
          bytes = qelpy::MergeTallyBytes(kind, View(a), View(b));
        } catch (const std::invalid_argument& e) {
          throw py::value_error(e.what());
        }
        return Bytes(bytes);
      },
      py::arg("analysis"), py::arg("a"), py::arg("b"));

  m.def(
      "finish_tally_bytes",
      [](const std::string& analysis, const std::string& bytes, const py::dict& options, const py::object& progress) {
        const auto a = AnalysisNamed(analysis);
        const auto opts = OptionsFrom(options);
        PyHooks hooks(progress);
        return Guarded(hooks, [&] { return qelpy::FinishTallyBytes(a, opts, View(bytes), hooks.hooks); });
      },
      py::arg("analysis"), py::arg("bytes"), py::arg("options"), py::arg("progress"));

  m.def("functions", [] {
    py::list out;
    for (const auto& f : qelpy::Functions()) out.append(py::make_tuple(f.name, f.arity, f.arguments, f.help));
    return out;
  });

  // Applies function `index` elementwise to equally long contiguous float64
  // arrays (one per argument).
  m.def("call_function", [](std::size_t index, const std::vector<py::array_t<double>>& args) {
    const auto& f = qelpy::Functions().at(index);
    if (static_cast<int>(args.size()) != f.arity) throw py::type_error(f.name + " takes " + std::to_string(f.arity) + " arguments");
    const py::ssize_t n = args.empty() ? 0 : args[0].size();
    std::vector<const double*> in;
    for (const auto& a : args) {
      if (a.size() != n) throw py::value_error("arguments of different lengths");
      in.push_back(a.data());
    }
    py::array_t<double> out(n);
    double* o = out.mutable_data();
    {
      py::gil_scoped_release nogil;
      double buf[4];
      for (py::ssize_t i = 0; i < n; ++i) {
        for (std::size_t k = 0; k < in.size(); ++k) buf[k] = in[k][i];
        o[i] = qelpy::CallFunction(index, std::span<const double>(buf, in.size()));
      }
    }
    return out;
  });
}
