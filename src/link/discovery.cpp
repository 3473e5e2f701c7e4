#include "link/discovery.h"

namespace brv::link {

// Discovery and launch are not available yet: the client keeps the message
// of the failed open.
bool FindTerminal(CInterClient&) { return false; }

bool StartTerminal(CInterClient&, const std::u16string&, bool, const std::u16string&) { return false; }

}  // namespace brv::link
