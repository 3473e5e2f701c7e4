#include "link/discovery.h"

#include <vector>

#include "link/pipe_name.h"
#include "platform/platform.h"

namespace brv::link {
namespace {

constexpr size_t kOriginReadBytes = 518;  // the mark and at most 258 units
constexpr size_t kOriginMinBytes = 8;
constexpr uint32_t kStartPollMs = 500;
constexpr uint32_t kStartWaitSeconds = 60;
constexpr size_t kParentPathCapacity = 259;

// Paths are formatted into buffers of 260 units: what does not fit is cut.
// They are written with '/' here and take the system's separator.
std::u16string Bounded(std::u16string path) {
  path = platform::NativePath(std::move(path));
  if (path.size() > kMaxPath) path.resize(kMaxPath);
  return path;
}

// The installation folder named by the bytes read from `origin.txt`: the
// UTF-16LE text after the mark FF FE, up to the end of the data (an odd last
// byte is dropped) or to a NUL unit, which ends a path text. Empty when the
// data is too short or has no mark.
std::u16string OriginFolder(const std::string& bytes) {
  std::u16string folder;
  if (bytes.size() < kOriginMinBytes) return folder;
  if (static_cast<unsigned char>(bytes[0]) != 0xFF || static_cast<unsigned char>(bytes[1]) != 0xFE) {
    return folder;
  }
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
    char16_t unit = char16_t(static_cast<unsigned char>(bytes[i]) |
                             (static_cast<unsigned char>(bytes[i + 1]) << 8));
    if (unit == 0) break;
    folder += unit;
  }
  return folder;
}

}  // namespace

namespace {

// Examines the data folders under `root` (those of the Wine prefix `wine_prefix`
// when it is not empty) and keeps the best in `best`. False when the root
// cannot be listed.
bool PickFromRoot(CInterClient& client, const std::u16string& root, const std::u16string& parent,
                  const std::u16string& wine_prefix, TerminalLocation* best) {
  std::vector<platform::DirEntry> entries;
  // A data folder so deep that the root does not fit its buffer cannot be
  // listed as it stands; cutting it would list some other folder.
  if (root.size() > kMaxPath || !platform::ListDirectory(root, &entries)) return false;
  for (const platform::DirEntry& entry : entries) {
    if (!entry.directory || entry.name.empty() || entry.name[0] == u'.') continue;
    TerminalLocation candidate;
    if (!CheckDataFolder(client, Bounded(root + entry.name), &candidate, wine_prefix)) continue;
    // A terminal that started this process is the one it means to drive.
    if (!parent.empty() && platform::FinalPath(candidate.path, kMaxPath) == parent) {
      *best = candidate;
      break;
    }
    // The latest wins; of equal times the one listed first stays.
    if (best->path.empty() || candidate.time > best->time) *best = candidate;
  }
  return true;
}

}  // namespace

bool FindTerminal(CInterClient& client) {
  const std::u16string parent = GetParentProcessPath();
  TerminalLocation best;
  std::u16string roaming;
  const bool native = platform::RoamingDataFolder(&roaming) && !roaming.empty();
  if (native) PickFromRoot(client, platform::NativePath(roaming + u"/Halcyra/Terminal/"), parent, u"", &best);
#ifndef _WIN32
  // Terminals under Wine come after the native ones: their data folders are
  // in the Wine prefix, and their origin.txt holds a Windows path.
  std::u16string prefix, wine_roaming;
  if (best.path.empty() && platform::WineRoamingDataFolder(&prefix, &wine_roaming)) {
    PickFromRoot(client, wine_roaming + u"/Halcyra/Terminal/", parent, prefix, &best);
  }
#endif
  if (best.path.empty()) {
    if (native) client.SetMessage(U16("Borvane x64 not found"));
    return false;
  }
  return client.Connect(best.path, best.portable);
}

bool CheckDataFolder(CInterClient& client, const std::u16string& folder, TerminalLocation* location,
                     const std::u16string& wine_prefix) {
  *location = TerminalLocation();
  uint64_t time = 0;
  if (platform::LastWriteTime(Bounded(folder + u"/portable.txt"), &time)) {
    // A portable installation: its marker's time is the folder's time.
    location->time = time;
    location->portable = true;
  } else {
    if (!platform::PathExists(Bounded(folder + u"/Norrik"))) {
      client.SetMessage(U16("No Norrik folder in '") + folder + U16("'"));
      return false;
    }
    if (platform::LastWriteTime(Bounded(folder + u"/config/accounts.dat"), &time)) location->time = time;
    if (platform::LastWriteTime(Bounded(folder + u"/config/terminal.ini"), &time) && time > location->time) {
      location->time = time;
    }
  }

  std::string head;
  bool read_ok = false;
  if (!platform::ReadFileHead(Bounded(folder + u"/origin.txt"), kOriginReadBytes, &head, &read_ok)) {
    client.SetMessage(U16("No origin.txt in '") + folder + U16("'"));
    return false;
  }
  if (read_ok) {
    std::u16string install = OriginFolder(head);
#ifndef _WIN32
    if (!wine_prefix.empty()) install = platform::WineUnixPath(wine_prefix, install);
#endif
    if (!install.empty()) {
      std::u16string exe = Bounded(install + u"/terminal64.exe");
      if (platform::PathExists(exe)) location->path = exe;
    }
  }
  return !location->path.empty();
}

std::u16string GetParentProcessPath() {
  std::u16string exe = platform::ParentProcessPath();
  if (exe.empty()) return exe;
  return platform::FinalPath(exe, kParentPathCapacity);
}

bool StartTerminal(CInterClient& client, const std::u16string& path, bool portable,
                   const std::u16string& name) {
  if (!platform::StartProcess(path, portable)) {
    client.SetMessage(U16("Process create failed '") + path + U16("'"));
    return false;
  }
  // The terminal needs a moment to serve its pipe; every failed poll leaves
  // "CreateFile failed [...]" in the message until the wait gives up.
  uint32_t slept_ms = 0;
  for (;;) {
    if (client.OpenPipe(name)) return true;
    if (slept_ms >= kStartWaitSeconds * 1000) break;
    // Ctrl-C ends the wait; the interrupt reaches Python, not this message.
    if (!platform::SleepMs(kStartPollMs)) return false;
    slept_ms += kStartPollMs;
  }
  client.SetMessage(U16("Pipe server didn't answer in ") + U16Number(kStartWaitSeconds) + U16(" sec"));
  return false;
}

}  // namespace brv::link
