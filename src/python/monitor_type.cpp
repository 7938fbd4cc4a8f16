#include "python/monitor_type.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "fhr_core/analysis/monitor.hpp"
#include "fhr_core/analysis/report_writer.hpp"
#include "python/guarded.hpp"

namespace fhr_core::python {
namespace {

struct MonitorObject {
    PyObject_HEAD
    analysis::Monitor* monitor;
};

analysis::Monitor& monitor_of(PyObject* self) { return *reinterpret_cast<MonitorObject*>(self)->monitor; }

enum MonitorParameter : std::size_t { kChannel, kGaWeeks, kWindowMin, kStepSec, kParameterCount };
constexpr Parameter kParameters[kParameterCount] = {
    {"channel", false}, {"ga_weeks", false}, {"window_min", false}, {"step_sec", false}};
constexpr Signature kSignature{"Monitor", kParameters};
constexpr std::uint32_t kDefaultWindowMinutes = AnalysisConfig::kMaxWindowMinutes;

constexpr const char* kTypeDoc =
    "Monitor(channel=\"HR1\", ga_weeks=None, window_min=30, step_sec=60)\n--\n\n"
    "Rolling analysis of a recording as it arrives. Every method returns a report\n"
    "text holding the input so far and the windows it concerns.";

// The report text of the monitor's input so far and `windows`.
PyObject* report_text(const analysis::Monitor& monitor, std::vector<WindowAnalysis> windows) {
    AnalysisReport report;
    report.config = monitor.config();
    report.input = monitor.input();
    report.windows = std::move(windows);
    const std::string text = analysis::report_as_json(report);
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

PyObject* windows_or_raise(const analysis::Monitor& monitor, Result<std::vector<WindowAnalysis>> result) {
    if (!result) {
        raise_message(PyExc_ValueError, result.error());
        return nullptr;
    }
    return report_text(monitor, std::move(result).value());
}

PyObject* monitor_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        std::array<PyObject*, kParameterCount> bound{};
        if (!bind_arguments(kSignature, args, kwargs, bound)) return nullptr;
        std::optional<Utf8Argument> channel_text;
        std::string_view channel_name = "HR1";
        if (bound[kChannel] != nullptr) {
            channel_text = convert_text(bound[kChannel], kParameters[kChannel].name);
            if (!channel_text) return nullptr;
            channel_name = channel_text->text;
        }
        AnalysisConfig config;
        if (bound[kGaWeeks] != nullptr && bound[kGaWeeks] != Py_None) {
            const auto weeks = convert_unsigned_as<std::uint8_t>(bound[kGaWeeks], kParameters[kGaWeeks].name);
            if (!weeks) return nullptr;
            config.gestational_age_weeks = *weeks;
        }
        std::uint32_t window_min = kDefaultWindowMinutes;
        if (bound[kWindowMin] != nullptr) {
            const auto minutes = convert_unsigned_as<std::uint32_t>(bound[kWindowMin], kParameters[kWindowMin].name);
            if (!minutes) return nullptr;
            window_min = *minutes;
        }
        if (bound[kStepSec] != nullptr) {
            const auto step = convert_unsigned_as<std::uint32_t>(bound[kStepSec], kParameters[kStepSec].name);
            if (!step) return nullptr;
            config.step_seconds = effective_step_seconds(*step);
        }
        if (!window_minutes_allowed(window_min)) {
            raise_message(PyExc_ValueError, "window_min must be " + window_minutes_bounds_text());
            return nullptr;
        }
        auto channel = FetalChannel::parse(channel_name);
        if (!channel) {
            raise_message(PyExc_ValueError, channel.error());
            return nullptr;
        }
        config.window_minutes = window_min;
        config.fetal_channel = *channel;

        auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
        OwnedRef self(alloc(type, 0));
        if (!self) return nullptr;
        reinterpret_cast<MonitorObject*>(self.get())->monitor = new analysis::Monitor(config);
        return self.release();
    });
}

void monitor_dealloc(PyObject* self) {
    delete reinterpret_cast<MonitorObject*>(self)->monitor;
    PyTypeObject* type = Py_TYPE(self);
    auto free = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free(self);
    Py_DECREF(type);
}

