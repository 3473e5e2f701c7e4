// The numpy C interface. One translation unit (history/layouts.cpp, which
// imports numpy) defines the function table pointer; the others refer to it.
//
// Built against numpy 2 headers for the oldest numpy 1.x we support: the
// headers then expose only what 1.22 and later all provide, and descriptor
// fields are reached through accessors whose layout-dependent part numpy
// resolves at run time, so one binary runs on numpy 1.22+ and 2.x.
#pragma once

#include "module/python.h"

#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#define NPY_TARGET_VERSION NPY_1_22_API_VERSION
#define PY_ARRAY_UNIQUE_SYMBOL brv_numpy_api
#ifndef BRV_DEFINE_NUMPY_API
#define NO_IMPORT_ARRAY
#endif
#include <numpy/arrayobject.h>
