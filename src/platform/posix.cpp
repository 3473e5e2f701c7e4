// Linux implementation of the platform interface (it uses pipe2,
// SOCK_CLOEXEC, SO_PEERCRED and /proc, which other systems lack or name
// otherwise): Unix stream sockets stand
// in for the terminal's named pipe, realpath for final paths, the XDG folders
// for the per-user data folders, /proc for the parent process and a detached
// double fork for starting a terminal.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/mman.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "platform/platform.h"

namespace brv::platform {
namespace {

InterruptCheck g_interrupt_check = nullptr;
bool g_interrupted = false;

bool IsBrokenPipe(int err) { return err == EPIPE || err == ECONNRESET; }

bool AbsoluteEnv(const char* name, std::string* value) {
  const char* v = getenv(name);
  if (v == nullptr || v[0] != '/') return false;
  *value = v;
  return true;
}

std::string Utf8(const std::u16string& s) { return ToUtf8(s); }

// connect, where a signal may interrupt the wait: POSIX goes on connecting in
// the background then (a second connect would report EALREADY or EISCONN),
// so the wait goes on with poll until the socket is writable, and SO_ERROR
// tells the outcome. Linux drops an interrupted attempt on a Unix socket
// instead: the socket is then not connected, and connect starts again.
// 0, or the errno of the failure.
int ConnectSocket(int fd, const sockaddr_un& addr) {
  const sockaddr* to = reinterpret_cast<const sockaddr*>(&addr);
  if (connect(fd, to, sizeof(addr)) == 0) return 0;
  for (;;) {
    if (errno != EINTR) return errno;
    if (InterruptRequested()) return EINTR;
    pollfd p{fd, POLLOUT, 0};
    int ready = poll(&p, 1, -1);
    if (ready < 0) continue;  // errno is EINTR, or a failure reported as it is
    int err = 0;
    socklen_t len = sizeof(err);
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
    if (err != 0) return err;
    sockaddr_un peer{};
    socklen_t peer_len = sizeof(peer);
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peer_len) == 0) return 0;
    if (errno != ENOTCONN) return errno;
    if (connect(fd, to, sizeof(addr)) == 0) return 0;
  }
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

std::string SocketDirectory(bool create) {
  std::string dir;
  if (AbsoluteEnv("XDG_RUNTIME_DIR", &dir)) return dir;
  uid_t uid = getuid();
  dir = "/tmp/brv-" + std::to_string(uid);
  struct stat st;
  if (lstat(dir.c_str(), &st) != 0) {
    // A missing folder holds no socket: connecting then fails as for a
    // missing socket.
    if (errno != ENOENT) return std::string();
    if (!create) return dir;
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return std::string();
    if (lstat(dir.c_str(), &st) != 0) return std::string();
  }
  // Refuse a folder that another user could have prepared for us.
  if (!S_ISDIR(st.st_mode) || st.st_uid != uid || (st.st_mode & 077) != 0) return std::string();
  return dir;
}

std::string SocketPath(const std::u16string& pipe_name, bool create_directory) {
  std::string dir = SocketDirectory(create_directory);
  if (dir.empty()) return dir;
  size_t slash = pipe_name.find_last_of(u'\\');
  std::u16string leaf = slash == std::u16string::npos ? pipe_name : pipe_name.substr(slash + 1);
  if (dir.back() != '/') dir += '/';
  return dir + Utf8(leaf);
}

bool SocketAddress(const std::string& path, sockaddr_un* addr) {
  *addr = sockaddr_un{};
  addr->sun_family = AF_UNIX;
  if (path.size() >= sizeof(addr->sun_path)) return false;
  std::memcpy(addr->sun_path, path.c_str(), path.size() + 1);
  return true;
}

bool SocketAnswers(const std::string& path) {
  sockaddr_un addr;
  if (!SocketAddress(path, &addr)) return false;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool answered = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
  close(fd);
  return answered;
}

bool OpenPipe(const std::u16string& name, Handle* handle, uint32_t* error) {
  *handle = kInvalidHandle;
  std::string path = SocketPath(name, false);
  if (path.empty()) {
    *error = EACCES;
    return false;
  }
  sockaddr_un addr;
  if (!SocketAddress(path, &addr)) {
    *error = ENAMETOOLONG;
    return false;
  }
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = uint32_t(errno);
    return false;
  }
  int err = ConnectSocket(fd, addr);
  if (err != 0) {
    *error = uint32_t(err);
    close(fd);
    return false;
  }
  // Only a terminal of the same user may answer us.
  struct ucred cred{};
  socklen_t len = sizeof(cred);
  bool same_user = getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && cred.uid == getuid();
  if (!same_user) {
    close(fd);
    *error = EACCES;
    return false;
  }
  *handle = fd;
  return true;
}

