#include "server/app/server_app.h"

#include <pthread.h>
#include <signal.h>

#include <memory>
#include <mutex>
#include <thread>

#include "client/kavi_client.h"
#include "platform/foreground.h"
#include "platform/identity.h"
#include "platform/instance_lock.h"
#include "platform/ipc.h"
#include "platform/log.h"
#include "server/app/command_line.h"
#include "server/app/engine_starter.h"
#include "server/app/server_directories.h"
#include "server/engine/engine_api.h"
#include "server/engine/engine_lock.h"
#include "server/serve/pipe_server.h"

namespace kavi::win::server {
namespace {

// Turns SIGINT and SIGTERM into a clean shutdown. The signals are blocked in every thread and
// taken by this one.
class SignalWatcher {
 public:
  static void BlockSignals() {
    sigset_t set = Signals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
  }

  explicit SignalWatcher(std::function<void()> on_stop)
      : thread_([on_stop = std::move(on_stop)] {
          sigset_t set = Signals();
          int signal = 0;
          while (sigwait(&set, &signal) == 0) {
            if (signal == SIGUSR1) return;
            on_stop();
          }
        }) {}

  ~SignalWatcher() {
    pthread_kill(thread_.native_handle(), SIGUSR1);
    thread_.join();
  }

 private:
  static sigset_t Signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGUSR1);
    return set;
  }
  std::thread thread_;
};

std::filesystem::path LockPath(const std::filesystem::path& runtime_dir, const std::string& sid,
                               uint64_t session) {
  return runtime_dir / ("Kavi.Server." + sid + "." + std::to_string(session) + ".lock");
}

}  // namespace

int RunServer(int argc, char** argv) {
  SignalWatcher::BlockSignals();
  const CommandLine command_line = ParseCommandLine(JoinArguments(argc, argv));

  const std::string sid = CurrentUserSid();
  if (sid.empty()) return kExitNoIdentity;
  const uint64_t session = CurrentSessionId().value_or(0);

  const std::filesystem::path runtime_dir = RuntimeDirectory();
  std::string message;
  if (!PrepareRuntimeDirectory(runtime_dir, &message)) {
    LogLine("[Kavi] " + message);
    return kExitNoSecurity;
  }
  InstanceLock lock;
  switch (lock.Acquire(LockPath(runtime_dir, sid, session), &message)) {
    case InstanceLock::Result::Acquired:
      break;
    case InstanceLock::Result::HeldElsewhere: {
      if (!command_line.voice_kind) return kExitOk;
      ClientOptions options;
      options.start_server = false;
      return SendHousekeeping(*command_line.voice_kind, options) ? kExitOk : kExitForwardFailed;
    }
    case InstanceLock::Result::Failed:
      LogLine("[Kavi] " + message);
      return kExitNoSecurity;
  }

  ServerDirectories dirs = ResolveServerDirectories();
  if (!CreateServerDirectories(dirs, &message)) LogLine("[Kavi] " + message);

  EngineStarter engine(dirs);
  {
    std::lock_guard<std::mutex> hold(EngineLock());
    engine.Start();
  }

  ServerShared shared;
  SessionServices services;
  services.user_data_root = dirs.user_root;
  ForegroundProbe foreground;
  services.is_foreground = [&foreground](uint32_t pid) { return foreground.IsForeground(pid); };

  const std::filesystem::path socket_path = ServerSocketPath(runtime_dir, sid, session);
  PipeServer pipe_server(sid, session, socket_path, services, shared);
  services.shutdown = [&pipe_server] { pipe_server.Stop(); };

  switch (pipe_server.Listen(&message)) {
    case PipeServer::ListenResult::Listening: {
      SignalWatcher signals([&pipe_server] { pipe_server.Stop(); });
      pipe_server.Serve();
      break;
    }
    case PipeServer::ListenResult::Squatted:
      LogLine("[Kavi] " + message);
      break;
    case PipeServer::ListenResult::Failed:
      LogLine("[Kavi] " + message);
      break;
  }
  pipe_server.Teardown();
  {
    std::lock_guard<std::mutex> hold(EngineLock());
    kavi_finalize();
  }
  lock.Release();
  return kExitOk;
}

}  // namespace kavi::win::server
