// The numpy C interface. One translation unit (module/module.cpp) defines
// the function table pointer; the others refer to it.
#pragma once

#include "module/python.h"

#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#define PY_ARRAY_UNIQUE_SYMBOL brv_numpy_api
#ifndef BRV_DEFINE_NUMPY_API
#define NO_IMPORT_ARRAY
#endif
#include <numpy/arrayobject.h>