// Both transfers stop with kErrorInterrupted when a signal handler asks
// them to: on EINTR, and before blocking again after a partial transfer,
// because a signal that arrived between two system calls interrupted none
// and would otherwise wait for a terminal that may never send again.
bool WritePipe(Handle handle, const void* data, size_t n, uint32_t* error) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    ssize_t sent = send(int(handle), p, n, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) {
        if (InterruptRequested()) {
          *error = kErrorInterrupted;
          return false;
        }
        continue;
      }
      *error = IsBrokenPipe(errno) ? kErrorBrokenPipe : uint32_t(errno);
      return false;
    }
    p += sent;
    n -= size_t(sent);
    if (n > 0 && InterruptRequested()) {
      *error = kErrorInterrupted;
      return false;
    }
  }
  return true;
}

bool ReadPipe(Handle handle, void* data, size_t n, uint32_t* error) {
  char* p = static_cast<char*>(data);
  while (n > 0) {
    ssize_t got = recv(int(handle), p, n, 0);
    if (got == 0) {
      *error = kErrorBrokenPipe;  // end of stream: the terminal closed its end
      return false;
    }
    if (got < 0) {
      if (errno == EINTR) {
        if (InterruptRequested()) {
          *error = kErrorInterrupted;
          return false;
        }
        continue;
      }
      *error = IsBrokenPipe(errno) ? kErrorBrokenPipe : uint32_t(errno);
      return false;
    }
    p += got;
    n -= size_t(got);
    if (n > 0 && InterruptRequested()) {
      *error = kErrorInterrupted;
      return false;
    }
  }
  return true;
}

void ClosePipe(Handle handle) {
  if (handle != kInvalidHandle) close(int(handle));
}

// ---- files and folders ---------------------------------------------------

std::u16string FinalPath(const std::u16string& path, size_t capacity) {
  std::string utf8 = Utf8(path);
  char resolved[PATH_MAX];
  if (realpath(utf8.c_str(), resolved) != nullptr) {
    std::u16string final_path = FromUtf8(resolved);
    if (final_path.size() + 1 <= capacity) return final_path;
  }
  return path.substr(0, capacity);
}

bool RoamingDataFolder(std::u16string* folder) {
  std::string dir;
  if (!AbsoluteEnv("XDG_DATA_HOME", &dir)) {
    const char* home = getenv("HOME");
    if (home == nullptr || home[0] == '\0') return false;
    dir = std::string(home) + "/.local/share";
  }
  *folder = FromUtf8(dir);
  return true;
}

bool ListDirectory(const std::u16string& folder, std::vector<DirEntry>* entries) {
  std::string dir = Utf8(folder);
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return false;
  std::vector<std::pair<std::string, bool>> found;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st;
    std::string full = dir + (dir.empty() || dir.back() == '/' ? "" : "/") + name;
    bool is_dir = stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    found.emplace_back(std::move(name), is_dir);
  }
  closedir(d);
  // readdir's order depends on the file system's history; sort so that the
  // first listed of two equal candidates is the same on every run.
  std::sort(found.begin(), found.end());
  entries->clear();
  for (auto& f : found) entries->push_back(DirEntry{FromUtf8(f.first), f.second});
  return true;
}

bool PathExists(const std::u16string& path) {
  struct stat st;
  return stat(Utf8(path).c_str(), &st) == 0;
}

bool LastWriteTime(const std::u16string& path, uint64_t* time) {
  struct stat st;
  if (stat(Utf8(path).c_str(), &st) != 0) return false;
  // Nanoseconds since 1970 with the sign bit flipped, so that the unsigned
  // order is the order of the times at full precision, 1678 to 2262 (times
  // outside that span count as its ends).
  constexpr int64_t kLimit = INT64_MAX / 1000000000 - 1;
  const int64_t seconds = std::max<int64_t>(-kLimit, std::min<int64_t>(kLimit, int64_t(st.st_mtim.tv_sec)));
  const int64_t ns = seconds * 1000000000 + int64_t(st.st_mtim.tv_nsec);
  *time = uint64_t(ns) ^ (uint64_t(1) << 63);
  return true;
}

