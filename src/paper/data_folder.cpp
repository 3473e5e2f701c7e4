#include "paper/data_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "link/pipe_name.h"
#include "platform/platform.h"

namespace brv::paper {
namespace {

// Paths are UTF-8 here; Windows gets them as UTF-16, so that any folder
// name works whatever the code page.
#ifdef _WIN32
std::wstring Wide(const std::string& path) {
  std::u16string units = platform::FromUtf8(path);
  return std::wstring(units.begin(), units.end());
}
#endif

const char kSep = char(platform::kPathSeparator);

bool MakeDir(const std::string& path) {
#ifdef _WIN32
  if (CreateDirectoryW(Wide(path).c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) return true;
  DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
#else
  if (mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) return true;
  return false;
#endif
}

// Creates every missing folder of an absolute path.
bool MakeDirs(const std::string& path) {
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/' || path[i] == kSep) {
      if (!MakeDir(path.substr(0, i))) return false;
    }
  }
  return true;
}

bool ReadFile(const std::string& path, std::string* content) {
  FILE* f = OpenFile(path, "rb");
  if (f == nullptr) return false;
  content->clear();
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof(buffer), f)) > 0) content->append(buffer, got);
  bool ok = ferror(f) == 0;
  fclose(f);
  return ok;
}

bool WriteFile(const std::string& path, const std::string& content) {
  std::string tmp = path + ".tmp";
  FILE* f = OpenFile(tmp, "wb");
  if (f == nullptr) return false;
  bool ok = fwrite(content.data(), 1, content.size(), f) == content.size();
  ok = fclose(f) == 0 && ok;
  if (!ok) return false;
#ifdef _WIN32
  return MoveFileExW(Wide(tmp).c_str(), Wide(path).c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
#else
  return rename(tmp.c_str(), path.c_str()) == 0;
#endif
}

// Last-write time; only whether it changed matters.
uint64_t MTime(const std::string& path) {
  uint64_t time = 0;
  return platform::LastWriteTime(platform::FromUtf8(path), &time) ? time : 0;
}

// Sets the last-write time to now.
void Touch(const std::string& path) {
#ifdef _WIN32
  HANDLE file = CreateFileW(Wide(path).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  SetFileTime(file, nullptr, nullptr, &now);
  CloseHandle(file);
#else
  utimensat(AT_FDCWD, path.c_str(), nullptr, 0);
#endif
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return std::string();
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

std::string Lower(std::string s) {
  for (char& c : s) c = char(tolower(static_cast<unsigned char>(c)));
  return s;
}

const char kDefaultIni[] =
    "; Settings of the paper terminal (see docs/paper-terminal.md).\n"
    "[Paper]\n"
    "AutoTrading=1\n"
    "Login=70010001\n"
    "Seed=1\n"
    "Speed=1\n";

}  // namespace

FILE* OpenFile(const std::string& path, const char* mode) {
#ifdef _WIN32
  return _wfopen(Wide(path).c_str(), Wide(mode).c_str());
#else
  return fopen(path.c_str(), mode);
#endif
}

bool RemoveFile(const std::string& path) {
#ifdef _WIN32
  return DeleteFileW(Wide(path).c_str()) != FALSE;
#else
  return unlink(path.c_str()) == 0;
#endif
}

bool PrepareFolders(const std::string& exe, bool portable, Folders* out, std::string* error) {
  out->exe = exe;
  out->install = exe.substr(0, exe.find_last_of("/" + std::string(1, kSep)));
  // A final path on Windows reads \\?\C:\...; the folder is shown and
  // written to origin.txt in its everyday form.
  if (out->install.size() >= 7 && out->install.compare(0, 4, "\\\\?\\") == 0 && out->install[5] == ':') {
    out->install.erase(0, 4);
  }
  if (out->install.empty()) out->install = std::string(1, kSep);
  std::u16string roaming;
  if (!platform::RoamingDataFolder(&roaming)) {
    *error = "no per-user data folder (set HOME or XDG_DATA_HOME)";
    return false;
  }
  std::string root = platform::ToUtf8(platform::NativePath(roaming + u"/Halcyra/Terminal"));
  out->common = root + kSep + "Common";
  if (portable) {
    out->data = out->install;
  } else {
    // One folder per installation, named from the hash of its executable's path.
    uint8_t digest[32];
    if (!link::HashPath(platform::FromUtf8(exe), digest)) {
      *error = "hash calculation failed";
      return false;
    }
    static const char kHex[] = "0123456789ABCDEF";
    std::string id;
    for (int i = 0; i < 16; ++i) {
      id += kHex[digest[i] >> 4];
      id += kHex[digest[i] & 15];
    }
    out->data = root + kSep + id;
  }
  const std::string data = out->data + kSep;
  for (const std::string& dir : {out->data, data + "Norrik", data + "config", data + "logs"}) {
    if (!MakeDirs(dir)) {
      *error = "cannot create " + dir + ": " + std::strerror(errno);
      return false;
    }
    // The user's alone (folders of earlier versions were open to others);
    // a portable installation folder keeps its own mode.
#ifndef _WIN32
    if (!(portable && dir == out->data)) chmod(dir.c_str(), 0700);
#endif
  }
  if (!portable) {
    MakeDirs(out->common);
    std::u16string install = platform::FromUtf8(out->install);
    std::string origin("\xFF\xFE", 2);
    for (char16_t u : install) {
      origin += char(u & 0xFF);
      origin += char(u >> 8);
    }
    std::string existing;
    if ((!ReadFile(data + "origin.txt", &existing) || existing != origin) && !WriteFile(data + "origin.txt", origin)) {
      *error = "cannot write " + data + "origin.txt";
      return false;
    }
  }
  out->ini = data + "config" + kSep + "terminal.ini";
  if (!platform::PathExists(platform::FromUtf8(out->ini)) && !WriteFile(out->ini, kDefaultIni)) {
    *error = "cannot write " + out->ini;
    return false;
  }
  // Started last, found first: discovery prefers the newest settings file.
  Touch(out->ini);
  out->pid_file = data + "paper.pid";
  out->log_file = data + "logs" + kSep + "paper.log";
  out->store_file = data + "paper.db";
#ifndef _WIN32
  for (const std::string& file : {out->ini, out->log_file, data + "origin.txt", out->store_file,
                                  out->store_file + "-wal", out->store_file + "-shm"}) {
    chmod(file.c_str(), 0600);
  }
#endif
  return true;
}

bool Settings::Parse(Options* options) {
  std::string content;
  if (!ReadFile(ini_, &content)) return false;
  std::istringstream in(content);
  std::string line, section;
  while (std::getline(in, line)) {
    line = Trim(line);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      section = Lower(Trim(line.substr(1, line.size() - 2)));
      continue;
    }
    size_t eq = line.find('=');
    if (section != "paper" || eq == std::string::npos) continue;
    std::string key = Lower(Trim(line.substr(0, eq)));
    std::string value = Trim(line.substr(eq + 1));
    char* end = nullptr;
    if (key == "autotrading") {
      options->auto_trading = !(value == "0" || Lower(value) == "false" || Lower(value) == "off");
    } else if (key == "login") {
      uint64_t v = strtoull(value.c_str(), &end, 10);
      if (end != value.c_str()) options->login = v;
    } else if (key == "seed") {
      uint64_t v = strtoull(value.c_str(), &end, 10);
      if (end != value.c_str()) options->seed = v;
    } else if (key == "starttime") {
      long long v = strtoll(value.c_str(), &end, 10);
      if (end != value.c_str() && v >= 0) options->start_time = v;
    } else if (key == "speed") {
      double v = strtod(value.c_str(), &end);
      if (end != value.c_str() && v > 0 && v <= 1e6) options->speed = v;
    }
  }
  return true;
}

void Settings::Load(Options* options) {
  std::lock_guard<std::mutex> lock(mu_);
  mtime_ = MTime(ini_);
  Parse(options);
  options_ = *options;
}

void Settings::Apply(const Options& options) {
  std::lock_guard<std::mutex> lock(mu_);
  options_ = options;
}

bool Settings::AutoTrading() {
  std::lock_guard<std::mutex> lock(mu_);
  uint64_t m = MTime(ini_);
  if (m != mtime_) {
    mtime_ = m;
    Options fresh = options_;
    fresh.auto_trading = true;
    if (Parse(&fresh)) options_.auto_trading = fresh.auto_trading;
  }
  return options_.auto_trading;
}

void AppendLog(const std::string& file, const std::string& line) {
  FILE* f = OpenFile(file, "a");
  if (f == nullptr) return;
  time_t now = time(nullptr);
  struct tm tm;
#ifdef _WIN32
  gmtime_s(&tm, &now);
#else
  gmtime_r(&now, &tm);
#endif
  char stamp[32];
  strftime(stamp, sizeof(stamp), "%Y-%m-%d %H:%M:%S", &tm);
  std::fprintf(f, "%s %s\n", stamp, line.c_str());
  fclose(f);
}

}  // namespace brv::paper
