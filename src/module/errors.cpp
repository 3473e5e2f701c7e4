#include "module/errors.h"
#include "module/functions.h"

#include <cstring>
#include <string>

#include "link/client.h"
#include "platform/platform.h"

namespace brv {
namespace {

constexpr size_t kMessageSize = 2048;

// Code 0 and an empty message until the first module function runs.
int32_t g_code = 0;
char g_message[kMessageSize] = {};
// Counts the changes of the last error, so that a refusal of a nested call
// can tell whether the running call has set an error of its own since.
uint64_t g_changes = 0;

struct Kept {
  bool held = false;
  uint64_t changes = 0;  // g_changes right after the refusal
  int32_t code = 0;
  char message[kMessageSize] = {};
};
Kept g_kept;

// Copies at most kMessageSize - 1 bytes, never cutting a UTF-8 sequence, so
// that last_error() can always decode the message.
void CopyMessage(const char* text, size_t n) {
  if (n >= kMessageSize) {
    n = kMessageSize - 1;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  }
  std::memcpy(g_message, text, n);
  g_message[n] = '\0';
  ++g_changes;
}

const char* TableText(int32_t code) {
  switch (code) {
    case kIpcTimeout: return "IPC timeout";
    case kNoIpcConnection: return "No IPC connection";
    case kIpcRecvFailed: return "IPC recv failed";
    case kIpcSendFailed: return "IPC send failed";
    case kIpcCallFailed: return "IPC call failed";
    case kUnsupported: return "Terminal: Unsupported function";
    case kAuthorizationFailed: return "Terminal: Authorization failed";
    case kIncompatibleVersions:
      return "Terminal: Incompatible versions, please install the latest version of Terminal and "
             "Python module";
    case kNotFound: return "Terminal: Not found";
    case kOutOfMemory: return "Terminal: Out of memory";
    case kInvalidParams: return "Terminal: Invalid params";
    default: return "Terminal: Call failed";
  }
}

}  // namespace

void ResetError() { SetError(kSuccess, "Success"); }

void SetError(int32_t code, const char* text) {
  g_code = code;
  CopyMessage(text, std::strlen(text));
}

void SetErrorFromCode(int32_t code) {
  if (code == kIpcInitializeFailed) {
    std::string text = "IPC initialize failed, " + platform::ToUtf8(link::g_client.message());
    g_code = code;
    CopyMessage(text.data(), text.size());
    return;
  }
  SetError(code, TableText(code));
}

PyObject* ReportCode(int32_t code) {
  SetErrorFromCode(code);
  Py_RETURN_NONE;
}

PyObject* ReportCodeFalse(int32_t code) {
  SetErrorFromCode(code);
  Py_RETURN_FALSE;
}

void SetNestedCallError() {
  if (!g_kept.held) {
    g_kept.held = true;
    g_kept.code = g_code;
    std::memcpy(g_kept.message, g_message, kMessageSize);
  }
  SetError(kIpcCallFailed, "IPC call failed, another call is in progress");
  g_kept.changes = g_changes;
}

void EndOfOutermostCall() {
  if (!g_kept.held) return;
  g_kept.held = false;
  if (g_changes != g_kept.changes) return;
  g_code = g_kept.code;
  std::memcpy(g_message, g_kept.message, kMessageSize);
}

int32_t LastErrorCode() { return g_code; }
const char* LastErrorText() { return g_message; }

}  // namespace brv

namespace brv::api {

PyObject* last_error(PyObject*, PyObject*) { return Py_BuildValue("(is)", int(g_code), g_message); }

}  // namespace brv::api
