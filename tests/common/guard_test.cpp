// The guard around every entry point and the conversion of results: a C++
// exception never reaches the interpreter, and a failed Result raises
// RuntimeError with its message unchanged.
#include "common/guard.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

#include "common/convert.hpp"
#include "embedded_python.hpp"

namespace tarnvale {
namespace {

using testing::take_exception;

TEST(Guard, CppExceptionsBecomePythonExceptionsAndTheFailureValue) {
    const struct {
        const char* name;
        std::function<void()> thrower;
        std::pair<std::string, std::string> raised;
    } cases[] = {
        {"bad_alloc", [] { throw std::bad_alloc(); }, {"MemoryError", ""}},
        {"runtime_error", [] { throw std::runtime_error("boom"); }, {"RuntimeError", "internal error: boom"}},
        {"length_error",
         [] { throw std::length_error("vector"); },
         {"RuntimeError", "internal error: vector"}},
        {"not an exception", [] { throw 42; }, {"RuntimeError", "internal error: unknown C++ exception"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PyObject* object = py::guarded([&]() -> PyObject* {
            c.thrower();
            return Py_NewRef(Py_None);
        });
        EXPECT_EQ(object, nullptr);
        EXPECT_EQ(take_exception(), c.raised);
        const int status = py::guarded([&] {
            c.thrower();
            return 0;
        });
        EXPECT_EQ(status, -1);
        EXPECT_EQ(take_exception(), c.raised);
    }
    // Without an exception the body's value passes through and nothing is raised.
    EXPECT_EQ(py::guarded([] { return 7; }), 7);
    EXPECT_EQ(take_exception(), (std::pair<std::string, std::string>{"", ""}));
}

TEST(ToPyResult, FailuresRaiseRuntimeErrorWithTheirTextAndValuesConvert) {
    using Answer = QueryResult<std::uint32_t>;
    EXPECT_EQ(py::to_py_result(Answer(std::unexpected(QueryError("function 3 not found")))), nullptr);
    EXPECT_EQ(take_exception(),
              (std::pair<std::string, std::string>{"RuntimeError", "function 3 not found"}));

    EXPECT_EQ(py::to_py_result(Result<float>(std::unexpected(Error::context("a", Error::parse("b"))))),
              nullptr);
    EXPECT_EQ(take_exception(), (std::pair<std::string, std::string>{"RuntimeError", "a: parse error: b"}));

    // The message is UTF-8 and arrives as the same text.
    EXPECT_EQ(py::raise_runtime("\u00b0C \u20ac"), nullptr);
    EXPECT_EQ(take_exception(), (std::pair<std::string, std::string>{"RuntimeError", "\u00b0C \u20ac"}));

    py::PyRef number = py::PyRef::steal(py::to_py_result(Answer(4294967295u)));
    ASSERT_TRUE(number);
    EXPECT_EQ(PyLong_AsUnsignedLongLong(number.get()), 4294967295u);
    py::PyRef text = py::PyRef::steal(py::to_py_result(QueryResult<std::string>(std::string("b"))));
    ASSERT_TRUE(text);
    EXPECT_STREQ(PyUnicode_AsUTF8(text.get()), "b");
    // An object is handed on as it is.
    py::PyRef none = py::PyRef::steal(py::to_py_result(Result<PyObject*>(Py_NewRef(Py_None))));
    EXPECT_EQ(none.get(), Py_None);
}

} // namespace
} // namespace tarnvale
