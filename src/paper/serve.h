// One client's conversation, the same over every transport: read a request
// (its length word, then that many bytes), answer it, until the client goes
// away or sends a length that no request of the protocol comes near, which
// leaves the stream unframeable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "paper/codes.h"
#include "paper/protocol.h"

namespace brv::paper {

// `read(data, n)` and `write(bytes)` move exactly that many bytes or fail.
template <class Read, class Write>
void ServeClient(Terminal& terminal, Read read, Write write) {
  Session session;
  std::vector<uint8_t> message;
  for (;;) {
    uint8_t head[4];
    if (!read(head, 4)) break;
    uint32_t length = uint32_t(head[0]) | uint32_t(head[1]) << 8 | uint32_t(head[2]) << 16 | uint32_t(head[3]) << 24;
    if (length < 4 || length > kMaxRequest) break;
    message.resize(length);
    if (!read(message.data(), length)) break;
    std::string reply = terminal.Handle(session, message.data(), length);
    if (reply.empty() || !write(reply)) break;
  }
}

}  // namespace brv::paper
