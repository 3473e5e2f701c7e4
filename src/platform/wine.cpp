// Terminals that run under Wine, seen from a native Linux client: a Windows
// terminal64.exe is started with `wine` in the Wine prefix that holds it,
// beside the bridge (brv-bridge) that serves its named pipe on the Unix
// socket the connector derives from the executable's Linux path; and the
// terminal data folders inside a Wine prefix are found for discovery.
#include <dlfcn.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/platform.h"

extern char** environ;

namespace brv::platform {
namespace {

constexpr char kPrefixFolder[] = "/drive_c/";

// `name` on $PATH as an executable file; empty when there is none.
std::string FindOnPath(const char* name) {
  const char* path = getenv("PATH");
  std::string dirs = path != nullptr ? path : "";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(start, end - start);
    if (dir.empty()) dir = ".";
    std::string candidate = dir + "/" + name;
    struct stat st;
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
    start = end + 1;
  }
  return std::string();
}

// The bridge travels with the extension, in `bridge/` beside it.
std::string BridgePath() {
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&StartUnderWine), &info) == 0 || info.dli_fname == nullptr) {
    return std::string();
  }
  std::string library = info.dli_fname;
  size_t slash = library.find_last_of('/');
  std::string folder = slash == std::string::npos ? std::string(".") : library.substr(0, slash);
  return folder + "/bridge/brv-bridge.exe.so";
}

// The caller's environment with WINEPREFIX set to `prefix` (unchanged when
// `prefix` is empty).
std::vector<std::string> WineEnvironment(const std::string& prefix) {
  std::vector<std::string> env;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    if (!prefix.empty() && std::strncmp(*e, "WINEPREFIX=", 11) == 0) continue;
    env.emplace_back(*e);
  }
  if (!prefix.empty()) env.push_back("WINEPREFIX=" + prefix);
  return env;
}

}  // namespace

bool IsWindowsProgram(const std::u16string& path) {
  int fd = open(ToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char head[2] = {0, 0};
  ssize_t got = read(fd, head, sizeof(head));
  close(fd);
  return got == 2 && head[0] == 'M' && head[1] == 'Z';
}

std::string WinePrefixOf(const std::string& exe) {
  size_t at = exe.rfind(kPrefixFolder);
  return at == std::string::npos || at == 0 ? std::string() : exe.substr(0, at);
}

bool StartUnderWine(const std::u16string& path, bool portable) {
  const std::string exe = ToUtf8(path);
  const std::string wine = FindOnPath("wine");
  const std::string bridge = BridgePath();
  struct stat st;
  if (wine.empty() || bridge.empty() || stat(bridge.c_str(), &st) != 0) return false;
  const std::vector<std::string> env = WineEnvironment(WinePrefixOf(exe));
  std::vector<std::string> terminal = {wine, exe};
  if (portable) terminal.emplace_back("/portable");
  return StartDetached(terminal, &env) && StartDetached({wine, bridge, exe}, &env);
}

}  // namespace brv::platform