bool ReadFileHead(const std::u16string& path, size_t limit, std::string* bytes, bool* read_ok) {
  int fd = open(Utf8(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    close(fd);
    return false;
  }
  bytes->assign(limit, '\0');
  size_t got = 0;
  *read_ok = true;
  while (got < limit) {
    ssize_t r = read(fd, &(*bytes)[got], limit - got);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      *read_ok = false;
      break;
    }
    if (r == 0) break;
    got += size_t(r);
  }
  bytes->resize(got);
  close(fd);
  return true;
}

// ---- processes -----------------------------------------------------------

std::u16string ParentProcessPath() {
  pid_t parent = getppid();
  if (parent <= 0) return std::u16string();
  // The link names the file the process was started from; a deleted or
  // unreadable one gives no path.
  std::string link = "/proc/" + std::to_string(parent) + "/exe";
  char resolved[PATH_MAX];
  if (realpath(link.c_str(), resolved) == nullptr) return std::u16string();
  return FromUtf8(resolved);
}

bool StartProcess(const std::u16string& path, bool portable) {
  // A Windows terminal runs under Wine, reached through the bridge.
  if (IsWindowsProgram(path)) return StartUnderWine(path, portable);
  std::vector<std::string> args = {Utf8(path)};
  if (portable) args.emplace_back("/portable");
  return StartDetached(args, nullptr);
}

bool StartDetached(const std::vector<std::string>& args, const std::vector<std::string>* env) {
  // Everything the child needs is made before fork: after it, only
  // async-signal-safe calls.
  std::vector<std::string> strings = args;
  std::vector<char*> argv;
  for (std::string& a : strings) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  std::vector<std::string> env_strings = env != nullptr ? *env : std::vector<std::string>();
  std::vector<char*> envp;
  for (std::string& e : env_strings) envp.push_back(&e[0]);
  envp.push_back(nullptr);
  const char* exe = argv[0];
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return false;
  long max_fd = sysconf(_SC_OPEN_MAX);
  if (max_fd < 0 || max_fd > 65536) max_fd = 65536;

  pid_t child = fork();
  if (child < 0) {
    close(report[0]);
    close(report[1]);
    return false;
  }
  if (child == 0) {
    // Intermediate child: new session, then a grandchild that becomes the
    // terminal. Exiting at once hands the grandchild to init, so no zombie
    // is ever left with the caller. Only async-signal-safe calls from here.
    setsid();
    pid_t grandchild = fork();
    if (grandchild != 0) _exit(grandchild < 0 ? 1 : 0);
    int null_fd = open("/dev/null", O_RDWR);
    if (null_fd >= 0) {
      dup2(null_fd, 0);
      dup2(null_fd, 1);
      dup2(null_fd, 2);
    }
    for (long fd = 3; fd < max_fd; ++fd) {
      if (fd != report[1]) close(int(fd));
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int sig = 1; sig < 32; ++sig) signal(sig, SIG_DFL);
    if (env != nullptr) {
      execve(exe, argv.data(), envp.data());
    } else {
      execv(exe, argv.data());
    }
    int err = errno;
    ssize_t ignored = write(report[1], &err, sizeof(err));
    (void)ignored;
    _exit(127);
  }
  close(report[1]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  // The pipe closes on a successful exec; data on it is exec's errno.
  int err = 0;
  ssize_t got;
  do {
    got = read(report[0], &err, sizeof(err));
  } while (got < 0 && errno == EINTR);
  close(report[0]);
  bool started = WIFEXITED(status) && WEXITSTATUS(status) == 0 && got == 0;
  return started;
}

void AdviseLargeBlock(void* data, size_t bytes) {
#ifdef MADV_HUGEPAGE
  constexpr size_t kThreshold = size_t(4) << 20;
  if (data == nullptr || bytes < kThreshold) return;
  const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
  uintptr_t start = (reinterpret_cast<uintptr_t>(data) + page - 1) & ~(page - 1);
  uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(page - 1);
  if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#else
  (void)data;
  (void)bytes;
#endif
}

bool SleepMs(uint32_t ms) {
  // The waits poll in a loop: a Ctrl-C that came between two sleeps, while
  // no system call was blocked, interrupted nothing and is taken here.
  if (InterruptRequested()) return false;
  timespec left{time_t(ms / 1000), long(ms % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0) {
    if (errno != EINTR) return true;
    if (InterruptRequested()) return false;
  }
  return true;
}

}  // namespace brv::platform
