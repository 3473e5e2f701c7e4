// The paper terminal: a terminal program of our own that serves the
// connector's protocol over the socket named from its own executable path,
// with a simulated market and a trading engine behind it.
//
// Usage: terminal64.exe [/portable] [--auto-trading=0|1] [--login=N]
//                       [--seed=N] [--speed=X]
// Exit status: 0 after SIGTERM or SIGINT, 2 when it cannot start, 3 when
// another instance already serves its socket.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "link/pipe_name.h"
#include "paper/clock.h"
#include "paper/data_folder.h"
#include "paper/protocol.h"
#include "paper/server.h"
#include "platform/platform.h"

namespace {

int g_stop_pipe[2] = {-1, -1};

void OnStop(int) {
  int saved = errno;
  char c = 1;
  ssize_t ignored = write(g_stop_pipe[1], &c, 1);
  (void)ignored;
  errno = saved;
}

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
  signal(SIGPIPE, SIG_IGN);
  signal(SIGHUP, SIG_IGN);

  bool portable = false;
  paper::Options cli;
  bool has_auto = false, has_login = false, has_seed = false, has_speed = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i], v;
    if (arg == "/portable") {
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
    } else if (Option(arg, "speed", &v)) {
      cli.speed = strtod(v.c_str(), nullptr);
      has_speed = cli.speed > 0;
    } else {
      return Fail(2, "unknown argument " + arg);
    }
  }

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
  int claimed = paper::ClaimSocket(socket_path, &lock_fd, &error);
  if (claimed != 0) return Fail(claimed, error);

  paper::Folders folders;
  if (!paper::PrepareFolders(exe, portable, &folders, &error)) return Fail(2, error);

  // Settings come from config/terminal.ini; the command line overrides them.
  paper::Options options;
  paper::Settings settings(folders.ini, options);
  settings.Load(&options);
  if (has_auto) options.auto_trading = cli.auto_trading;
  if (has_login) options.login = cli.login;
  if (has_seed) options.seed = cli.seed;
  if (has_speed) options.speed = cli.speed;
  settings.Apply(options);

  paper::Clock clock(options.speed);
  paper::Terminal terminal(folders, &settings, &clock, options);
  paper::Server server(terminal);
  if (pipe2(g_stop_pipe, O_CLOEXEC) != 0) return Fail(2, "pipe failed");
  struct sigaction sa;
  std::memset(&sa, 0, sizeof(sa));
  sa.sa_handler = OnStop;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);

  if (!server.Listen(socket_path, &error)) return Fail(2, error);
  FILE* pid = fopen(folders.pid_file.c_str(), "w");
  if (pid != nullptr) {
    std::fprintf(pid, "%d\n", int(getpid()));
    fclose(pid);
  }
  paper::AppendLog(folders.log_file, "started, serving " + socket_path);

  server.Run(g_stop_pipe[0]);

  unlink(folders.pid_file.c_str());
  paper::AppendLog(folders.log_file, "stopped");
  close(lock_fd);
  return 0;
}
