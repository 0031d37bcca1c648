// SPDX-License-Identifier: Apache-2.0
#include "server/app/server_app.h"

#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "candidate/candidate_window.h"
#include "client/kavi_client.h"
#include "companion/dpapi_store.h"
#include "companion/gk_client.h"
#include "companion/gk_companion_port.h"
#include "companion/gk_endpoints.h"
#include "companion/gk_refresh.h"
#include "config/config_store.h"
#include "config/config_watcher.h"
#include "ovra/engine_api.h"
#include "net/service_endpoints.h"
#include "net/service_http.h"
#include "net/service_translation.h"
#include "packs/data_generation.h"
#include "packs/pack_transaction.h"
#include "packs/scheme_pack_jobs.h"
#include "packs/scheme_pack_manager.h"
#include "platform/signature/detached_signature.h"
#include "platform/autostart/autostart.h"
#include "platform/clipboard.h"
#include "platform/folders.h"
#include "platform/heap.h"
#include "platform/foreground.h"
#include "platform/identity.h"
#include "platform/instance_lock.h"
#include "platform/ipc.h"
#include "platform/log.h"
#include "update/file_downloader.h"
#include "update/update_checker.h"
#include "platform/process.h"
#include "platform/server_endpoint.h"
#include "platform/session_bus.h"
#include "platform/signal_watcher.h"
#include "platform/toolkit_environment.h"
#include "plugins/plugin_engine.h"
#include "server/app/command_line.h"
#include "server/app/engine_starter.h"
#include "server/app/maintenance_jobs.h"
#include "server/app/server_catalog.h"
#include "server/app/server_cloud_input.h"
#include "server/app/server_directories.h"
#include "server/app/settings_applier.h"
#include "server/app/user_data_saver.h"
#include "server/app/voice_setup.h"
#include "server/engine/engine_lock.h"
#include "server/profile/profile_registration.h"
#include "server/serve/pipe_server.h"
#include "server/app/tray_setup.h"
#include "server/session/foreground_rule.h"
#include "server/session/window_owner_rule.h"
#include "shell/deferred_tray.h"
#include "sound/key_sound_player.h"
#include "sound/key_sound_service.h"

namespace kavi::win::server {
namespace {

constexpr char kEngineRestartFailed[] = "engine restart could not load its scheme";

int RunProfileMode(CommandLine::Mode mode) {
  std::filesystem::path local = LocalAppDataFolder();
  std::filesystem::path registry =
      ProfileRegistryFolder(local.empty() ? ProgramFolder() / "local-data" : local / "Kavi");
  int32_t result = mode == CommandLine::Mode::ActivateProfile ? ActivateProfile(registry)
                                                              : RemoveProfile(registry);
  return ProfileModeExitCode(result);
}

// Everything that lives from start-up to teardown, in the order it is built.
class Server {
 public:
  Server(ServerDirectories dirs, std::string sid, std::filesystem::path socket_path)
      : dirs_(std::move(dirs)),
        sid_(std::move(sid)),
        socket_path_(std::move(socket_path)),
        engine_(dirs_),
        config_(dirs_.user_root) {}

  void StartEngine() {
    std::lock_guard<std::mutex> hold(EngineLock());
    engine_.Start();
  }

  // A failure leaves the key-sound requests refused; the server goes on without clicks.
  void LoadKeySounds() {
    auto service = std::make_unique<KeySoundService>();
    std::string message;
    if (!service->Initialize(dirs_.sounds, &message)) {
      LogLine("[Kavi] 按鍵音初始化失敗：" + message + "\n");
      return;
    }
    key_sound_service_ = std::move(service);
    key_sounds_ = std::make_unique<KeySoundPlayer>(key_sound_service_.get());
    services_.key_sounds = key_sounds_.get();
  }

  void LoadConfiguration() {
    ConfigRecord loaded;
    std::string message;
    if (!config_.Load(&loaded, &message)) {
      LogLine("[Kavi] 啟動讀取配置失敗，使用預設值：" + message + "\n");
    } else {
      std::lock_guard<std::mutex> hold(EngineLock());
      ApplyEngineSettings(loaded);
    }
    shared_.settings.Set(SessionSettingsFrom(config_.Snapshot()));
    ApplyServiceSettings(config_.Snapshot());
  }

