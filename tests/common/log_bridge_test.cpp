// The logging bridge from the core's facade into Python `logging`: level
// mapping, records that fail on the way, the level fixed by a logger's first
// record, and installing it.
#include "common/log_bridge.hpp"

#include <gtest/gtest.h>

#include <new>
#include <string>
#include <utility>

#include "embedded_python.hpp"
#include "log.hpp"

namespace tarnvale {
namespace {

using log::Level;
using testing::python_str;
using testing::run_python;
using testing::take_exception;

// Installs the bridge once per process, and a handler keeping (name, level, message).
class LogBridge : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ASSERT_EQ(py::install_log_bridge("embedded"), 0);
        run_python("import logging, sys\n"
                   "kept = []\n"
                   "class Keep(logging.Handler):\n"
                   "    def emit(self, record):\n"
                   "        kept.append((record.name, record.levelno, record.getMessage()))\n"
                   "logging.getLogger('tarnvale').addHandler(Keep())\n"
                   "logging.getLogger('tarnvale').setLevel(logging.DEBUG)\n"
                   "unraisable = []\n"
                   "sys.unraisablehook = lambda u: unraisable.append(u.exc_type.__name__)\n");
    }
    void SetUp() override { run_python("kept.clear(); unraisable.clear()"); }
};

std::string fail_to_format() { throw std::bad_alloc(); }

TEST_F(LogBridge, LevelsMapToPythonLevelsAndTraceStaysBehind) {
    TV_LOG(Level::Error, "tarnvale::bridge::levels", std::string("e"));
    TV_LOG(Level::Warn, "tarnvale::bridge::levels", std::string("w"));
    TV_LOG(Level::Info, "tarnvale::bridge::levels", std::string("i"));
    TV_LOG(Level::Debug, "tarnvale::bridge::levels", std::string("d %s 100%"));
    TV_LOG(Level::Trace, "tarnvale::bridge::levels", std::string("t"));
    EXPECT_EQ(python_str("kept"),
              "[('tarnvale.bridge.levels', 40, 'e'), ('tarnvale.bridge.levels', 30, 'w'), "
              "('tarnvale.bridge.levels', 20, 'i'), ('tarnvale.bridge.levels', 10, 'd %s "
              "100%')]");
}

TEST_F(LogBridge, ARecordThatCannotBeFormattedIsLostAndReported) {
    PyErr_SetString(PyExc_KeyError, "pending");
    TV_LOG(Level::Warn, "tarnvale::bridge::memory", fail_to_format());
    // The caller's pending exception is untouched; the failure went to sys.unraisablehook.
    EXPECT_EQ(take_exception(), (std::pair<std::string, std::string>{"KeyError", "'pending'"}));
    EXPECT_EQ(python_str("unraisable"), "['MemoryError']");
    EXPECT_EQ(python_str("kept"), "[]");
    // The logger still works for the next record.
    TV_LOG(Level::Warn, "tarnvale::bridge::memory", std::string("after"));
    EXPECT_EQ(python_str("kept"), "[('tarnvale.bridge.memory', 30, 'after')]");
}

TEST_F(LogBridge, AQuietLoggersFirstRecordSilencesItForGood) {
    run_python("logging.getLogger('tarnvale.bridge.quiet').setLevel(logging.CRITICAL)");
    TV_LOG(Level::Error, "tarnvale::bridge::quiet", std::string("dropped"));
    EXPECT_FALSE(log::enabled(Level::Error, "tarnvale::bridge::quiet"));
    run_python("logging.getLogger('tarnvale.bridge.quiet').setLevel(logging.DEBUG)");
    TV_LOG(Level::Error, "tarnvale::bridge::quiet", std::string("still dropped"));
    EXPECT_EQ(python_str("kept"), "[]");
}

TEST_F(LogBridge, InstallsOncePerProcessAndNeedsLogging) {
    EXPECT_EQ(py::install_log_bridge("second"), -1);
    EXPECT_EQ(take_exception(),
              (std::pair<std::string, std::string>{
                  "RuntimeError", "the logger was already set: the logging bridge is installed "
                                  "once per process, so second cannot be imported a second "
                                  "time"}));
    run_python("saved = sys.modules.pop('logging'); sys.modules['logging'] = None");
    EXPECT_EQ(py::install_log_bridge("third"), -1);
    EXPECT_EQ(
        take_exception(),
        (std::pair<std::string, std::string>{
            "RuntimeError", "Failed to initialize python logging: ModuleNotFoundError: import of logging "
                            "halted; None in sys.modules"}));
    run_python("sys.modules['logging'] = saved");
}

} // namespace
} // namespace tarnvale
