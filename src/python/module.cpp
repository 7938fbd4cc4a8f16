// The extension module corvane._native: its two functions, its own exception
// type for internal failures, and its one-time initialisation.
#include "python/guarded.hpp"
#include "python/monitor_type.hpp"

#include <array>
#include <cstdint>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "fhr_core/analysis/pipeline.hpp"
#include "fhr_core/csv_input/csv_reader.hpp"
#include "fhr_core/json_input/request_reader.hpp"

namespace fhr_core::python {
namespace {

// The module object and its exception type, created once per process. A
// repeated initialisation hands out the same module again.
PyObject* g_module = nullptr;
PyObject* g_internal_error = nullptr;

// The interpreter that the process starts with always has this id.
constexpr std::int64_t kMainInterpreterId = 0;

constexpr const char* kSubinterpreterMessage =
    "corvane._native can only be imported in the main interpreter, not in a sub-interpreter";

constexpr const char* kInternalErrorName = "corvane._native.InternalError";
constexpr const char* kInternalErrorDoc =
    "Raised when the analysis breaks one of its own internal assumptions.\n\n"
    "It derives from BaseException rather than Exception, so that code handling\n"
    "bad input with 'except Exception' does not quietly absorb a defect.";

// Each documentation text is only the signature line in the interpreter's
// text-signature form, so that inspect.signature() shows it and __doc__ is
// empty.
constexpr const char* kJsonDoc = "analyze_json_string(request_json)\n--\n\n";
constexpr const char* kCsvDoc =
    "analyze_csv_string(csv_text, channel=\"HR1\", ga_weeks=None, window_min=None, "
    "step_sec=60, last_only=False)\n--\n\n";

constexpr Parameter kJsonParameters[] = {{"request_json", true}};
constexpr Signature kJsonSignature{"analyze_json_string", kJsonParameters};

enum CsvParameter : std::size_t { kCsvText, kChannel, kGaWeeks, kWindowMin, kStepSec, kLastOnly, kCsvCount };
constexpr Parameter kCsvParameters[kCsvCount] = {
    {"csv_text", true},  {"channel", false},  {"ga_weeks", false},
    {"window_min", false}, {"step_sec", false}, {"last_only", false},
};
constexpr Signature kCsvSignature{"analyze_csv_string", kCsvParameters};

constexpr const char* csv_name(CsvParameter parameter) { return kCsvParameters[parameter].name; }

// The report as one str, built from its pieces as they are written so that
// the whole text is never held twice: the interpreter grows a str nobody
// else holds in place when another is appended.
class ReportStr {
public:
    ReportStr() = default;
    ReportStr(const ReportStr&) = delete;
    ReportStr& operator=(const ReportStr&) = delete;

    void append(std::string_view piece) {
        if (failed_) return;
        OwnedRef part(PyUnicode_FromStringAndSize(piece.data(), static_cast<Py_ssize_t>(piece.size())));
        if (!part) {
            failed_ = true;
        } else if (!text_) {
            text_ = std::move(part);
        } else {
            PyObject* joined = text_.release();
            PyUnicode_Append(&joined, part.get());
            text_ = OwnedRef(joined);
            failed_ = !text_;
        }
    }
    const analysis::TextPieces& pieces() const { return pieces_; }

    // The report, or null with the exception set.
    PyObject* finish(const Result<std::string>& rest) {
        if (!rest) {
            raise_message(PyExc_ValueError, rest.error());
            return nullptr;
        }
        append(rest.value());
        return failed_ ? nullptr : text_.release();
    }

private:
    OwnedRef text_;
    bool failed_ = false;
    analysis::TextPieces pieces_{[this](std::string_view piece) { append(piece); }};
};

// None and "not passed" both leave the value absent.
template <class T>
bool convert_optional_unsigned(PyObject* value, const char* name, std::optional<T>& out) {
    if (value == nullptr || value == Py_None) return true;
    const auto converted = convert_unsigned_as<T>(value, name);
    if (!converted) return false;
    out = *converted;
    return true;
}

PyObject* analyze_json_string(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        std::array<PyObject*, std::size(kJsonParameters)> bound{};
        if (!bind_arguments(kJsonSignature, args, kwargs, bound)) return nullptr;
        auto request_json = convert_text(bound[0], kJsonParameters[0].name);
        if (!request_json) return nullptr;
        auto request = json_input::read_analysis_request_json(request_json->text);
        request_json.reset();  // read: its UTF-8 copy goes before the analysis
        ReportStr report;
        if (!request) return report.finish(Failure{std::move(request).error()});
        return report.finish(analysis::analyze_request(*request, &report.pieces()));
    });
}

