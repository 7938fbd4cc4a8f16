#include "python/arguments.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace fhr_core::python {
namespace {

// Interpreters from this version on end an unexpected-keyword error with
// ". Did you mean '...'?" when a parameter name is close to the given one.
constexpr int kSuggestionsMajor = 3;
constexpr int kSuggestionsMinor = 13;

// The conversion targets named in conversion errors.
constexpr const char* kTextTarget = "PyString";
constexpr const char* kFlagTarget = "PyBool";

// NumPy's boolean scalar type: "bool_" up to NumPy 1.x, "bool" from 2.0.
constexpr const char* kNumpyModule = "numpy";
constexpr const char* kNumpyBoolNames[] = {"bool_", "bool"};

bool keywords_are_strings(PyObject* kwargs) {
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(kwargs, &position, &key, &value)) {
        if (!PyUnicode_Check(key)) return false;
    }
    return true;
}

// Index of the parameter called `key`, or -1.
Py_ssize_t find_parameter(std::span<const Parameter> parameters, PyObject* key) {
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        if (PyUnicode_CompareWithASCIIString(key, parameters[i].name) == 0) {
            return static_cast<Py_ssize_t>(i);
        }
    }
    return -1;
}

// Reads "major.minor" from the front of the interpreter's version text.
bool interpreter_offers_suggestions() {
    const char* version = Py_GetVersion();
    const char* end = version + std::strlen(version);
    int major = 0;
    int minor = 0;
    auto [after_major, major_error] = std::from_chars(version, end, major);
    if (major_error != std::errc{} || after_major == end || *after_major != '.') return false;
    auto [after_minor, minor_error] = std::from_chars(after_major + 1, end, minor);
    if (minor_error != std::errc{}) return false;
    return major > kSuggestionsMajor || (major == kSuggestionsMajor && minor >= kSuggestionsMinor);
}

// The interpreter's own closest-name suggestion for an unknown keyword, so
// that the wording matches a function written in Python on every version.
// Returns null (and no error) when there is none.
OwnedRef suggest_parameter(std::span<const Parameter> parameters, PyObject* key) {
    if (!interpreter_offers_suggestions()) return {};
    OwnedRef helper(PyImport_ImportModule("_suggestions"));
    OwnedRef names(helper ? PyList_New(static_cast<Py_ssize_t>(parameters.size())) : nullptr);
    bool ready = static_cast<bool>(names);
    for (std::size_t i = 0; ready && i < parameters.size(); ++i) {
        PyObject* name = PyUnicode_FromString(parameters[i].name);
        ready = name != nullptr && PyList_SetItem(names.get(), static_cast<Py_ssize_t>(i), name) == 0;
    }
    OwnedRef generate(ready ? PyObject_GetAttrString(helper.get(), "_generate_suggestions") : nullptr);
    OwnedRef suggestion(generate ? PyObject_CallFunctionObjArgs(generate.get(), names.get(), key, nullptr)
                                 : nullptr);
    if (!suggestion || !PyUnicode_Check(suggestion.get())) {
        // A missing helper only means the message goes without a suggestion.
        PyErr_Clear();
        return {};
    }
    return suggestion;
}

void raise_unexpected_keyword(const Signature& signature, PyObject* key) {
    const OwnedRef suggestion = suggest_parameter(signature.parameters, key);
    if (suggestion) {
        PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'. Did you mean '%S'?",
                     signature.function_name, key, suggestion.get());
    } else {
        PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'",
                     signature.function_name, key);
    }
}

void raise_too_many_positional(const Signature& signature, Py_ssize_t given) {
    const auto& parameters = signature.parameters;
    const auto count = static_cast<Py_ssize_t>(parameters.size());
    const auto required = static_cast<Py_ssize_t>(
        std::count_if(parameters.begin(), parameters.end(), [](const Parameter& p) { return p.required; }));
    const char* verb = given == 1 ? "was" : "were";
    if (required < count) {
        PyErr_Format(PyExc_TypeError, "%s() takes from %zd to %zd positional arguments but %zd %s given",
                     signature.function_name, required, count, given, verb);
    } else {
        PyErr_Format(PyExc_TypeError, "%s() takes %zd positional argument%s but %zd %s given",
                     signature.function_name, count, count == 1 ? "" : "s", given, verb);
    }
}

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'".
std::string quoted_name_list(const std::vector<const char*>& names) {
    std::string list;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            if (names.size() > 2) list += ",";
            list += " ";
            if (i + 1 == names.size()) list += "and ";
        }
        list += "'";
        list += names[i];
        list += "'";
    }
    return list;
}

// The __name__ of the value's type, as conversion errors show it.
OwnedRef type_name_of(PyObject* value) {
    return OwnedRef(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(value)), "__name__"));
}

void raise_cannot_convert(PyObject* value, const char* name, const char* target) {
    const OwnedRef type_name = type_name_of(value);
    if (!type_name) return;  // the failed lookup's own error stands
    PyErr_Format(PyExc_TypeError, "argument '%s': '%S' object cannot be converted to '%s'", name,
                 type_name.get(), target);
}

