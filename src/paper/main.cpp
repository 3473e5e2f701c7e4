// The paper terminal: a terminal program of our own that serves the
// connector's protocol over the socket named from its own executable path,
// with a simulated market and a trading engine behind it. On Windows it
// serves the named pipe of that name instead (pipe_server.cpp).
//
// Usage: see kUsage below.
// Exit status: 0 after SIGTERM or SIGINT (on Windows: Ctrl-C, Ctrl-Break,
// or its stop event set), 2 when it cannot start, 3 when another instance
// already serves its socket or pipe.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstring>
#include <string>

#include "link/pipe_name.h"
#include "paper/clock.h"
#include "paper/data_folder.h"
#include "paper/protocol.h"
#include "paper/store.h"
#include "platform/platform.h"
#ifdef _WIN32
#include "paper/pipe_server.h"
#else
#include "paper/server.h"
#endif

namespace {

const char kUsage[] =
    "usage: terminal64.exe [/portable] [--auto-trading=0|1] [--login=N] [--seed=N] [--speed=X]\n"
    "                      [--start-time=S]\n"
    "       terminal64.exe [/portable] --reset [--login=N]\n"
    "       terminal64.exe [/portable] --accounts\n"
    "\n"
    "The paper terminal: serves the connector's protocol on its socket, with a\n"
    "simulated market and demo accounts kept in <data folder>/paper.db.\n"
    "\n"
    "  /portable           keep the data in the installation folder\n"
    "  --auto-trading=0|1  whether order_send executes (default 1)\n"
    "  --login=N           account logged in at start (default 70010001)\n"
    "  --seed=N            seed of the market model (default 1)\n"
    "  --speed=X           the clock runs X times faster than the wall clock\n"
    "  --start-time=S      the clock starts at S (seconds since 1970, UTC) instead of now\n"
    "  --reset             put the account (--login, or the default one) back at its\n"
    "                      deposit with an empty history, then exit; refused while\n"
    "                      the terminal runs\n"
    "  --accounts          list the accounts with their balances, then exit\n"
    "  --help              this text\n"
    "\n"
    "Settings also come from the [Paper] section of config/terminal.ini; the command\n"
    "line wins. Exit status: 0 stopped by SIGTERM or SIGINT, 2 cannot start,\n"
    "3 another instance serves the socket.\n";

#ifdef _WIN32
HANDLE g_stop_event = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD) {
  SetEvent(g_stop_event);
  return TRUE;
}
#else
int g_stop_pipe[2] = {-1, -1};

void OnStop(int) {
  int saved = errno;
  char c = 1;
  ssize_t ignored = write(g_stop_pipe[1], &c, 1);
  (void)ignored;
  errno = saved;
}
#endif

int Fail(int code, const std::string& message) {
  std::fprintf(stderr, "terminal64: %s\n", message.c_str());
  return code;
}

bool Option(const std::string& arg, const char* name, std::string* value) {
  std::string prefix = std::string("--") + name + "=";
  if (arg.compare(0, prefix.size(), prefix) != 0) return false;
  *value = arg.substr(prefix.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace brv;
#ifndef _WIN32
  signal(SIGPIPE, SIG_IGN);
  signal(SIGHUP, SIG_IGN);
  // Everything the terminal creates (data folder, database, log, socket) is
  // the user's alone.
  umask(0077);
#endif

  bool portable = false;
  paper::Options cli;
  bool has_auto = false, has_login = false, has_seed = false, has_speed = false, has_start = false;
  bool reset = false, list = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i], v;
    if (arg == "--help" || arg == "-h" || arg == "/?") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--reset") {
      reset = true;
    } else if (arg == "--accounts") {
      list = true;
    } else if (arg == "/portable") {
      portable = true;
    } else if (Option(arg, "auto-trading", &v)) {
      cli.auto_trading = v != "0";
      has_auto = true;
    } else if (Option(arg, "login", &v)) {
      cli.login = strtoull(v.c_str(), nullptr, 10);
      has_login = true;
    } else if (Option(arg, "seed", &v)) {
      cli.seed = strtoull(v.c_str(), nullptr, 10);
      has_seed = true;
    } else if (Option(arg, "start-time", &v)) {
      cli.start_time = strtoll(v.c_str(), nullptr, 10);
      has_start = cli.start_time >= 0;
    } else if (Option(arg, "speed", &v)) {
      cli.speed = strtod(v.c_str(), nullptr);
      has_speed = cli.speed > 0;
    } else {
      return Fail(2, "unknown argument " + arg + " (--help lists the options)");
    }
  }

