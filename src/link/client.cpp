#include "link/client.h"

#include "link/discovery.h"
#include "link/pipe_name.h"

namespace brv::link {

// Closed at load; its destructor closes the pipe when the library is
// unloaded or the process exits.
CInterClient g_client;
uint32_t g_terminal_build = 0;

std::u16string U16(const char* ascii) {
  std::u16string out;
  while (*ascii) out += char16_t(static_cast<unsigned char>(*ascii++));
  return out;
}

std::u16string U16Number(uint32_t value) { return U16(std::to_string(value).c_str()); }

void CInterClient::SetMessage(std::u16string text) {
  if (text.size() > 2047) text.resize(2047);
  message_ = std::move(text);
}

bool CInterClient::Initialize(const std::u16string& path, bool portable) {
  if (IsOpen()) {
    SetMessage(U16("CInterClient already initialized"));
    return false;
  }
  if (Connect(path, portable)) return true;
  if (path.empty() || path[0] == 0) return FindTerminal(*this);
  return false;
}

bool CInterClient::Connect(const std::u16string& path, bool portable) {
  if (path.empty() || path[0] == 0) return false;
  if (path.size() > kMaxPath) {
    SetMessage(U16("Path too long"));
    return false;
  }
  std::u16string final_path = platform::FinalPath(path, kMaxPath);
  if (!HashPath(final_path, path_hash_)) {
    SetMessage(U16("Hash calculation failed"));
    return false;
  }
  std::u16string name = MakePipeName(path_hash_);
  if (OpenPipe(name) && IsOpen()) return true;
  return StartTerminal(*this, path, portable, name);
}

bool CInterClient::OpenPipe(const std::u16string& name) {
  uint32_t error = 0;
  platform::Handle handle = platform::kInvalidHandle;
  if (platform::OpenPipe(name, &handle, &error)) {
    handle_ = handle;
    return true;
  }
  handle_ = platform::kInvalidHandle;
  SetMessage(U16("CreateFile failed [") + U16Number(error) + U16("]"));
  return false;
}

void CInterClient::Close() {
  MarkClosed();
  for (auto& b : path_hash_) b = 0;
  message_.clear();
}

void CInterClient::MarkClosed() {
  if (handle_ != platform::kInvalidHandle) platform::ClosePipe(handle_);
  handle_ = platform::kInvalidHandle;
}

}  // namespace brv::link