  // The services in start-up order: companion client and voice controller, scheme-pack manager,
  // plug-in engine, cloud input manager, theme catalogue and candidate window, configuration
  // watcher, update checker; the tray with its toolbar follows once the server listens
  // (deferred_tray.h). A service not built leaves its pointer null and sessions refuse the
  // request kinds that need it.
  void BuildServices() {
    BuildCompanion();
    services_.user_data_root = dirs_.user_root;
    // A missing microphone or model shows only when a recording starts.
    voice_ = MakeVoiceController(dirs_, &shared_, &config_);
    services_.voice = voice_.get();
    saver_ = std::make_unique<UserDataSaver>([] {
      std::lock_guard<std::mutex> hold(EngineLock());
      kavi_sync_user_data();
    });
    services_.user_data = saver_.get();
    plugins_ = std::make_unique<PluginEngine>(dirs_.shared_data / "plugin");
    services_.plugins = plugins_.get();
    cloud_ = std::make_unique<ServerCloudInput>(dirs_.cloud, dirs_.user_root / kEndpointsFileName);
    cloud_->Apply(config_.Snapshot().app.cloud_input);
    cloud_->Start();
    services_.cloud = cloud_->manager();
    // Clipboard translation goes to the service named by the endpoints files, read afresh at
    // each request so that a changed setting needs no restart.
    translation_ = std::make_unique<ServiceTranslation>(dirs_.installed_data / kEndpointsFileName,
                                                        dirs_.user_root / kEndpointsFileName);
    services_.translation = translation_.get();
    services_.read_clipboard = ReadClipboardText;
    maintenance_ = std::make_unique<MaintenanceJobs>(
        dirs_.user_root, shared_.jobs,
        [this](std::string* message) { return RestartEngine(message); });
    services_.maintenance = maintenance_.get();
    BuildSchemePacks();
    catalog_ = std::make_unique<ServerCatalog>(dirs_.shared_data, dirs_.user_themes, dirs_.packs,
                                               services_.packs);
    services_.catalog = catalog_.get();

    CandidateWindowOptions window;
    window.builtin_themes_dir = dirs_.shared_data / "themes";
    window.user_themes_dir = dirs_.user_themes;
    if (!SessionBusReachable()) window.color_scheme = {"none", false};
    window.poster = [this](ServerCommand command, int32_t value, uint64_t context, uint64_t nonce) {
      shared_.notice.Post(static_cast<uint32_t>(command), static_cast<uint32_t>(value), context,
                          nonce);
    };
    window_ = CandidateWindow::Create(std::move(window));
    services_.window = window_.get();
    if (window_) {
      const ConfigRecord config = config_.Snapshot();
      window_->SetTheme(config.app.theme, config.engine.horizontal,
                        config.app.candidate_bg_image_path);
      window_->SetTextScript(config.engine.charset == EngineSettings::kSimplifiedCharset);
    }
    services_.is_foreground = [this](uint32_t pid) {
      uint32_t owner = 0;
      switch (foreground_.ActiveWindowOwner(&owner)) {
        case ForegroundProbe::Answer::kNoActiveWindow:
          return true;  // commits still go only to the composition's owner
        case ForegroundProbe::Answer::kUnknownOwner:
          return false;
        case ForegroundProbe::Answer::kOwner:
          break;
      }
      return BelongsToWindowOwner(pid, owner, LiveProcessTable());
    };
    services_.is_framework_bridge = [folder = ProgramFolder()](uint32_t pid) {
      return IsFrameworkBridge(ProcessExecutable(pid), ProcessIsTraced(pid), folder);
    };
    // The engine's own files beside the configuration are settings too.
    watcher_ = std::make_unique<ConfigWatcher>(
        dirs_.user_root, [this] { Reload(); }, ConfigWatcher::kDefaultSettle,
        // endpoints.json: cloud words follow a newly named service without a restart.
        std::vector<std::string>{KAVI_CUSTOM_PHRASES_FILE, KAVI_USER_PINYIN_OPTIONS_FILE,
                                 kEndpointsFileName});
    services_.toolbar = &tray_;
    BuildUpdateChecker();
  }

