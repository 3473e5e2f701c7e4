// Windows implementation of the platform interface: the terminal's named
// pipe, final paths from GetFinalPathNameByHandleW, the roaming application
// data folder, the Toolhelp process list for the parent rule, CreateProcessW
// for starting a terminal, and CryptoAPI for SHA-256. Paths stay UTF-16 from
// Python to the system calls (wchar_t is 16 bits wide here).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>
#include <tlhelp32.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstring>

#include "platform/platform.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wide characters");
static_assert(sizeof(brv::platform::Handle) >= sizeof(HANDLE), "a handle fits");

namespace brv::platform {
namespace {

InterruptCheck g_interrupt_check = nullptr;
bool g_interrupted = false;

// A blocked transfer or wait looks for a pending Ctrl-C this often.
constexpr DWORD kSliceMs = 50;

const wchar_t* W(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }
std::u16string U(const wchar_t* s) { return std::u16string(reinterpret_cast<const char16_t*>(s)); }
HANDLE H(Handle handle) { return reinterpret_cast<HANDLE>(handle); }

// Runs one overlapped ReadFile or WriteFile to completion, waiting in short
// slices so that a Ctrl-C stops a call blocked on a silent terminal: the
// operation is then cancelled and the call fails with kErrorInterrupted.
template <class Start>
bool Overlapped(HANDLE pipe, Start start, DWORD* moved, uint32_t* error) {
  OVERLAPPED ov{};
  ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (ov.hEvent == nullptr) {
    *error = GetLastError();
    return false;
  }
  bool ok = start(&ov) != FALSE;
  DWORD err = ok ? ERROR_SUCCESS : GetLastError();
  if (!ok && err == ERROR_IO_PENDING) {
    for (;;) {
      if (WaitForSingleObject(ov.hEvent, kSliceMs) == WAIT_OBJECT_0) break;
      if (InterruptRequested()) {
        CancelIoEx(pipe, &ov);
        GetOverlappedResult(pipe, &ov, moved, TRUE);
        CloseHandle(ov.hEvent);
        *error = kErrorInterrupted;
        return false;
      }
    }
  }
  if (ok || err == ERROR_IO_PENDING) {
    ok = GetOverlappedResult(pipe, &ov, moved, FALSE) != FALSE;
    err = ok ? ERROR_SUCCESS : GetLastError();
  }
  CloseHandle(ov.hEvent);
  if (!ok) *error = err;
  return ok;
}

}  // namespace

void SetInterruptCheck(InterruptCheck check) { g_interrupt_check = check; }

bool InterruptRequested() {
  if (g_interrupt_check == nullptr || !g_interrupt_check()) return false;
  g_interrupted = true;
  return true;
}

bool TakeInterrupted() {
  bool interrupted = g_interrupted;
  g_interrupted = false;
  return interrupted;
}

// ---- pipe transport ------------------------------------------------------

bool OpenPipe(const std::u16string& name, Handle* handle, uint32_t* error) {
  *handle = kInvalidHandle;
  for (;;) {
    // Opened for overlapped I/O only so that a blocked transfer can be
    // interrupted; the pipe stays in its default byte mode.
    HANDLE h = CreateFileW(W(name), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      *handle = reinterpret_cast<Handle>(h);
      return true;
    }
    *error = GetLastError();
    if (*error != ERROR_PIPE_BUSY) return false;
    // Every instance is taken: wait for the server to offer a free one. The
    // wait has no deadline, but it is taken in slices so that Ctrl-C ends it.
    for (;;) {
      if (WaitNamedPipeW(W(name), kSliceMs)) break;
      DWORD wait_error = GetLastError();
      if (wait_error != ERROR_SEM_TIMEOUT || InterruptRequested()) {
        *error = ERROR_PIPE_BUSY;
        return false;
      }
    }
  }
}

// Transfers continue until the full count has moved (a byte-mode pipe may
// hand over a message in parts); only error 109 marks the pipe as ended.
bool WritePipe(Handle handle, const void* data, size_t n, uint32_t* error) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    DWORD chunk = n > 0x40000000 ? DWORD(0x40000000) : DWORD(n);
    DWORD sent = 0;
    if (!Overlapped(H(handle), [&](OVERLAPPED* ov) { return WriteFile(H(handle), p, chunk, nullptr, ov); },
                    &sent, error)) {
      return false;
    }
    p += sent;
    n -= sent;
  }
  return true;
}

bool ReadPipe(Handle handle, void* data, size_t n, uint32_t* error) {
  char* p = static_cast<char*>(data);
  while (n > 0) {
    DWORD chunk = n > 0x40000000 ? DWORD(0x40000000) : DWORD(n);
    DWORD got = 0;
    if (!Overlapped(H(handle), [&](OVERLAPPED* ov) { return ReadFile(H(handle), p, chunk, nullptr, ov); },
                    &got, error)) {
      return false;
    }
    if (got == 0) {
      *error = kErrorBrokenPipe;
      return false;
    }
    p += got;
    n -= got;
    if (n > 0 && InterruptRequested()) {
      *error = kErrorInterrupted;
      return false;
    }
  }
  return true;
}

void ClosePipe(Handle handle) {
  if (handle != kInvalidHandle) CloseHandle(H(handle));
}

// ---- files and folders ---------------------------------------------------

std::u16string FinalPath(const std::u16string& path, size_t capacity) {
  HANDLE file = CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    std::u16string final_path(capacity, u'\0');
    DWORD n = GetFinalPathNameByHandleW(file, reinterpret_cast<wchar_t*>(&final_path[0]), DWORD(capacity), 0);
    CloseHandle(file);
    // Success is a length below the capacity: the path and its terminator fit.
    if (n > 0 && n < capacity) {
      final_path.resize(n);
      return final_path;
    }
  }
  return path.substr(0, capacity);
}