// Puts "argument 'NAME': " in front of a pending TypeError. Any other
// exception (an interrupt, a failing __index__) passes unchanged.
void prefix_type_error(const char* name) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    const OwnedRef owned_type(type);
    const OwnedRef owned_value(value);
    const OwnedRef owned_traceback(traceback);
    const OwnedRef message(value != nullptr ? PyObject_Str(value) : PyUnicode_FromString(""));
    if (!message) return;
    PyErr_Format(PyExc_TypeError, "argument '%s': %U", name, message.get());
}

bool is_numpy_bool(PyObject* value) {
    auto* type = reinterpret_cast<PyObject*>(Py_TYPE(value));
    const OwnedRef module(PyObject_GetAttrString(type, "__module__"));
    const OwnedRef name(module ? PyObject_GetAttrString(type, "__name__") : nullptr);
    if (!name) {
        // A type without these attributes is simply not NumPy's.
        PyErr_Clear();
        return false;
    }
    if (!PyUnicode_Check(module.get()) || !PyUnicode_Check(name.get())) return false;
    if (PyUnicode_CompareWithASCIIString(module.get(), kNumpyModule) != 0) return false;
    return std::any_of(std::begin(kNumpyBoolNames), std::end(kNumpyBoolNames), [&](const char* bool_name) {
        return PyUnicode_CompareWithASCIIString(name.get(), bool_name) == 0;
    });
}

// The integer value of an exact int. On platforms where long is narrower
// than 64 bits the long long reader is used, so that the whole unsigned
// 32-bit range stays reachable everywhere.
long long read_integer(PyObject* index) {
    if constexpr (sizeof(long) >= sizeof(std::int64_t)) {
        return PyLong_AsLong(index);
    } else {
        return PyLong_AsLongLong(index);
    }
}

}  // namespace

bool bind_arguments(const Signature& signature, PyObject* args, PyObject* kwargs,
                    std::span<PyObject*> bound) {
    const auto& parameters = signature.parameters;
    std::fill(bound.begin(), bound.end(), nullptr);

    // A function written in Python never sees a non-str keyword: the call
    // itself fails first, before any other check.
    if (kwargs != nullptr && !keywords_are_strings(kwargs)) {
        PyErr_SetString(PyExc_TypeError, "keywords must be strings");
        return false;
    }

    const Py_ssize_t given = args != nullptr ? PyTuple_Size(args) : 0;
    if (given < 0) return false;
    const auto count = static_cast<Py_ssize_t>(parameters.size());
    for (Py_ssize_t i = 0; i < std::min(given, count); ++i) {
        bound[static_cast<std::size_t>(i)] = PyTuple_GetItem(args, i);
    }

    // Keywords first, in the order given, then the positional count, then
    // missing parameters: the order in which the interpreter reports them.
    if (kwargs != nullptr) {
        Py_ssize_t position = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(kwargs, &position, &key, &value)) {
            const Py_ssize_t index = find_parameter(parameters, key);
            if (index < 0) {
                raise_unexpected_keyword(signature, key);
                return false;
            }
            PyObject*& slot = bound[static_cast<std::size_t>(index)];
            if (slot != nullptr) {
                PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%S'",
                             signature.function_name, key);
                return false;
            }
            slot = value;
        }
    }

    if (given > count) {
        raise_too_many_positional(signature, given);
        return false;
    }

    std::vector<const char*> missing;
    for (std::size_t i = static_cast<std::size_t>(given); i < parameters.size(); ++i) {
        if (parameters[i].required && bound[i] == nullptr) missing.push_back(parameters[i].name);
    }
    if (!missing.empty()) {
        const std::string names = quoted_name_list(missing);
        PyErr_Format(PyExc_TypeError, "%s() missing %zd required positional argument%s: %s",
                     signature.function_name, static_cast<Py_ssize_t>(missing.size()),
                     missing.size() == 1 ? "" : "s", names.c_str());
        return false;
    }
    return true;
}

std::optional<Utf8Argument> convert_text(PyObject* value, const char* name) {
    if (!PyUnicode_Check(value)) {
        raise_cannot_convert(value, name, kTextTarget);
        return std::nullopt;
    }
    OwnedRef bytes(PyUnicode_AsUTF8String(value));
    if (!bytes) return std::nullopt;
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(bytes.get(), &data, &size) < 0) return std::nullopt;
    const std::string_view text(data, static_cast<std::size_t>(size));
    return Utf8Argument{std::move(bytes), text};
}

std::optional<std::uint64_t> convert_unsigned(PyObject* value, const char* name, std::uint64_t max) {
    const OwnedRef index(PyNumber_Index(value));
    if (!index) {
        prefix_type_error(name);
        return std::nullopt;
    }
    const long long integer = read_integer(index.get());
    if (integer == -1 && PyErr_Occurred()) return std::nullopt;  // too large: the interpreter's message
    if (integer < 0 || static_cast<unsigned long long>(integer) > max) {
        PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(integer);
}

std::optional<bool> convert_flag(PyObject* value, const char* name) {
    if (PyBool_Check(value)) return value == Py_True;
    if (is_numpy_bool(value)) {
        const int truth = PyObject_IsTrue(value);
        if (truth < 0) return std::nullopt;
        return truth != 0;
    }
    raise_cannot_convert(value, name, kFlagTarget);
    return std::nullopt;
}

}  // namespace fhr_core::python