  // The scheme-pack manager over the service the endpoints files name, and its jobs, which
  // restart the engine under the engine lock after an install or a removal.
  void BuildSchemePacks() {
    service_http_ = std::make_unique<ServiceHttp>(dirs_.installed_data / kEndpointsFileName,
                                                  dirs_.user_root / kEndpointsFileName);
    ServiceHttp* http = service_http_.get();
    packs_ = std::make_unique<SchemePackManager>(
        dirs_.packs,
        [http](const HttpRequest& request, HttpResponse* response, HttpError* error) {
          return http->Send(request, response, error);
        },
        [http] { return http->BaseUrl(); },
        [](const std::string& id) { LogLine("[Kavi] 方案包已安裝：" + id + "\n"); });
    pack_jobs_ = std::make_unique<SchemePackJobs>(
        packs_.get(), &pack_cancellation_, [this](std::string* message) {
          // The new file set's dictionaries are read while sessions still type, as for the
          // maintenance jobs; the engine is down only from the finalize on.
          kavi_prepare_restart();
          std::lock_guard<std::mutex> hold(EngineLock());
          kavi_finalize();
          return RestartEngine(message);
        });
    services_.packs = pack_jobs_.get();
  }

  // The daily update check on a thread of its own (the tray announces a staged package; without
  // one the log does). KaviSettings --page=about offers to install it.
  void BuildUpdateChecker() {
    UpdateCheckerOptions options;
    options.updates_dir = dirs_.updates;
    ParseVersion(kProgramVersion, &options.running_version);
    options.enabled = !config_.Snapshot().app.disable_auto_update_check;
    ServiceHttp* http = service_http_.get();
    options.base_url = [http] { return http->BaseUrl(); };
    options.send = [http](const HttpRequest& request, HttpResponse* response, HttpError* error) {
      return http->Send(request, response, error);
    };
    options.download = [http](const DownloadRequest& request, std::string* message) {
      const WinHttpClient client(http->ClientOptions());
      return FileDownloader(client).Download(request, message);
    };
    options.trust_anchors = TrustAnchorPaths(dirs_.installed_data, dirs_.user_root);
    options.notify = [this](const UpdateResult& result) {
      if (!tray_.ShowUpdateNotice(result.version)) {
        LogLine("[Kavi] " + result.version + " (" + std::to_string(result.build_number) + "): " +
                result.installer.string() + "\n");
      }
    };
    options.cancellation = &update_cancellation_;
    updates_ = std::make_unique<UpdateChecker>(std::move(options));
    updates_->Start();
  }

  // The companion 2FA client, its identity in the user-data root, its service named by the
  // endpoints files; its refresh thread starts at once.
  void BuildCompanion() {
    companion_ = std::make_unique<GKClient>(
        DpapiStore(dirs_.user_root / "gk", dirs_.user_root / "protect" / kMasterKeyFileName),
        GkEndpointsFromFiles(dirs_.installed_data / kEndpointsFileName,
                             dirs_.user_root / kEndpointsFileName));
    companion_refresh_ = StartGkRefresh(companion_.get());
    companion_port_ = std::make_unique<GkCompanionPort>(companion_.get());
    services_.companion = companion_port_.get();
  }

  // The tray with its toolbar, built on a thread of its own; without a display sessions go on
  // without it.
  void BuildTray() {
    TrayIconOptions options;
    options.actions = MakeServerToolbarActions(&shared_, &services_, dirs_);
    options.shutdown = [this] {
      std::lock_guard<std::mutex> lock(stop_mutex_);
      if (stop_serving_) stop_serving_();
    };
    options.user_root = dirs_.user_root;
    options.version = kProgramVersion;
    options.icon_dir = socket_path_.parent_path() / "tray-icons";
    options.settings = TrayDisplaySettingsFrom(config_.Snapshot(), dirs_);
    tray_.Build(std::move(options));
  }

