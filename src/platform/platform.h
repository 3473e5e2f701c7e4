// The operating-system facilities the connector needs, behind one small
// interface: the pipe transport to the terminal, file and folder queries for
// terminal discovery, process start, sleeping, the SHA-256 digest and the
// lower-case mapping. Everything above this header is portable; posix.cpp
// implements it for Linux, windows.cpp for Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace brv::platform {

using Handle = intptr_t;
constexpr Handle kInvalidHandle = -1;

// Error codes reported through the `error` out-parameters. Transport errors
// are the system's error values (errno, or GetLastError() on Windows), except
// these two, which have their own
// meaning for the layers above.
constexpr uint32_t kErrorBrokenPipe = 109;        // peer gone: the pipe is ended
constexpr uint32_t kErrorInterrupted = 0x7fff0001;  // a signal handler asked to stop

// Called when a blocking call is interrupted by a signal. Returns true when
// the call must stop (for example because the interpreter has a pending
// KeyboardInterrupt); false lets the call continue. May be null.
using InterruptCheck = bool (*)();
void SetInterruptCheck(InterruptCheck check);
// Asks the check; a stop request is remembered until taken.
bool InterruptRequested();
// Whether a wait was stopped since the last call; clears the record.
bool TakeInterrupted();

// ---- pipe transport ------------------------------------------------------
// `name` is the pipe name `\\.\pipe\BRV.Terminal.<HEX>`; on POSIX it selects
// a Unix socket of the same final component in the runtime folder.
bool OpenPipe(const std::u16string& name, Handle* handle, uint32_t* error);
// Move exactly n bytes; anything less is a failure with `error` set
// (kErrorBrokenPipe when the peer has gone).
bool WritePipe(Handle handle, const void* data, size_t n, uint32_t* error);
bool ReadPipe(Handle handle, void* data, size_t n, uint32_t* error);
void ClosePipe(Handle handle);

#ifndef _WIN32
// Folder holding the terminals' sockets; created (mode 0700) when `create`
// is set and it is missing. Empty when it cannot be used safely.
std::string SocketDirectory(bool create);
// Full socket path for a pipe name; empty when the folder is unusable.
std::string SocketPath(const std::u16string& pipe_name, bool create_directory);
// The address of the Unix socket at `path`; false when the path is too long
// for one.
bool SocketAddress(const std::string& path, struct sockaddr_un* addr);
// Whether something accepts connections on the socket file at `path`.
bool SocketAnswers(const std::string& path);
#endif

// ---- files and folders ---------------------------------------------------
// Paths are formed with '/' and handed to NativePath, which gives them the
// system's separator ('\\' on Windows, where '/' also names the same file).
#ifdef _WIN32
constexpr char16_t kPathSeparator = u'\\';
#else
constexpr char16_t kPathSeparator = u'/';
#endif
std::u16string NativePath(std::u16string path);
// The final (resolved) path of an existing file, or `path` cut to
// `capacity` units when it cannot be resolved.
std::u16string FinalPath(const std::u16string& path, size_t capacity);
bool RoamingDataFolder(std::u16string* folder);
struct DirEntry {
  std::u16string name;
  bool directory;
};
// Lists a folder's entries sorted by name (UTF-16 units), whatever order the
// file system keeps them in.
bool ListDirectory(const std::u16string& folder, std::vector<DirEntry>* entries);
bool PathExists(const std::u16string& path);
// Last-write time of an existing path as an unsigned number whose order is
// the order of the times, at the platform's full precision (only the order
// of two values matters).
bool LastWriteTime(const std::u16string& path, uint64_t* time);
// Reads up to `limit` bytes from the start of a file. False when the file
// cannot be opened; `read_ok` tells whether the read itself succeeded.
bool ReadFileHead(const std::u16string& path, size_t limit, std::string* bytes, bool* read_ok);

// ---- processes -----------------------------------------------------------
// Resolved executable path of the process that started this one; empty
// when it cannot be found.
std::u16string ParentProcessPath();
// Starts `path` detached (own session, standard streams on the null device,
// reaped at once so that no zombie is left), with "/portable" as its only
// argument when `portable` is set. False when the executable cannot be run.
// On POSIX a Windows program is started under Wine (StartUnderWine).
bool StartProcess(const std::u16string& path, bool portable);
#ifndef _WIN32
// Starts args[0] with `args` detached as StartProcess does, with the
// environment `env` (the caller's when null).
bool StartDetached(const std::vector<std::string>& args, const std::vector<std::string>* env);
// Whether the file at `path` is a Windows program (it starts with "MZ").
bool IsWindowsProgram(const std::u16string& path);
// The Wine prefix that holds a path inside its drive_c; empty otherwise.
std::string WinePrefixOf(const std::string& path);
// Starts the Windows terminal at `path` under `wine` (from $PATH), in the
// prefix that holds it, and beside it the bridge (brv-bridge, installed
// with the extension) that serves its pipe on the terminal's socket; both
// detached. False when wine or the bridge cannot be started.
bool StartUnderWine(const std::u16string& path, bool portable);
// The Wine prefix of $WINEPREFIX (default ~/.wine) and the user's roaming
// application data folder inside it. False when neither variable helps.
bool WineRoamingDataFolder(std::u16string* prefix, std::u16string* roaming);
// The Linux path of a Windows path ("C:\\...") inside `prefix`; empty when
// its drive is not mapped.
std::u16string WineUnixPath(const std::u16string& prefix, std::u16string windows_path);
#endif
// Sleeps; returns false when a signal handler asked the wait to stop.
bool SleepMs(uint32_t ms);

// ---- memory ---------------------------------------------------------------
// Advises the kernel to back a large block that is about to be filled with
// huge pages, sparing the page faults of touching it in small pages. Does
// nothing for blocks below a few megabytes or where there is no such advice.
void AdviseLargeBlock(void* data, size_t bytes);

// ---- text and hashing ----------------------------------------------------
// Simple per-unit lower-case mapping of the portable table, independent of
// the locale.
char16_t LowerUnit(char16_t unit);
// Lower-cases a path for naming a pipe, unit by unit: the portable table on
// POSIX, the system's CharLowerBuffW on Windows (see windows.cpp).
void LowerCase(char16_t* text, size_t n);
bool Sha256(const void* data, size_t n, uint8_t digest[32]);

std::string ToUtf8(const std::u16string& text);
std::u16string FromUtf8(const std::string& text);

}  // namespace brv::platform
