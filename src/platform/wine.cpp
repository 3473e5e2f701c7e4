// Terminals that run under Wine, seen from a native Linux client: a Windows
// terminal64.exe is started with `wine` in the Wine prefix that holds it,
// beside the bridge (brv-bridge) that serves its named pipe on the Unix
// socket the connector derives from the executable's Linux path; and the
// terminal data folders inside a Wine prefix are found for discovery.
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
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

bool WineRoamingDataFolder(std::u16string* prefix, std::u16string* roaming) {
  const char* env = getenv("WINEPREFIX");
  std::string dir;
  if (env != nullptr && env[0] == '/') {
    dir = env;
  } else {
    const char* home = getenv("HOME");
    if (home == nullptr || home[0] == '\0') return false;
    dir = std::string(home) + "/.wine";
  }
  // Wine names the user's profile folder after $USER.
  std::string user;
  if (const char* u = getenv("USER")) user = u;
  if (user.empty()) {
    const passwd* pw = getpwuid(getuid());
    if (pw == nullptr || pw->pw_name == nullptr) return false;
    user = pw->pw_name;
  }
  *prefix = FromUtf8(dir);
  *roaming = FromUtf8(dir + "/drive_c/users/" + user + "/AppData/Roaming");
  return true;
}

std::u16string WineUnixPath(const std::u16string& prefix, std::u16string windows_path) {
  if (windows_path.compare(0, 4, u"\\\\?\\") == 0) windows_path.erase(0, 4);
  if (windows_path.size() < 2 || windows_path[1] != u':') return std::u16string();
  char16_t letter = windows_path[0];
  if (letter >= u'A' && letter <= u'Z') letter = char16_t(letter + 32);
  if (letter < u'a' || letter > u'z') return std::u16string();
  // The prefix maps each drive through a link in dosdevices/; C: is its
  // drive_c even when the link is missing.
  const std::string prefix_utf8 = ToUtf8(prefix);
  std::string root;
  char resolved[PATH_MAX];
  std::string link = prefix_utf8 + "/dosdevices/" + char(letter) + ":";
  if (realpath(link.c_str(), resolved) != nullptr) {
    root = resolved;
  } else if (letter == u'c') {
    root = prefix_utf8 + "/drive_c";
  } else {
    return std::u16string();
  }
  if (!root.empty() && root.back() == '/') root.pop_back();
  std::u16string rest = windows_path.substr(2);
  for (char16_t& unit : rest) {
    if (unit == u'\\') unit = u'/';
  }
  return FromUtf8(root) + rest;
}

}  // namespace brv::platform
