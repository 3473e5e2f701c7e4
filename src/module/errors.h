// The process-global last error. Module functions never raise for failures
// of their own: they set the last error and return a neutral value;
// last_error() reports it.
#pragma once

#include <cstdint>

#include "link/result.h"
#include "module/python.h"

namespace brv {


// Code 1, "Success". Every module function except last_error starts with it.
void ResetError();
// Sets the code and copies the text (cut to fit the 2048-byte message).
void SetError(int32_t code, const char* text);
// Sets the code with its table text and returns a new None / False.
PyObject* ReportCode(int32_t code);
PyObject* ReportCodeFalse(int32_t code);
// Sets the code and its table text without making a return value.
void SetErrorFromCode(int32_t code);

// A module function called while another one runs (from a signal handler
// that the waiting call ran) is refused with -10000 and a message of its
// own. The last error the running call had is kept aside and comes back when
// that call ends, unless it has set another one since.
void SetNestedCallError();
void EndOfOutermostCall();

int32_t LastErrorCode();
const char* LastErrorText();

}  // namespace brv
