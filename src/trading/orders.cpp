// order_check and order_send: one trade request, from a dictionary or from
// the keyword arguments themselves, and a result record that carries the
// request as it was parsed and sent.
#include "module/errors.h"
#include "module/functions.h"
#include "module/records.h"
#include "trading/operations.h"
#include "trading/request.h"

namespace brv::trading {
namespace {

// The result records; their last item, the request, is attached here.
constexpr RecordLayout kCheckResultRecord = LayoutOf<records::CheckResult>(kOrderCheckResult);
constexpr Py_ssize_t kCheckRequestIndex = records::CheckResult::request.item;
constexpr RecordLayout kSendResultRecord = LayoutOf<records::SendResult>(kOrderSendResult);
constexpr Py_ssize_t kSendRequestIndex = records::SendResult::request.item;

// The request of either call form: one positional dictionary without
// keywords, or the keyword dictionary itself with no positional argument.
// Null (last error set) when the arguments do not fit either form.
PyObject* RequestObject(PyObject* args, PyObject* kwargs) {
  const Py_ssize_t positional = PyTuple_GET_SIZE(args);
  if (kwargs == nullptr || PyDict_GET_SIZE(kwargs) == 0) {
    if (positional != 1) {
      SetError(kInvalidParams, "Invalid number of arguments");
      return nullptr;
    }
    return PyTuple_GET_ITEM(args, 0);
  }
  if (positional != 0) {
    SetError(kInvalidParams, "Unnamed arguments not allowed");
    return nullptr;
  }
  return kwargs;
}

// The result record with `request` (made from the parsed record) as its
// item at `request_index`; -1 "Terminal: Call failed" when either cannot be made.
PyObject* BuildResult(const RecordLayout& layout, const uint8_t* reply, Py_ssize_t request_index,
                      const TradeRequestRecord& request) {
  Ref parsed(MakeTradeRequest(request));
  Ref result(parsed ? DecodeRecord(layout, reply) : nullptr);
  if (!result) {
    SetError(kCallFailed, "Terminal: Call failed");
    Py_RETURN_NONE;
  }
  PyStructSequence_SET_ITEM(result.get(), request_index, parsed.release());
  return result.release();
}

}  // namespace
}  // namespace brv::trading

namespace brv::api {

using namespace brv::trading;

PyObject* order_check(PyObject*, PyObject* args, PyObject* kwargs) {
  ResetError();
  TradeRequestRecord request;
  PyObject* object = RequestObject(args, kwargs);
  if (object == nullptr || !ParseTradeRequest(object, &request)) Py_RETURN_NONE;
  CheckResultRecord reply;
  int32_t result = OrderCheck(request, &reply);
  if (result < 0) return ReportCode(result);
  return BuildResult(kCheckResultRecord, reply.bytes, kCheckRequestIndex, request);
}

PyObject* order_send(PyObject*, PyObject* args, PyObject* kwargs) {
  ResetError();
  TradeRequestRecord request;
  PyObject* object = RequestObject(args, kwargs);
  if (object == nullptr || !ParseTradeRequest(object, &request)) Py_RETURN_NONE;
  SendResultRecord reply;
  int32_t result = OrderSend(request, &reply);
  if (result == kAutoTradingDisabled) {
    SetError(kAutoTradingDisabled, "Auto-Trading using Python API disabled in Terminal");
    Py_RETURN_NONE;
  }
  if (result < 0) return ReportCode(result);
  // The retcode is the terminal's verdict on the trade; the call itself succeeded.
  return BuildResult(kSendResultRecord, reply.bytes, kSendRequestIndex, request);
}

}  // namespace brv::api
