#include "common/log_bridge.hpp"

#include <Python.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/convert.hpp"
#include "common/guard.hpp"
#include "common/logger_cache.hpp"
#include "common/py_ref.hpp"
#include "log.hpp"

namespace tarnvale::py {

namespace {

using log::Level;

// The highest core level passed on at all: Trace is never forwarded.
constexpr Level kCeiling = Level::Debug;

int rank(Level level) { return static_cast<int>(level); }

bool enabled_up_to(Level level, Level limit) { return level != Level::Off && rank(level) <= rank(limit); }

int python_level(Level level) {
    switch (level) {
    case Level::Error:
        return 40;
    case Level::Warn:
        return 30;
    case Level::Info:
        return 20;
    case Level::Debug:
        return 10;
    case Level::Trace:
    case Level::Off:
        break;
    }
    return 5;
}

// "tarnvale::raw::index" -> "tarnvale.raw.index".
std::string logger_name(std::string_view target) {
    std::string name;
    name.reserve(target.size());
    for (std::size_t i = 0; i < target.size(); ++i) {
        if (target.substr(i, 2) == "::") {
            name += '.';
            ++i;
        } else {
            name += target[i];
        }
    }
    return name;
}

// Attached to the interpreter for the lifetime of the object.
class InterpreterAttachment {
  public:
    InterpreterAttachment() : state_(PyGILState_Ensure()) {}
    InterpreterAttachment(const InterpreterAttachment&) = delete;
    InterpreterAttachment& operator=(const InterpreterAttachment&) = delete;
    ~InterpreterAttachment() { PyGILState_Release(state_); }

  private:
    PyGILState_STATE state_;
};

// Takes a pending exception aside and restores it at the end of the scope, so
// that forwarding a record never disturbs the exception state of the caller.
class PendingExceptionAside {
  public:
    PendingExceptionAside() : pending_(PyErr_GetRaisedException()) {}
    PendingExceptionAside(const PendingExceptionAside&) = delete;
    PendingExceptionAside& operator=(const PendingExceptionAside&) = delete;
    ~PendingExceptionAside() { PyErr_SetRaisedException(pending_); }

  private:
    PyObject* pending_;
};

// A failure inside a logging call must not surface in the operation that logged:
// it is handed to sys.unraisablehook (which clears it) and the record is lost.
void report_unraisable(PyObject* context) { PyErr_WriteUnraisable(context); }

class LogBridge final : public log::Sink {
  public:
    static std::unique_ptr<LogBridge> create(PyRef logging);

    bool enabled(Level level, std::string_view target) const override {
        return passes(level, cache_.lookup(target));
    }
    void log(const log::Record& record) override;
    void flush() override {}

  private:
    struct MethodNames {
        PyRef get_logger = PyRef::steal(PyUnicode_InternFromString("getLogger"));
        PyRef is_enabled_for = PyRef::steal(PyUnicode_InternFromString("isEnabledFor"));
        PyRef make_record = PyRef::steal(PyUnicode_InternFromString("makeRecord"));
        PyRef handle = PyRef::steal(PyUnicode_InternFromString("handle"));
        bool complete() const { return get_logger && is_enabled_for && make_record && handle; }
    };

    explicit LogBridge(PyRef logging) : logging_(std::move(logging)) {}

    static bool passes(Level level, const std::optional<CachedLogger>& cached) {
        if (cached && rank(level) > rank(cached->max_enabled)) return false;
        return enabled_up_to(level, kCeiling);
    }

    void forward(const log::Record& record, const std::optional<CachedLogger>& cached);
    bool emit(PyObject* logger, PyObject* name, const log::Record& record);
    // -1 with an exception set, else whether the logger handles `level`.
    int is_enabled_for(PyObject* logger, int level);
    Level probe_max_enabled(PyObject* logger);