PyObject* analyze_csv_string(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        std::array<PyObject*, kCsvCount> bound{};
        if (!bind_arguments(kCsvSignature, args, kwargs, bound)) return nullptr;

        // In parameter order; the first failure raises and nothing after it
        // is converted. Parameters not passed keep the options' defaults.
        analysis::CsvOptions options;
        auto csv_text = convert_text(bound[kCsvText], csv_name(kCsvText));
        if (!csv_text) return nullptr;
        std::optional<Utf8Argument> channel;
        if (bound[kChannel] != nullptr) {
            channel = convert_text(bound[kChannel], csv_name(kChannel));
            if (!channel) return nullptr;
            options.channel = channel->text;
        }
        if (!convert_optional_unsigned(bound[kGaWeeks], csv_name(kGaWeeks), options.ga_weeks)) return nullptr;
        if (!convert_optional_unsigned(bound[kWindowMin], csv_name(kWindowMin), options.window_min)) return nullptr;
        if (bound[kStepSec] != nullptr) {
            const auto step_sec = convert_unsigned_as<std::uint32_t>(bound[kStepSec], csv_name(kStepSec));
            if (!step_sec) return nullptr;
            options.step_sec = *step_sec;
        }
        if (bound[kLastOnly] != nullptr) {
            const auto last_only = convert_flag(bound[kLastOnly], csv_name(kLastOnly));
            if (!last_only) return nullptr;
            options.last_only = *last_only;
        }
        auto input = csv_input::read_monitor_csv_str(csv_text->text);
        csv_text.reset();  // read: its UTF-8 copy goes before the analysis
        ReportStr report;
        if (!input) return report.finish(Failure{std::move(input).error()});
        return report.finish(analysis::analyze_csv_input(*input, options, &report.pieces()));
    });
}

template <class Function>
PyCFunction as_method(Function function) {
    // The interpreter calls METH_VARARGS | METH_KEYWORDS functions with three
    // arguments; PyCFunction is only the storage type of the table.
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

PyMethodDef g_methods[] = {
    {"analyze_json_string", as_method(analyze_json_string), METH_VARARGS | METH_KEYWORDS, kJsonDoc},
    {"analyze_csv_string", as_method(analyze_csv_string), METH_VARARGS | METH_KEYWORDS, kCsvDoc},
    {nullptr, nullptr, 0, nullptr},
};

// Single-phase initialisation with m_size 0: the interpreter calls the
// initialiser again on a repeated import instead of copying a cached
// namespace, so the initialiser alone decides which interpreter may have the
// module and which object it gets.
PyModuleDef g_module_def = {
    PyModuleDef_HEAD_INIT,
    "_native",
    "",
    0,
    g_methods,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// After the interpreter is finalised the objects are gone; an interpreter
// started again in the same process must build its own.
void forget_module() {
    g_module = nullptr;
    g_internal_error = nullptr;
}

PyObject* initialise_module() noexcept {
    PyInterpreterState* interpreter = PyInterpreterState_Get();
    const std::int64_t interpreter_id = PyInterpreterState_GetID(interpreter);
    if (interpreter_id < 0) return nullptr;
    if (interpreter_id != kMainInterpreterId) {
        PyErr_SetString(PyExc_ImportError, kSubinterpreterMessage);
        return nullptr;
    }
    if (g_module != nullptr) {
        Py_INCREF(g_module);
        return g_module;
    }

    OwnedRef module(PyModule_Create(&g_module_def));
    if (!module) return nullptr;
    OwnedRef internal_error(PyErr_NewExceptionWithDoc(kInternalErrorName, kInternalErrorDoc,
                                                      PyExc_BaseException, nullptr));
    if (!internal_error) return nullptr;
    Py_INCREF(internal_error.get());  // PyModule_AddObject takes one reference on success
    if (PyModule_AddObject(module.get(), "InternalError", internal_error.get()) < 0) {
        Py_DECREF(internal_error.get());
        return nullptr;
    }

    if (!add_monitor_type(module.get())) return nullptr;

    g_internal_error = internal_error.release();
    g_module = module.get();
    Py_INCREF(g_module);
    // Without the hook a restarted interpreter would be handed dead objects;
    // if the hook table is full, the module is simply kept for the process.
    Py_AtExit(forget_module);
    return module.release();
}

}  // namespace

// The functions exist only once the module, and so the type, does; the
// fallback keeps a broken invariant from becoming a crash.
PyObject* internal_error_type() noexcept {
    return g_internal_error != nullptr ? g_internal_error : PyExc_SystemError;
}

void raise_message(PyObject* type, std::string_view message) {
    const OwnedRef text(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    if (text) PyErr_SetObject(type, text.get());
}

}  // namespace fhr_core::python

PyMODINIT_FUNC PyInit__native(void) {
    return fhr_core::python::initialise_module();
}
