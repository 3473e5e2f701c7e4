#include "session/operations.h"

#include "link/call.h"
#include "link/client.h"
#include "link/result.h"
#include "platform/platform.h"

namespace brv::session {

using link::Body;

int32_t Handshake() {
  static const char16_t kClientName[] = u"Python";
  uint32_t build = 0;
  int32_t result = link::Call(kCommandHandshake, Body().U32(3).Text(kClientName, 6), [&build](link::PipeReader& r) {
    if (!r.Read(&build, 4)) return false;
    link::g_terminal_build = build;
    return true;
  });
  return result;
}

int32_t Authorize(uint64_t login, const NameText& password, const NameText& server) {
  return link::CallStatus(kCommandAuthorize, Body().U32(0).U64(login).Text(password).Text(server));
}

int32_t WaitReady(uint32_t timeout_ms) {
  const uint32_t limit = timeout_ms != 0 ? timeout_ms : kDefaultReadyTimeoutMs;
  uint32_t elapsed = 0;
  for (;;) {
    uint32_t state = 0;
    int32_t result = link::CallValue(kCommandReadiness, Body(), &state);
    if (result < 0) return result;
    if (state == kReadyState) return kSuccess;
    if (state == kAuthorizationFailedState) return kAuthorizationFailed;
    // The wait counts its sleeps only, not the time the exchanges take.
    if (!platform::SleepMs(kReadyPollMs)) {
      // Interrupted (Ctrl-C): the terminal's state is no longer known.
      link::g_client.MarkClosed();
      return kIpcTimeout;
    }
    elapsed += kReadyPollMs;
    if (elapsed >= limit) return kIpcTimeout;
  }
}

int32_t Version(uint32_t* version, uint32_t* build, std::vector<char16_t>* text) {
  return link::Call(kCommandVersion, Body().U32(0), [&](link::PipeReader& r) {
    uint32_t n = 0;
    if (!r.Read(version, 4) || !r.Read(build, 4) || !r.Read(&n, 4)) return false;
    // The count must match the rest of the reply before anything is allocated.
    if (uint64_t(n) * 2 != r.Left() || n > kMaxVersionUnits) return false;
    text->resize(n);
    return r.Read(text->data(), size_t(n) * 2);
  });
}

}  // namespace brv::session
