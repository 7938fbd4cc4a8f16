// How every entry point of the module runs: C++ failures never reach the
// interpreter, and core messages become Python exceptions.
#pragma once

#include "python/arguments.hpp"

#include <exception>
#include <new>
#include <string_view>

namespace fhr_core::python {

// The module's InternalError type (SystemError before the module exists).
PyObject* internal_error_type() noexcept;

// Raises `type` with a message from the core. Invalid UTF-8 is replaced
// rather than turning the intended exception into a decoding error.
void raise_message(PyObject* type, std::string_view message);

// The message of a failure that carries no text of its own.
inline constexpr const char* kUnknownFailureMessage = "internal failure of the analysis";

// Runs one call so that no C++ exception ever reaches the interpreter: an
// exhausted allocator becomes MemoryError, anything else the module's own
// InternalError.
template <class Body>
auto guarded(Body&& body) noexcept -> decltype(body()) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& failure) {
        raise_message(internal_error_type(), failure.what());
    } catch (...) {
        raise_message(internal_error_type(), kUnknownFailureMessage);
    }
    return {};
}

}  // namespace fhr_core::python
