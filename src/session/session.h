// The exchanges that set up a connection: handshake, authorisation,
// readiness and version.
#pragma once

#include <cstdint>

#include "module/convert.h"

namespace brv::session {

constexpr uint32_t kCommandVersion = 1;
constexpr uint32_t kCommandHandshake = 4;
constexpr uint32_t kCommandAuthorize = 5;
constexpr uint32_t kCommandReadiness = 109;

constexpr uint32_t kReadyState = 2;
constexpr uint32_t kAuthorizationFailedState = 3;
constexpr uint32_t kDefaultReadyTimeoutMs = 60000;
constexpr uint32_t kReadyPollMs = 100;

// Stores the build number the terminal reports.
int32_t Handshake();
int32_t Authorize(uint64_t login, const NameText& password, const NameText& server);
// 1 when ready, else a negative code.
int32_t WaitReady(uint32_t timeout_ms);

}  // namespace brv::session
