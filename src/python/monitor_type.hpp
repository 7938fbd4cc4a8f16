// corvane._native.Monitor: the streaming analysis as a Python type.
#pragma once

#include "python/arguments.hpp"

namespace fhr_core::python {

// Creates the type and adds it to `module`; false with an exception set.
bool add_monitor_type(PyObject* module);

}  // namespace fhr_core::python
