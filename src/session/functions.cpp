// The entry points of the connection: initialize, login, shutdown and
// version. They read the arguments, run the session operations and report
// the outcome through the last error.
#include <string>
#include <vector>

#include "link/client.h"
#include "module/convert.h"
#include "module/errors.h"
#include "module/functions.h"
#include "platform/platform.h"
#include "session/operations.h"

namespace brv::api {
namespace {

constexpr const char* kUnsupportedAuthorization =
    "Unsupported authorization mode, OTP or certificate password needed";

// Reports a failed authorisation: -7 has a message of its own.
PyObject* AuthorizationFailed(int32_t result) {
  if (result == kUnsupported) {
    SetError(kUnsupported, kUnsupportedAuthorization);
    Py_RETURN_FALSE;
  }
  return ReportCodeFalse(result);
}

// The keywords initialize and login share, in the order they are read; they
// replace positional values. False with the last error set on the first
// invalid one.
bool ReadAccountKeywords(PyObject* kwargs, uint64_t* login, NameText* server, NameText* password,
                         uint32_t* timeout) {
  PyObject* value;
  if ((value = Keyword(kwargs, "login")) && !ConvertU64(value, login)) {
    SetError(kInvalidParams, "Invalid \"login\" argument");
    return false;
  }
  if ((value = Keyword(kwargs, "server")) && !ConvertText(value, server)) {
    SetError(kInvalidParams, "Invalid \"server\" argument");
    return false;
  }
  if ((value = Keyword(kwargs, "password")) && !ConvertText(value, password)) {
    SetError(kInvalidParams, "Invalid \"password\" argument");
    return false;
  }
  if ((value = Keyword(kwargs, "timeout")) && !ConvertU32(value, timeout)) {
    SetError(kInvalidParams, "Invalid \"timeout\" argument");
    return false;
  }
  return true;
}

}  // namespace

PyObject* initialize(PyObject*, PyObject* args, PyObject* kwargs) {
  ResetError();
  PathText path;
  NameText server, password;
  uint64_t login = 0;
  uint32_t timeout = 0;
  bool portable = false;
  // A failing initialize leaves the module disconnected too.
  link::g_client.Close();

  Py_ssize_t positional = PyTuple_GET_SIZE(args);
  if (positional > 1) {
    SetError(kInvalidParams, "Invalid number of arguments");
    Py_RETURN_FALSE;
  }
  if (positional == 1 && !ConvertText(PyTuple_GET_ITEM(args, 0), &path)) {
    SetError(kInvalidParams, "Invalid 1st unnamed argument");
    Py_RETURN_FALSE;
  }
  if (!ReadAccountKeywords(kwargs, &login, &server, &password, &timeout)) Py_RETURN_FALSE;
  PyObject* value = Keyword(kwargs, "path");
  if (value != nullptr && !ConvertText(value, &path)) {
    SetError(kInvalidParams, "Invalid \"path\" argument");
    Py_RETURN_FALSE;
  }
  // The portable mode applies when the terminal is started from this path.
  if ((value = Keyword(kwargs, "portable")) != nullptr) portable = ConvertFlag(value, true);

  std::u16string path_text(path.units, path.Length());
  if (!link::g_client.Initialize(path_text, portable)) return ReportCodeFalse(kIpcInitializeFailed);

  int32_t result = session::Handshake();
  if (result < 0) return ReportCodeFalse(result);  // the pipe stays open

  if (login != 0 || !password.Empty() || !server.Empty()) {
    result = session::Authorize(login, password, server);
    if (result < 0) {
      link::g_client.Close();
      return AuthorizationFailed(result);
    }
  }
  result = session::WaitReady(timeout);
  if (result < 0) {
    link::g_client.Close();
    return ReportCodeFalse(result);
  }
  Py_RETURN_TRUE;
}

PyObject* login(PyObject*, PyObject* args, PyObject* kwargs) {
  ResetError();
  NameText server, password;
  uint64_t login = 0;
  uint32_t timeout = 0;

  Py_ssize_t positional = PyTuple_GET_SIZE(args);
  if (positional > 3) {
    SetError(kInvalidParams, "Invalid number of arguments");
    Py_RETURN_FALSE;
  }
  if (positional >= 1 && !ConvertU64(PyTuple_GET_ITEM(args, 0), &login)) {
    SetError(kInvalidParams, "Invalid 1st unnamed argument");
    Py_RETURN_FALSE;
  }
  // The second positional argument is the password, the third the server.
  if (positional >= 2 && !ConvertText(PyTuple_GET_ITEM(args, 1), &password)) {
    SetError(kInvalidParams, "Invalid 2nd unnamed argument");
    Py_RETURN_FALSE;
  }
  if (positional >= 3 && !ConvertText(PyTuple_GET_ITEM(args, 2), &server)) {
    SetError(kInvalidParams, "Invalid 3rd unnamed argument");
    Py_RETURN_FALSE;
  }
  if (!ReadAccountKeywords(kwargs, &login, &server, &password, &timeout)) Py_RETURN_FALSE;
  if (login == 0) {
    SetError(kInvalidParams, "Invalid \"login\" argument");
    Py_RETURN_FALSE;
  }
  // login runs on whatever connection exists and never closes it.
  int32_t result = session::Authorize(login, password, server);
  if (result < 0) return AuthorizationFailed(result);
  result = session::WaitReady(timeout);
  if (result < 0) return ReportCodeFalse(result);
  Py_RETURN_TRUE;
}

PyObject* shutdown(PyObject*, PyObject*) {
  ResetError();
  link::g_client.Close();
  Py_RETURN_TRUE;
}

PyObject* version(PyObject*, PyObject*) {
  ResetError();
  uint32_t version = 0, build = 0;
  std::vector<char16_t> text;
  int32_t result = session::Version(&version, &build, &text);
  std::string utf8;
  if (result > 0) {
    utf8 = platform::ToUtf8(std::u16string(text.begin(), text.end()));
    if (utf8.size() > 127) utf8.clear();  // the text must fit 127 bytes
  } else {
    version = 0;
    build = 0;
  }
  if (result < 0) SetErrorFromCode(result);
  return Py_BuildValue("(iis)", int(int32_t(version)), int(int32_t(build)), utf8.c_str());
}

}  // namespace brv::api
