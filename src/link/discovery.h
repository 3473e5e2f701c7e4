// Finding an installed terminal among the user's terminal data folders, and
// starting a terminal whose pipe is not there yet.
#pragma once

#include <string>

#include "link/client.h"

namespace brv::link {

// Picks an installation under the data root and connects to it.
bool FindTerminal(CInterClient& client);
// Starts the terminal at `path` and polls its pipe `name` until it opens.
bool StartTerminal(CInterClient& client, const std::u16string& path, bool portable,
                   const std::u16string& name);

}  // namespace brv::link
