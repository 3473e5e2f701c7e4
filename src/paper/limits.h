// What one local peer may cost the paper terminal: connections, memory held
// for a request or a reply, and time. Beyond them the one connection or
// request is refused (and logged); the terminal itself goes on serving.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brv::paper {

// Connections served at once; more are accepted and closed at once.
constexpr size_t kMaxConnections = 64;
// A request's body is read in pieces of this size, so that a length word
// announcing a large request costs only what really arrives.
constexpr size_t kReadPiece = 64 * 1024;
// Replies are produced and sent in pieces of about this size: a client that
// does not read holds one piece (and the socket's buffer), not the reply.
constexpr size_t kReplyPiece = 1 << 20;
// A connection that sends nothing, or takes nothing of a reply, for this
// long is closed.
constexpr int kIdleTimeoutMs = 10 * 60 * 1000;
// After a failed accept for lack of descriptors or memory, the listening
// socket rests this long instead of being polled again at once.
constexpr int kAcceptBackoffMs = 100;

}  // namespace brv::paper
