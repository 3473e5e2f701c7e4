// One client's conversation, the same over every transport: read a request
// (its length word, then that many bytes), answer it, until the client goes
// away or sends a length that no request of the protocol comes near, which
// leaves the stream unframeable.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "paper/codes.h"
#include "paper/limits.h"
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
    // The buffer grows with what arrives, not with what the length promises.
    message.clear();
    size_t got = 0;
    while (got < length) {
      size_t piece = std::min<size_t>(length - got, kReadPiece);
      message.resize(got + piece);
      if (!read(message.data() + got, piece)) break;
      got += piece;
    }
    if (got < length) break;
    // Long replies come in pieces through `write`.
    if (!terminal.Handle(session, message.data(), length, Sink(write))) break;
    if (message.capacity() > kReadPiece) std::vector<uint8_t>().swap(message);
  }
}

}  // namespace brv::paper