    PyRef logging_;
    MethodNames names_;
    LoggerCache cache_;
};

std::unique_ptr<LogBridge> LogBridge::create(PyRef logging) {
    std::unique_ptr<LogBridge> bridge(new LogBridge(std::move(logging)));
    if (!bridge->names_.complete()) return nullptr;
    return bridge;
}

void LogBridge::log(const log::Record& record) {
    std::optional<CachedLogger> cached = cache_.lookup(record.target());
    if (!passes(record.level(), cached)) return;
    InterpreterAttachment attached;
    PendingExceptionAside aside;
    try {
        forward(record, cached);
    } catch (...) {
        // Out of memory while formatting or caching: the record is lost.
        raise_current_cpp_exception();
        report_unraisable(nullptr);
    }
}

void LogBridge::forward(const log::Record& record, const std::optional<CachedLogger>& cached) {
    PyRef name = PyRef::steal(to_py_str(logger_name(record.target())));
    if (!name) return report_unraisable(nullptr);
    PyRef logger =
        cached ? PyRef::borrow(cached->logger)
               : PyRef::steal(PyObject_CallMethodOneArg(logging_.get(), names_.get_logger.get(), name.get()));
    if (!logger) return report_unraisable(name.get());
    if (!emit(logger.get(), name.get(), record)) return report_unraisable(logger.get());
    if (!cached) cache_.store(record.target(), logger.get(), probe_max_enabled(logger.get()));
}

int LogBridge::is_enabled_for(PyObject* logger, int level) {
    PyRef py_level = PyRef::steal(PyLong_FromLong(level));
    if (!py_level) return -1;
    PyRef answer =
        PyRef::steal(PyObject_CallMethodOneArg(logger, names_.is_enabled_for.get(), py_level.get()));
    if (!answer) return -1;
    return PyObject_IsTrue(answer.get());
}

// makeRecord(name, level, fn, lno, msg, args=(), exc_info=None, func=None,
// extra=None): with an empty args tuple, "%" in the message stays as it is.
bool LogBridge::emit(PyObject* logger, PyObject* name, const log::Record& record) {
    int level = python_level(record.level());
    int wanted = is_enabled_for(logger, level);
    if (wanted <= 0) return wanted == 0;
    PyRef message = PyRef::steal(to_py_str(record.message()));
    if (!message) return false;
    PyRef file = record.file() != nullptr ? PyRef::steal(PyUnicode_DecodeFSDefault(record.file()))
                                          : PyRef::borrow(Py_None);
    if (!file) return false;
    PyRef py_level = PyRef::steal(PyLong_FromLong(level));
    if (!py_level) return false;
    PyRef line = PyRef::steal(PyLong_FromUnsignedLong(record.line()));
    if (!line) return false;
    PyRef no_args = PyRef::steal(PyTuple_New(0));
    if (!no_args) return false;
    PyObject* make_record = names_.make_record.get();
    PyRef made = PyRef::steal(PyObject_CallMethodObjArgs(logger, make_record, name, py_level.get(),
                                                         file.get(), line.get(), message.get(), no_args.get(),
                                                         Py_None, Py_None, Py_None, nullptr));
    if (!made) return false;
    PyRef handled = PyRef::steal(PyObject_CallMethodOneArg(logger, names_.handle.get(), made.get()));
    return static_cast<bool>(handled);
}

// The first Python level, from the most verbose, that the logger has enabled.
// A failed probe is reported and caches Trace, so everything up to the ceiling
// is forwarded.
Level LogBridge::probe_max_enabled(PyObject* logger) {
    constexpr std::pair<int, Level> kProbes[] = {
        {5, Level::Trace}, {10, Level::Debug}, {20, Level::Info}, {30, Level::Warn}, {40, Level::Error},
    };
    for (auto [py_level, level] : kProbes) {
        int wanted = is_enabled_for(logger, py_level);
        if (wanted < 0) {
            report_unraisable(logger);
            return Level::Trace;
        }
        if (wanted > 0) return level;
    }
    return Level::Off;
}

} // namespace

int install_log_bridge(const char* module_name) {
    PyRef logging = PyRef::steal(PyImport_ImportModule("logging"));
    if (!logging) {
        PyObject* cause = PyErr_GetRaisedException();
        PyErr_Format(PyExc_RuntimeError, "Failed to initialize python logging: %T: %S", cause, cause);
        PyObject* raised = PyErr_GetRaisedException();
        PyException_SetCause(raised, cause); // steals the reference to the cause
        PyErr_SetRaisedException(raised);
        return -1;
    }
    std::unique_ptr<LogBridge> bridge = LogBridge::create(std::move(logging));
    if (bridge == nullptr) return -1;
    if (!log::set_sink(std::move(bridge))) {
        PyErr_Format(PyExc_RuntimeError,
                     "the logger was already set: the logging bridge is installed once per process, "
                     "so %s cannot be imported a second time",
                     module_name);
        return -1;
    }
    log::set_max_level(kCeiling);
    return 0;
}

} // namespace tarnvale::py