#ifdef _WIN32
  // Named from its own final path, lower-cased, as the connector names it.
  std::u16string module(32768, u'\0');
  DWORD module_units = GetModuleFileNameW(nullptr, reinterpret_cast<wchar_t*>(&module[0]), DWORD(module.size()));
  if (module_units == 0 || module_units >= module.size()) return Fail(2, "cannot resolve the executable's path");
  module.resize(module_units);
  std::string exe = platform::ToUtf8(platform::FinalPath(module, 260));
  uint8_t digest[32];
  if (!link::HashPath(platform::FromUtf8(exe), digest)) return Fail(2, "hash calculation failed");
  const std::u16string pipe_name = link::MakePipeName(digest);
  // One instance per executable; its stop event lets tools end it cleanly.
  const std::u16string id = pipe_name.substr(pipe_name.find_last_of(u'\\') + 1);
  HANDLE instance = CreateMutexW(nullptr, FALSE, reinterpret_cast<const wchar_t*>((u"Local\\" + id).c_str()));
  if (instance == nullptr) return Fail(2, "cannot create the instance lock");
  if (GetLastError() == ERROR_ALREADY_EXISTS && !list) {
    return Fail(3, reset ? "the terminal is running: stop it before a reset" : "another paper terminal serves its pipe");
  }
  g_stop_event = CreateEventW(nullptr, TRUE, FALSE, reinterpret_cast<const wchar_t*>((u"Local\\" + id + u".Stop").c_str()));
  if (g_stop_event == nullptr) return Fail(2, "cannot create the stop event");
  std::string error;
#else
  char resolved[PATH_MAX];
  if (realpath("/proc/self/exe", resolved) == nullptr) return Fail(2, "cannot resolve the executable's path");
  std::string exe = resolved;

  // The socket is named exactly as the connector names it for this path.
  uint8_t digest[32];
  if (!link::HashPath(platform::FromUtf8(exe), digest)) return Fail(2, "hash calculation failed");
  std::string socket_path = platform::SocketPath(link::MakePipeName(digest), true);
  if (socket_path.empty()) return Fail(2, "no usable socket folder");

  std::string error;
  int lock_fd = -1;
  if (!list) {  // listing the accounts reads the database beside a running terminal
    int claimed = paper::ClaimSocket(socket_path, &lock_fd, &error);
    if (claimed != 0) return Fail(claimed, reset ? "the terminal is running: stop it before a reset" : error);
  }
#endif

  paper::Folders folders;
  if (!paper::PrepareFolders(exe, portable, &folders, &error)) return Fail(2, error);
  if (list) {
    int status = paper::ListAccounts(folders.store_file, &error);
    if (status != 0) return Fail(status, error);
    std::fputs(error.c_str(), stdout);
    return 0;
  }

  // Settings come from config/terminal.ini; the command line overrides them.
  paper::Options options;
  paper::Settings settings(folders.ini, options);
  settings.Load(&options);
  if (has_auto) options.auto_trading = cli.auto_trading;
  if (has_login) options.login = cli.login;
  if (has_seed) options.seed = cli.seed;
  if (has_speed) options.speed = cli.speed;
  if (has_start) options.start_time = cli.start_time;
  settings.Apply(options);

  if (reset) {
    paper::Market market(options.seed);
    int status = paper::ResetAccount(folders.store_file, options.login, paper::WallMs(), market, &error);
    if (status != 0) return Fail(status, error);
    std::fputs(error.c_str(), stdout);
    paper::AppendLog(folders.log_file, error.substr(0, error.size() - 1));
    return 0;
  }

  paper::Clock clock(options.speed, options.start_time * 1000);
  paper::Terminal terminal(folders, &settings, &clock, options);
  if (!terminal.OpenStore(&error)) return Fail(2, error);
#ifdef _WIN32
  paper::PipeServer server(terminal, g_stop_event);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  int listening = server.Listen(pipe_name, &error);
  if (listening != 0) return Fail(listening, error);
  const std::string endpoint = platform::ToUtf8(pipe_name);
  const unsigned long pid_number = GetCurrentProcessId();
#else
  paper::Server server(terminal);
  if (pipe2(g_stop_pipe, O_CLOEXEC) != 0) return Fail(2, "pipe failed");
  struct sigaction sa;
  std::memset(&sa, 0, sizeof(sa));
  sa.sa_handler = OnStop;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);

  if (!server.Listen(socket_path, &error)) return Fail(2, error);
  const std::string& endpoint = socket_path;
  const unsigned long pid_number = static_cast<unsigned long>(getpid());
#endif
  FILE* pid = paper::OpenFile(folders.pid_file, "w");
  if (pid != nullptr) {
    std::fprintf(pid, "%lu\n", pid_number);
    fclose(pid);
  }
  paper::AppendLog(folders.log_file, "started, serving " + endpoint);

#ifdef _WIN32
  server.Run();
#else
  server.Run(g_stop_pipe[0]);
#endif

  paper::RemoveFile(folders.pid_file);
  paper::AppendLog(folders.log_file, "stopped");
#ifdef _WIN32
  CloseHandle(instance);
#else
  close(lock_fd);
#endif
  return 0;
}
