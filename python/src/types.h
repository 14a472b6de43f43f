// The C API types: IntSet, FrozenIntSet and their iterator.
#ifndef NUMBRELLE_PYTHON_TYPES_H_
#define NUMBRELLE_PYTHON_TYPES_H_

#include "set_object.h"

namespace pyintset {

// Creates the types and adds them to the module; false with an error set on failure.
bool create_types(PyObject* module);
// The iterator's type (iterator.cpp).
bool create_iterator_type(PyObject* module);

}  // namespace pyintset

#endif  // NUMBRELLE_PYTHON_TYPES_H_
