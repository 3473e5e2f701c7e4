#include "paper/data_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "link/pipe_name.h"
#include "platform/platform.h"

namespace brv::paper {
namespace {

bool MakeDir(const std::string& path) {
  if (mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) return true;
  return false;
}

// Creates every missing folder of an absolute path.
bool MakeDirs(const std::string& path) {
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') {
      if (!MakeDir(path.substr(0, i))) return false;
    }
  }
  return true;
}

bool ReadFile(const std::string& path, std::string* content) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  *content = s.str();
  return true;
}

bool WriteFile(const std::string& path, const std::string& content) {
  std::string tmp = path + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << content;
    if (!out) return false;
  }
  return rename(tmp.c_str(), path.c_str()) == 0;
}

uint64_t MTime(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return 0;
  return uint64_t(st.st_mtim.tv_sec) * 1000000000ull + uint64_t(st.st_mtim.tv_nsec);
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

bool PrepareFolders(const std::string& exe, bool portable, Folders* out, std::string* error) {
  out->exe = exe;
  out->install = exe.substr(0, exe.find_last_of('/'));
  if (out->install.empty()) out->install = "/";
  std::u16string roaming;
  if (!platform::RoamingDataFolder(&roaming)) {
    *error = "no per-user data folder (set HOME or XDG_DATA_HOME)";
    return false;
  }
  std::string root = platform::ToUtf8(roaming) + "/Halcyra/Terminal";
  out->common = root + "/Common";
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
    out->data = root + "/" + id;
  }
  for (const std::string& dir : {out->data, out->data + "/Norrik", out->data + "/config", out->data + "/logs"}) {
    if (!MakeDirs(dir)) {
      *error = "cannot create " + dir + ": " + std::strerror(errno);
      return false;
    }
    // The user's alone (folders of earlier versions were open to others);
    // a portable installation folder keeps its own mode.
    if (!(portable && dir == out->data)) chmod(dir.c_str(), 0700);
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
    if ((!ReadFile(out->data + "/origin.txt", &existing) || existing != origin) &&
        !WriteFile(out->data + "/origin.txt", origin)) {
      *error = "cannot write " + out->data + "/origin.txt";
      return false;
    }
  }
  out->ini = out->data + "/config/terminal.ini";
  if (access(out->ini.c_str(), F_OK) != 0 && !WriteFile(out->ini, kDefaultIni)) {
    *error = "cannot write " + out->ini;
    return false;
  }
  // Started last, found first: discovery prefers the newest settings file.
  utimensat(AT_FDCWD, out->ini.c_str(), nullptr, 0);
  out->pid_file = out->data + "/paper.pid";
  out->log_file = out->data + "/logs/paper.log";
  out->store_file = out->data + "/paper.db";
  for (const std::string& file : {out->ini, out->log_file, out->data + "/origin.txt", out->store_file,
                                  out->store_file + "-wal", out->store_file + "-shm"}) {
    chmod(file.c_str(), 0600);
  }
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
  FILE* f = fopen(file.c_str(), "a");
  if (f == nullptr) return;
  time_t now = time(nullptr);
  struct tm tm;
  gmtime_r(&now, &tm);
  char stamp[32];
  strftime(stamp, sizeof(stamp), "%Y-%m-%d %H:%M:%S", &tm);
  std::fprintf(f, "%s %s\n", stamp, line.c_str());
  fclose(f);
}

}  // namespace brv::paper
