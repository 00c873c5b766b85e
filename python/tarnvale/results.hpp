// The six result classes: Spectrum, ImsSpectrum, ChromPoint, ChromChannel,
// RunHeader and FunctionInfo. Each instance owns a copy of one core record.
#pragma once

#include <Python.h>

#include <cstddef>
#include <span>
#include <type_traits>
#include <utility>

#include "common/py_ref.hpp"
#include "raw/chroms.hpp"
#include "raw/functions_inf.hpp"
#include "raw/header.hpp"
#include "raw/scan_decoders.hpp"
#include "tarnvale/result_class.hpp"
#include "tarnvale/types.hpp"

namespace tarnvale::py {

extern ResultClass<raw::Spectrum> spectrum_class;
extern ResultClass<raw::ImsSpectrum> ims_spectrum_class;
extern ResultClass<raw::ChromPoint> chrom_point_class;
extern ResultClass<raw::ChromChannel> chrom_channel_class;
extern ResultClass<raw::Header> run_header_class;
extern ResultClass<raw::FunctionInfo> function_info_class;

// The class whose instances show records of type T.
template <class T> struct ClassOf;
template <> struct ClassOf<raw::Spectrum> : std::integral_constant<ClassId, ClassId::Spectrum> {};
template <> struct ClassOf<raw::ImsSpectrum> : std::integral_constant<ClassId, ClassId::ImsSpectrum> {};
template <> struct ClassOf<raw::ChromPoint> : std::integral_constant<ClassId, ClassId::ChromPoint> {};
template <> struct ClassOf<raw::ChromChannel> : std::integral_constant<ClassId, ClassId::ChromChannel> {};
template <> struct ClassOf<raw::Header> : std::integral_constant<ClassId, ClassId::RunHeader> {};
template <> struct ClassOf<raw::FunctionInfo> : std::integral_constant<ClassId, ClassId::FunctionInfo> {};

// A new instance owning `record`; null with an exception set on failure. May throw
// std::bad_alloc, so callers run it under guarded().
template <class T> PyObject* new_result(T record) {
    PyTypeObject* type = class_type(ClassOf<T>::value);
    if (type == nullptr) return nullptr;
    return box_alloc(type, std::move(record));
}

// A new list holding one new instance per record, in order.
template <class T> PyObject* new_result_list(std::span<const T> records) {
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(records.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < records.size(); ++i) {
        PyObject* item = new_result(records[i]);
        if (item == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
}

} // namespace tarnvale::py
