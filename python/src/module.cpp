// intset._intset: the types IntSet and FrozenIntSet, FormatError, and two helpers for the tests and the
// benchmark.
#include <algorithm>
#include <chrono>
#include <limits>

#include "errors.h"
#include "method_support.h"
#include "types.h"

namespace pyintset {

namespace {

// The C++ to_array() of a copy of the set, for the benchmark: the best time of `repeats` calls, in seconds.
PyObject* time_to_array(PyObject*, PyObject* args) {
  PyObject* set;
  int repeats;
  if (!PyArg_ParseTuple(args, "Oi:_time_to_array", &set, &repeats)) return nullptr;
  if (!is_set(set)) {
    PyErr_SetString(PyExc_TypeError, "_time_to_array() takes an IntSet or a FrozenIntSet");
    return nullptr;
  }
  return guarded([&] {
    intset::tnumbrelle copy = as_set(set)->set();
    double best = std::numeric_limits<double>::infinity();
    PyThreadState* state = PyEval_SaveThread();
    try {
      for (int i = 0; i < repeats; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const intset::tarrayofinteger members = copy.to_array();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
      }
    } catch (...) {
      take_gil_back(state);
      throw;
    }
    take_gil_back(state);
    return PyFloat_FromDouble(best);
  });
}

// Tests set 0, so that every operation runs without the GIL; returns the previous size.
PyObject* set_gil_release_blocks(PyObject*, PyObject* blocks) {
  const long long n = PyLong_AsLongLong(blocks);
  if (n == -1 && PyErr_Occurred()) return nullptr;
  const std::int64_t previous = gil_release_blocks;
  gil_release_blocks = n;
  return PyLong_FromLongLong(previous);
}

PyMethodDef module_functions[] = {
    {"_time_to_array", time_to_array, METH_VARARGS,
     NUMBRELLE_DOC("_time_to_array(set, repeats, /)",
                   "The best time of the C++ to_array() of a copy, in seconds.")},
    {"_set_gil_release_blocks", set_gil_release_blocks, METH_O,
     NUMBRELLE_DOC("_set_gil_release_blocks(blocks, /)",
                   "Set the size in blocks from which operations release the GIL; return the old one.")},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_layout = {
    PyModuleDef_HEAD_INIT,
    "_intset",
    "The extension module of the intset package.",
    -1,
    module_functions,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

}  // namespace pyintset

PyMODINIT_FUNC PyInit__intset() {
  PyObject* module = PyModule_Create(&pyintset::module_layout);
  if (module == nullptr) return nullptr;
  if (!pyintset::create_error_types() || !pyintset::create_types(module) ||
      PyModule_AddObjectRef(module, "FormatError", pyintset::FormatError) < 0) {
    Py_DECREF(module);
    return nullptr;
  }
  return module;
}