  // Serves until stopped, then tears everything down in order.
  void Serve() {
    PipeServer pipe_server(sid_, socket_path_, services_, shared_);
    services_.shutdown = [&pipe_server] { pipe_server.Stop(); };
    {
      std::lock_guard<std::mutex> lock(stop_mutex_);
      stop_serving_ = [&pipe_server] { pipe_server.Stop(); };
    }
    std::string message;
    switch (pipe_server.Listen(&message)) {
      case PipeServer::ListenResult::Listening: {
        SignalWatcher signals([&pipe_server] { pipe_server.Stop(); },
                              [this] { saver_->SaveNow(); });
        // Clients can connect while GTK starts.
        BuildTray();
        pipe_server.Serve();
        break;
      }
      case PipeServer::ListenResult::Squatted:
      case PipeServer::ListenResult::Failed:
        LogLine("[Kavi] " + message);
        break;
    }
    // Teardown order: every connection, the companion client, the update checker, the job
    // threads, the tray, the configuration watcher, the cloud input manager, the voice
    // controller, then the engine; the remaining services go with this object.
    pipe_server.Teardown();
    // The client itself stays (the tray still reads its account label): only its network stops.
    companion_refresh_->Stop();
    services_.shutdown = nullptr;
    services_.user_data = nullptr;
    saver_->Stop();
    if (maintenance_) maintenance_->Join();
    if (updates_) updates_->Stop();
    if (pack_jobs_) {
      pack_cancellation_.Cancel();
      pack_jobs_->Join();
    }
    services_.toolbar = nullptr;
    tray_.Destroy();
    {
      std::lock_guard<std::mutex> lock(stop_mutex_);
      stop_serving_ = nullptr;
    }
    if (watcher_) watcher_->Stop();
    services_.cloud = nullptr;
    cloud_->Shutdown();
    services_.voice = nullptr;
    if (voice_) voice_->Shutdown();
    std::lock_guard<std::mutex> hold(EngineLock());
    kavi_finalize();
  }

  // A voice deep link that started this server runs once the services are up.
  void RunDeepLink(RequestKind kind) { RunVoiceDeepLink(voice_.get(), kind); }

 private:
  // The engine restart of the maintenance jobs (engine lock held): initialise, cloud init, then
  // the configuration; true exactly when the engine has its scheme and the configuration loads.
  bool RestartEngine(std::string* message) {
    engine_.Restart();
    // The restart emptied the engine's cloud word lists.
    if (cloud_) cloud_->manager()->ReloadWordLists();
    if (!EngineStarter::HasScheme()) {
      // The shared data went missing under the server (its generation was deleted): the restart
      // failed. Rebuild the generation from the installed data and start again, so that typing
      // comes back.
      *message = kEngineRestartFailed;
      std::string repair;
      if (RepairGeneration(dirs_.installed_data, dirs_.shared_data, &repair)) {
        *message += "; data generation repaired";
      } else {
        LogLine(std::string(kRecoveryFailedLog) + repair + "\n");
      }
      kavi_finalize();
      engine_.Restart();
      ConfigRecord loaded;
      std::string ignored;
      if (config_.Load(&loaded, &ignored)) ApplyEngineSettings(loaded);
      return false;
    }
    ConfigRecord loaded;
    if (!config_.Load(&loaded, message)) return false;
    ApplyEngineSettings(loaded);
    shared_.settings.Set(SessionSettingsFrom(loaded));
    return true;
  }

  // The settings that services other than the engine and the sessions follow.
  void ApplyServiceSettings(const ConfigRecord& config) {
    if (voice_) voice_->UpdateConfig(config);
    tray_.ApplySettings(TrayDisplaySettingsFrom(config, dirs_));
    if (key_sounds_)
      key_sounds_->ApplySettings(config.app.key_sound, config.app.key_sound_type,
                                 config.app.key_sound_volume);
    if (cloud_) cloud_->Apply(config.app.cloud_input);
  }

  void Reload() {
    {
      // Whether or not the configuration pair loads, the engine's own files are followed.
      std::lock_guard<std::mutex> hold(EngineLock());
      kavi_reload_user_files();
    }
    ConfigRecord loaded;
    std::string message;
    if (!config_.Load(&loaded, &message)) {
      LogLine("[Kavi] 配置重載失敗：" + message + "\n");
      return;
    }
    {
      std::lock_guard<std::mutex> hold(EngineLock());
      ApplyEngineSettings(loaded);
    }
    shared_.settings.Set(SessionSettingsFrom(loaded));
    ApplyServiceSettings(loaded);
    if (window_) {
      window_->SetTheme(loaded.app.theme, loaded.engine.horizontal,
                        loaded.app.candidate_bg_image_path);
      window_->SetTextScript(loaded.engine.charset == EngineSettings::kSimplifiedCharset);
    }
  }