PyObject* monitor_add_csv(PyObject* self, PyObject* text) {
    return guarded([&]() -> PyObject* {
        const auto piece = convert_text(text, "text");
        if (!piece) return nullptr;
        return windows_or_raise(monitor_of(self), monitor_of(self).add_csv(piece->text));
    });
}

// A present value is a float (or anything with __float__); None is absent.
bool read_optional_value(PyObject* value, OptionalValue& out) {
    if (value == Py_None) return true;
    const double number = PyFloat_AsDouble(value);
    if (number == -1.0 && PyErr_Occurred()) return false;
    out = number;
    return true;
}

// `rows`: a sequence of (timestamp, hr1, hr2, hr3, hrm, toco) tuples.
PyObject* monitor_add_samples(PyObject* self, PyObject* rows) {
    return guarded([&]() -> PyObject* {
        const Py_ssize_t count = PySequence_Size(rows);
        if (count < 0) return nullptr;
        std::vector<OwnedRef> held;
        std::vector<analysis::SampleRow> parsed(static_cast<std::size_t>(count));
        held.reserve(parsed.size());
        for (Py_ssize_t i = 0; i < count; ++i) {
            OwnedRef item(PySequence_GetItem(rows, i));
            if (!item) return nullptr;
            const char* text = nullptr;
            Py_ssize_t size = 0;
            std::array<PyObject*, 5> values{};
            if (!PyArg_ParseTuple(item.get(), "s#OOOOO", &text, &size, &values[0], &values[1], &values[2],
                                  &values[3], &values[4])) {
                return nullptr;
            }
            analysis::SampleRow& row = parsed[static_cast<std::size_t>(i)];
            row.timestamp = std::string_view(text, static_cast<std::size_t>(size));
            OptionalValue* fields[] = {&row.hr1, &row.hr2, &row.hr3, &row.hrm, &row.toco};
            for (std::size_t v = 0; v < values.size(); ++v) {
                if (!read_optional_value(values[v], *fields[v])) return nullptr;
            }
            held.push_back(std::move(item));
        }
        return windows_or_raise(monitor_of(self), monitor_of(self).add_samples(parsed));
    });
}

PyObject* monitor_current(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        std::vector<WindowAnalysis> windows;
        if (auto window = monitor_of(self).current()) windows.push_back(std::move(*window));
        return report_text(monitor_of(self), std::move(windows));
    });
}

PyObject* monitor_input(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* { return report_text(monitor_of(self), {}); });
}

PyObject* monitor_late_rows(PyObject* self, PyObject*) {
    return PyLong_FromSize_t(monitor_of(self).late_rows());
}

PyObject* monitor_held_samples(PyObject* self, PyObject*) {
    return PyLong_FromSize_t(monitor_of(self).held_samples());
}

PyMethodDef g_methods[] = {
    {"add_csv", monitor_add_csv, METH_O, "add_csv(text)\n--\n\n"},
    {"add_samples", monitor_add_samples, METH_O, "add_samples(rows)\n--\n\n"},
    {"current", monitor_current, METH_NOARGS, "current()\n--\n\n"},
    {"input", monitor_input, METH_NOARGS, "input()\n--\n\n"},
    {"late_rows", monitor_late_rows, METH_NOARGS, "late_rows()\n--\n\n"},
    {"held_samples", monitor_held_samples, METH_NOARGS, "held_samples()\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot g_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(monitor_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(monitor_dealloc)},
    {Py_tp_methods, g_methods},
    {Py_tp_doc, const_cast<char*>(kTypeDoc)},
    {0, nullptr},
};

PyType_Spec g_spec = {
    "corvane._native.Monitor",
    static_cast<int>(sizeof(MonitorObject)),
    0,
    Py_TPFLAGS_DEFAULT,
    g_slots,
};

}  // namespace

bool add_monitor_type(PyObject* module) {
    OwnedRef type(PyType_FromSpec(&g_spec));
    if (!type) return false;
    Py_INCREF(type.get());  // PyModule_AddObject takes one reference on success
    if (PyModule_AddObject(module, "Monitor", type.get()) < 0) {
        Py_DECREF(type.get());
        return false;
    }
    return true;
}

}  // namespace fhr_core::python