bool RoamingDataFolder(std::u16string* folder) {
  PWSTR path = nullptr;
  HRESULT hr = SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &path);
  bool ok = SUCCEEDED(hr) && path != nullptr;
  if (ok) *folder = U(path);
  CoTaskMemFree(path);
  return ok;
}

// The caller gives the folder with its trailing separator; the pattern is
// that followed by "*". NTFS lists by name already, but FAT, network shares
// and Wine over a Unix file system list in an order of their own: sorted,
// the tie between equal candidates goes to the same folder everywhere.
bool ListDirectory(const std::u16string& folder, std::vector<DirEntry>* entries) {
  std::u16string pattern = folder;
  if (!pattern.empty() && pattern.back() != u'\\' && pattern.back() != u'/') pattern += u'\\';
  pattern += u'*';
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(W(pattern), &found);
  if (find == INVALID_HANDLE_VALUE) return false;
  entries->clear();
  do {
    std::u16string name = U(found.cFileName);
    if (name == u"." || name == u"..") continue;
    entries->push_back(DirEntry{name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  } while (FindNextFileW(find, &found));
  FindClose(find);
  std::sort(entries->begin(), entries->end(),
            [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
  return true;
}

bool PathExists(const std::u16string& path) { return GetFileAttributesW(W(path)) != INVALID_FILE_ATTRIBUTES; }

bool LastWriteTime(const std::u16string& path, uint64_t* time) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(W(path), GetFileExInfoStandard, &data)) return false;
  *time = uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32 | data.ftLastWriteTime.dwLowDateTime;
  return true;
}

bool ReadFileHead(const std::u16string& path, size_t limit, std::string* bytes, bool* read_ok) {
  HANDLE file = CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bytes->assign(limit, '\0');
  DWORD got = 0;
  // One read, as much as the limit allows.
  *read_ok = ReadFile(file, &(*bytes)[0], DWORD(limit), &got, nullptr) != FALSE;
  bytes->resize(*read_ok ? got : 0);
  CloseHandle(file);
  return true;
}

// ---- processes -----------------------------------------------------------

std::u16string ParentProcessPath() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return std::u16string();
  const DWORD self = GetCurrentProcessId();
  DWORD parent = 0;
  PROCESSENTRY32W entry;
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == self) {
      parent = entry.th32ParentProcessID;
      break;
    }
  }
  CloseHandle(snapshot);
  if (parent == 0) return std::u16string();
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, parent);
  if (process == nullptr) return std::u16string();
  wchar_t exe[260];
  DWORD size = 260;
  BOOL ok = QueryFullProcessImageNameW(process, 0, exe, &size);
  CloseHandle(process);
  if (!ok) return std::u16string();
  return std::u16string(reinterpret_cast<const char16_t*>(exe), size);
}

bool StartProcess(const std::u16string& path, bool portable) {
  // With /portable the command line is the quoted path and the switch, held
  // in 259 units with the terminator; otherwise there is none and the
  // system uses the path itself.
  std::u16string command;
  if (portable) {
    command = u"\"" + path + u"\" /portable";
    if (command.size() > 258) command.resize(258);
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;  // the terminal runs without standard streams
  startup.hStdInput = INVALID_HANDLE_VALUE;
  startup.hStdOutput = INVALID_HANDLE_VALUE;
  startup.hStdError = INVALID_HANDLE_VALUE;
  PROCESS_INFORMATION info{};
  BOOL ok = CreateProcessW(W(path), portable ? reinterpret_cast<wchar_t*>(&command[0]) : nullptr, nullptr,
                           nullptr, FALSE, 0, nullptr, nullptr, &startup, &info);
  if (!ok) return false;
  CloseHandle(info.hProcess);
  CloseHandle(info.hThread);
  return true;
}

bool SleepMs(uint32_t ms) {
  // Slept in slices so that a Ctrl-C during a long wait stops it.
  if (InterruptRequested()) return false;
  while (ms > 0) {
    DWORD slice = ms < kSliceMs ? ms : kSliceMs;
    Sleep(slice);
    ms -= slice;
    if (InterruptRequested()) return false;
  }
  return true;
}

void AdviseLargeBlock(void* data, size_t bytes) {
  (void)data;
  (void)bytes;
}

// ---- text and hashing ----------------------------------------------------

// The system's own mapping, CharLowerBuffW: the terminal names its pipe on
// the same machine with the same call, so both ends agree even where the
// system's tables differ from the portable table of text.cpp (Wine, for one,
// leaves U+0130, U+01C5, U+01C8, U+01CB, U+01F2, U+03F4, U+1E9E, U+2126,
// U+212A and U+212B unchanged).
void LowerCase(char16_t* text, size_t n) {
  if (n > 0) CharLowerBuffW(reinterpret_cast<wchar_t*>(text), DWORD(n));
}

bool Sha256(const void* data, size_t n, uint8_t digest[32]) {
  HCRYPTPROV provider = 0;
  if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) return false;
  HCRYPTHASH hash = 0;
  bool ok = CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash) != FALSE;
  if (ok) ok = CryptHashData(hash, static_cast<const BYTE*>(data), DWORD(n), 0) != FALSE;
  DWORD size = 32;
  if (ok) ok = CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0) != FALSE && size == 32;
  if (hash != 0) CryptDestroyHash(hash);
  CryptReleaseContext(provider, 0);
  return ok;
}

}  // namespace brv::platform
