// The bar and tick array layouts: numpy descriptors byte for byte equal to
// the 60-byte records the terminal sends, so that an array is laid over the
// received buffer without copying.
#pragma once

#include <cstddef>
#include <cstdint>

#include "history/operations.h"
#include "module/python.h"

namespace brv {

// Built once at import; a layout that cannot be built stays absent.
void BuildLayouts();
PyObject* BarLayout();   // borrowed, may be null
PyObject* TickLayout();  // borrowed, may be null

// Storage for bar and tick records: numpy's data allocator, so that the
// array that takes the buffer over can release it.
void* AllocateArrayData(size_t bytes);
void FreeArrayData(void* data);

// A new read-only array of `count` records over `buffer` (from
// AllocateArrayData), which it then owns. Null on failure, when the caller
// still owns the buffer.
PyObject* ArrayOverBuffer(PyObject* layout, void* buffer, uint32_t count);

}  // namespace brv
