// Result codes: what a client operation returns. Zero or positive is the
// terminal's status on success; negative is a failure, reported by the
// terminal (-1 to -8) or found by the module (-2 for its own checks, and
// -10000 to -10005 for the pipe). The module turns them into last_error().
#pragma once

#include <cstdint>

namespace brv {

enum ResultCode : int32_t {
  kSuccess = 1,
  kCallFailed = -1,
  kInvalidParams = -2,
  kOutOfMemory = -3,
  kNotFound = -4,
  kIncompatibleVersions = -5,
  kAuthorizationFailed = -6,
  kUnsupported = -7,
  kAutoTradingDisabled = -8,
  kIpcCallFailed = -10000,
  kIpcSendFailed = -10001,
  kIpcRecvFailed = -10002,
  kIpcInitializeFailed = -10003,
  kNoIpcConnection = -10004,
  kIpcTimeout = -10005,
};

}  // namespace brv
