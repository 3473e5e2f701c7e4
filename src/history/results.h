// Steps shared by the bar and tick entry points.
#pragma once

#include <cstdint>

#include "link/call.h"
#include "module/python.h"

namespace brv::history {

// Sets (-2, "Invalid arguments"), clearing what argument parsing raised;
// returns None.
PyObject* InvalidArguments();

// A negative result is reported (None). Otherwise the array over the
// records, which takes the block over; when it cannot be made the block
// keeps (and later frees) the buffer and the call reports -3 "No memory".
PyObject* ArrayResult(int32_t result, PyObject* layout, link::Block& records);

// numpy's data allocator: the records are read straight into the memory
// that the array then owns, without a copy.
extern const link::Allocator kArrayAllocator;

}  // namespace brv::history
