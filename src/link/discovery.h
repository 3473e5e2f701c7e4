// Finding an installed terminal among the user's terminal data folders, and
// starting a terminal whose pipe is not there yet.
//
// Every installed terminal keeps one data folder under the data root
// `<per-user data folder>/Halcyra/Terminal/`; the folder's `origin.txt`
// names the installation folder that holds `terminal64.exe`.
#pragma once

#include <cstdint>
#include <string>

#include "link/client.h"

namespace brv::link {

// What one data folder tells about its terminal.
struct TerminalLocation {
  std::u16string path;  // the executable; empty when the folder does not qualify
  uint64_t time = 0;    // last-write time of the folder's marker files; 0 without one
  bool portable = false;
};

// Picks an installation under the data root (on Linux, failing that, under
// the Wine prefix's) and connects to it.
bool FindTerminal(CInterClient& client);
// Whether `folder` is a terminal data folder naming an existing executable.
// A folder without `Norrik` or without a readable `origin.txt` leaves its
// reason in the client message. With `wine_prefix`, the folder lies in that
// Wine prefix and its origin.txt names a Windows path inside it.
bool CheckDataFolder(CInterClient& client, const std::u16string& folder, TerminalLocation* location,
                     const std::u16string& wine_prefix = std::u16string());
// Final path of the executable of the process that started this one, or empty.
std::u16string GetParentProcessPath();
// Starts the terminal at `path` and polls its pipe `name` until it opens.
bool StartTerminal(CInterClient& client, const std::u16string& path, bool portable,
                   const std::u16string& name);

}  // namespace brv::link
