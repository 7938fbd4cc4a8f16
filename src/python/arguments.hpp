// Argument handling of the module functions: binding positional and keyword
// arguments to named parameters with the interpreter's own call-error
// wording, and converting each bound value to its C++ type.
#pragma once

// The module is built for the stable ABI of CPython 3.9 and later; the build
// usually passes the same value on the command line.
#ifndef Py_LIMITED_API
#define Py_LIMITED_API 0x03090000
#endif
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string_view>

namespace fhr_core::python {

// A strong reference that is released when it goes out of scope, so that
// every early return on an error path gives back what it took.
class OwnedRef {
public:
    OwnedRef() noexcept = default;
    explicit OwnedRef(PyObject* object) noexcept : object_(object) {}
    OwnedRef(OwnedRef&& other) noexcept : object_(other.release()) {}
    OwnedRef& operator=(OwnedRef&& other) noexcept {
        if (this != &other) {
            Py_XDECREF(object_);
            object_ = other.release();
        }
        return *this;
    }
    OwnedRef(const OwnedRef&) = delete;
    OwnedRef& operator=(const OwnedRef&) = delete;
    ~OwnedRef() { Py_XDECREF(object_); }

    PyObject* get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }
    PyObject* release() noexcept {
        PyObject* object = object_;
        object_ = nullptr;
        return object;
    }

private:
    PyObject* object_ = nullptr;
};

// One parameter of a module function. Required parameters come first, as in
// a function written in Python.
struct Parameter {
    const char* name;
    bool required;
};

// The name a function reports in call errors and its parameters in order.
struct Signature {
    const char* function_name;
    std::span<const Parameter> parameters;
};

// Binds the call's positional tuple and keyword dict (either may be null) to
// the parameters. On success bound[i] is a borrowed reference to the value of
// parameter i, or null when it was not passed. On a call error raises
// TypeError worded as for a function written in Python and returns false.
// `bound` must have one slot per parameter.
bool bind_arguments(const Signature& signature, PyObject* args, PyObject* kwargs,
                    std::span<PyObject*> bound);

// The UTF-8 text of a str argument; the view points into `bytes`.
struct Utf8Argument {
    OwnedRef bytes;
    std::string_view text;
};

// Each converter returns nullopt with a Python exception set on failure.

// A str (or subclass) as UTF-8. Other types raise TypeError; lone surrogates
// raise the interpreter's own UnicodeEncodeError.
std::optional<Utf8Argument> convert_text(PyObject* value, const char* name);

// An integer from 0 to `max` through the index protocol. A value outside that
// range raises OverflowError.
std::optional<std::uint64_t> convert_unsigned(PyObject* value, const char* name, std::uint64_t max);

// A bool, or a NumPy boolean scalar. Integers are refused.
std::optional<bool> convert_flag(PyObject* value, const char* name);

// convert_unsigned narrowed to T, with T's whole range allowed.
template <class T>
std::optional<T> convert_unsigned_as(PyObject* value, const char* name) {
    const auto converted = convert_unsigned(value, name, std::numeric_limits<T>::max());
    if (!converted) return std::nullopt;
    return static_cast<T>(*converted);
}

}  // namespace fhr_core::python
