// The terminal's folders and settings, laid out like an installed terminal's
// so that the connector's discovery finds it: a portable terminal keeps its
// data in its installation folder; otherwise the data folder lives under
// <per-user data folder>/Halcyra/Terminal/<ID>/ with origin.txt (UTF-16LE
// with the mark FF FE, naming the installation folder), Norrik/ and
// config/terminal.ini.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

namespace brv::paper {

struct Folders {
  std::string exe;      // real path of the executable
  std::string install;  // its folder
  std::string data;     // the data folder
  std::string common;   // shared data of all terminals of the user
  std::string ini;      // config/terminal.ini
  std::string pid_file;
  std::string log_file;
  std::string store_file;  // the accounts' database
};

// Creates the data folder and its files; false with a message on failure.
bool PrepareFolders(const std::string& exe, bool portable, Folders* out, std::string* error);

// Settings from the [Paper] section of config/terminal.ini. AutoTrading is
// read again whenever the file changes, so it can be flipped while the
// terminal runs.
struct Options {
  bool auto_trading = true;
  uint64_t login = 70010001;
  uint64_t seed = 1;
  double speed = 1.0;
  int64_t start_time = 0;  // seconds; > 0: the clock starts there instead of now
};

class Settings {
 public:
  Settings(std::string ini, Options start) : ini_(std::move(ini)), options_(start) {}
  // Reads the whole file (at start); command-line options are applied after.
  void Load(Options* options);
  // Replaces the options in force (after the command line was applied).
  void Apply(const Options& options);
  bool AutoTrading();

 private:
  bool Parse(Options* options);
  std::string ini_;
  Options options_;
  std::mutex mu_;
  uint64_t mtime_ = 0;
};

void AppendLog(const std::string& file, const std::string& line);

// Files by UTF-8 path, on every platform.
FILE* OpenFile(const std::string& path, const char* mode);
bool RemoveFile(const std::string& path);

}  // namespace brv::paper