  const ServerDirectories dirs_;
  const std::string sid_;
  const std::filesystem::path socket_path_;
  EngineStarter engine_;
  ConfigStore config_;
  ServerShared shared_;
  SessionServices services_;
  ForegroundProbe foreground_;
  std::unique_ptr<GKClient> companion_;
  std::unique_ptr<GkRefreshThread> companion_refresh_;
  std::unique_ptr<GkCompanionPort> companion_port_;
  std::unique_ptr<KeySoundService> key_sound_service_;
  std::unique_ptr<KeySoundPlayer> key_sounds_;
  std::unique_ptr<UserDataSaver> saver_;
  std::unique_ptr<PluginEngine> plugins_;
  std::unique_ptr<ServerCloudInput> cloud_;
  std::unique_ptr<MaintenanceJobs> maintenance_;
  std::unique_ptr<ServiceHttp> service_http_;
  std::unique_ptr<SchemePackManager> packs_;
  // Set by a client's cancel request; aborts the running scheme-pack job's downloads.
  HttpCancellation pack_cancellation_;
  std::unique_ptr<SchemePackJobs> pack_jobs_;
  HttpCancellation update_cancellation_;
  std::unique_ptr<UpdateChecker> updates_;
  std::unique_ptr<ServiceTranslation> translation_;
  std::unique_ptr<ServerCatalog> catalog_;
  std::unique_ptr<CandidateWindow> window_;
  std::unique_ptr<ConfigWatcher> watcher_;
  DeferredTray tray_;
  std::unique_ptr<VoiceController> voice_;
  // The tray's exit stops serving; set while the pipe server lives.
  std::mutex stop_mutex_;
  std::function<void()> stop_serving_;
};

}  // namespace

int RunServer(int argc, char** argv) {
  LimitHeapArenas();
  SignalWatcher::BlockSignals();
  // A client that hangs up, or a log pipe whose reader went away, must not end the server.
  IgnoreBrokenPipeSignal();
  KeepToolkitsOffAbsentSessionBus();
  KeepToolkitsOffOpenGl();
  // 1, 2: one-shot modes and the voice deep link.
  const CommandLine command_line = ParseCommandLine(JoinArguments(argc, argv));
  if (command_line.mode != CommandLine::Mode::Serve) return RunProfileMode(command_line.mode);
  if (command_line.bootstrap) {
    std::string message;
    if (!WriteAutostartEntry(AutostartFolder(), ProgramPath(), &message))
      LogLine("[Kavi] " + message);
  }

  // 3: identity.
  const std::string sid = CurrentUserSid();
  if (sid.empty()) return kExitNoIdentity;

  // 4: one server per user and desktop (server_endpoint.h); its private directory is the
  // socket's security.
  const ServerEndpoint endpoint = CurrentServerEndpoint();
  std::string message;
  if (!PrepareRuntimeDirectory(endpoint.directory, &message)) {
    LogLine("[Kavi] " + message);
    return kExitNoSecurity;
  }
  InstanceLock lock;
  switch (lock.Acquire(endpoint.lock, &message)) {
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

  // 5: the shared data generation.
  ServerDirectories dirs = ResolveServerDirectories();
  if (!RecoverDataGeneration(dirs.installed_data, dirs.local_root, &dirs.shared_data, &message)) {
    LogLine(std::string(kRecoveryFailedLog) + message + "\n");
    lock.Release();
    return kExitDataRecoveryFailed;
  }
  if (!CreateServerDirectories(dirs, &message)) LogLine("[Kavi] " + message);
  // An install that a crash cut short is rolled back before the engine reads the packs.
  RecoverInterruptedInstalls(dirs.packs);

  // 6 to 16.
  Server server(dirs, sid, endpoint.socket);
  server.StartEngine();
  server.LoadKeySounds();
  server.LoadConfiguration();
  server.BuildServices();
  if (command_line.voice_kind) server.RunDeepLink(*command_line.voice_kind);
  server.Serve();
  lock.Release();
  return kExitOk;
}

}  // namespace kavi::win::server
