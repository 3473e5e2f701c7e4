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

// The result records without their last item, the request.
constexpr WireField kCheckResultFields[] = {
    U32(0, 0),          // retcode
    F64(4, 1),          // balance
    F64(12, 2),         // equity
    F64(20, 3),         // profit
    F64(28, 4),         // margin
    F64(36, 5),         // margin_free
    F64(44, 6),         // margin_level
    Text(52, 100, 7),   // comment
};
constexpr RecordLayout kCheckResultRecord = MakeLayout(kOrderCheckResult, kCheckResultSize, kCheckResultFields);
constexpr Py_ssize_t kCheckRequestIndex = 8;

constexpr WireField kSendResultFields[] = {
    U32(0, 0),          // retcode
    U64(4, 1),          // deal
    U64(12, 2),         // order
    F64(20, 3),         // volume
    F64(28, 4),         // price
    F64(36, 5),         // bid
    F64(44, 6),         // ask
    Text(52, 100, 7),   // comment
    U32(252, 8),        // request_id
    I32(256, 9),        // retcode_external
};
constexpr RecordLayout kSendResultRecord = MakeLayout(kOrderSendResult, kSendResultSize, kSendResultFields);
constexpr Py_ssize_t kSendRequestIndex = 10;

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
