// The Linux half of the bridge: the Unix socket that native clients connect
// to, named and guarded exactly as the connector names and guards a
// terminal's socket. Kept apart from the Windows half because the two sets of
// system headers do not mix in one translation unit; this half is built by
// the native compiler, the other by winegcc.
#pragma once

#include <cstddef>
#include <string>

namespace brv::bridge {

// The socket path a native client derives from the terminal executable's
// Linux path (its realpath, lower-cased and hashed). Empty when the path is
// too long or the private runtime folder cannot be used.
std::string SocketFor(const std::string& exe);

// Claims the socket (a lock file beside it keeps a second bridge away; a
// stale socket nobody answers on is replaced) and listens on it, readable
// by this user only. Returns 0, 2 on failure, 3 when another process serves
// it; `error` tells why.
int Listen(const std::string& socket_path, int* listen_fd, std::string* error);
void RemoveSocket(const std::string& socket_path);

// The next client of this user; a peer of another user is closed unserved.
// -1 when the listening socket fails.
int AcceptClient(int listen_fd);

// Relay primitives: Receive gives the byte count, 0 at end of stream, -1 on
// an error; SendAll moves all n bytes or fails. Neither raises SIGPIPE.
long Receive(int fd, void* data, size_t n);
bool SendAll(int fd, const void* data, size_t n);
// Ends both directions, waking a Receive blocked on the socket.
void EndSocket(int fd);
void CloseSocket(int fd);

}  // namespace brv::bridge
