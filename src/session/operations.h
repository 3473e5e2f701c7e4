// Client operations that set up a connection: handshake, authorisation,
// readiness and version. Each performs its exchanges and returns a result
// code: zero or positive on success, a negative code otherwise.
#pragma once

#include <cstdint>
#include <vector>

#include "link/text_field.h"

namespace brv::session {

constexpr uint32_t kCommandVersion = 1;
constexpr uint32_t kCommandHandshake = 4;
constexpr uint32_t kCommandAuthorize = 5;
constexpr uint32_t kCommandReadiness = 109;

constexpr uint32_t kReadyState = 2;
constexpr uint32_t kAuthorizationFailedState = 3;
constexpr uint32_t kDefaultReadyTimeoutMs = 60000;
constexpr uint32_t kReadyPollMs = 100;

// Far more than any version text; a longer one is refused unread.
constexpr uint32_t kMaxVersionUnits = 1u << 16;

// Stores the build number the terminal reports.
int32_t Handshake();
int32_t Authorize(uint64_t login, const NameText& password, const NameText& server);
// 1 when ready, else a negative code. A timeout of 0 waits the default time.
int32_t WaitReady(uint32_t timeout_ms);
// The terminal's version, build and version text (UTF-16 units).
int32_t Version(uint32_t* version, uint32_t* build, std::vector<char16_t>* text);

}  // namespace brv::session
