// SPDX-License-Identifier: Apache-2.0
// The server's one on-screen candidate list: a popup near the caret that client sessions feed
// with replies, caret rectangles and the expanded panel, and whose clicks, hovering and wheel
// turns go back to the composition's owner as server commands. It runs its own thread; every
// operation takes the window lock, updates state and wakes that thread, and never draws on the
// caller's thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "candidate/candidate_content.h"
#include "candidate/candidate_layout.h"
#include "candidate/frame_painter.h"
#include "platform/wakeup.h"
#include "platform/window/color_scheme.h"
#include "ports/candidate_window_port.h"
#include "protocol/server_command.h"
#include "style/candidate_style.h"

namespace kavi::win {

class PopupWindow;
class FileChangeWatch;
class PangoTextFormats;

inline constexpr int kPreviewMilliseconds = 3000;
inline constexpr int kResourceRetryMilliseconds = 1000;
inline constexpr int kWindowStartMilliseconds = 2000;
// After the display is lost, how often the window thread tries to open it again.
inline constexpr int kDisplayRetryMilliseconds = 1000;

struct CandidateWindowOptions {
  std::filesystem::path builtin_themes_dir;
  std::filesystem::path user_themes_dir;
  ServerCommandPoster poster;
  // The X display to use; empty means the environment's.
  std::string display_name;
  // Where the desktop's colour-scheme preference is read; tests give a private bus.
  ColorSchemeSources color_scheme;
  // The GTK settings.ini whose dark preference the window follows when the desktop states
  // none; empty means the user's own.
  std::filesystem::path desktop_settings;
  // Whether the text engine may be set up; lets tests play a graphics failure and recovery.
  // Null means always.
  std::function<bool()> graphics_available;
};

class CandidateWindow final : public CandidateWindowPort {
 public:
  // Starts the window thread and waits for the window to exist. Null, logged once per process,
  // when there is no display to show it on: the server then runs without a window.
  static std::unique_ptr<CandidateWindow> Create(CandidateWindowOptions options);
  ~CandidateWindow() override;
  CandidateWindow(const CandidateWindow&) = delete;
  CandidateWindow& operator=(const CandidateWindow&) = delete;

  void ShowReply(const PipeResponse& reply) override;
  void SetAnchor(const ScreenRect& caret, bool has_anchor) override;
  void ShowExpandedPanel(std::vector<PanelItem> rows, int highlighted, int rows_per_page,
                         bool row_major) override;
  void SetPanelHighlight(int row) override;
  void ClearExpandedPanel() override;
  void ClearContent() override;
  void SetTheme(const std::string& theme_id, bool horizontal,
                const std::string& background_image_path) override;
  void PreviewTheme(const std::string& theme_id, bool horizontal,
                    const ScreenRect& anchor) override;

  // Shapes the texts for simplified or traditional output (the charset setting), so that the
  // font draws the glyph forms of the matching region.
  void SetTextScript(bool simplified);

  // For tests and tools: the X window id, whether it is shown, and the applied style.
  unsigned long WindowId() const { return window_id_; }
  bool Visible() const;
  CandidateStyle Style() const;
  // Whether frames reach the X server through shared memory, and how many were sent.
  bool SharedMemoryFrames() const { return shared_memory_frames_; }
  uint64_t FramesSent() const { return frames_sent_; }
  // Blocks until the window thread has handled everything posted before the call.
  void Sync();

 private:
  enum Message : unsigned {
    kRelayout = 1u << 0,
    kReleaseResources = 1u << 1,
    kStartPreview = 1u << 2,
    kRepaint = 1u << 3,
    kQuit = 1u << 4,
    kSync = 1u << 5,
    // The caret moved: the window follows at once, whatever the frame time.
    kAnchorMoved = 1u << 6,
  };
  using Clock = std::chrono::steady_clock;

  explicit CandidateWindow(CandidateWindowOptions options);
  void Post(unsigned messages);
  void ApplyTheme(const std::string& theme_id, bool horizontal, const std::string& image_path);
  // The same theme again, for a change of the desktop's light or dark preference.
  void ReapplyTheme();
  // ApplyTheme's work, theme_mutex_ held.
  void ApplyThemeHeld(const std::string& theme_id, bool horizontal, const std::string& image_path);
  void ClearPanelLocked();

  // Window thread.
  void Run(std::string display_name);
  // The display went away: the window becomes absent until ReopenDisplay succeeds.
  void DropDisplay();
  void ReopenDisplay(const std::string& display_name);
  // frame_due: frames asked for earlier are due now (or a caller waits for them).
  void HandleMessages(unsigned messages, bool frame_due = false);
  void HandleEvents();
  void Relayout();
  void HideLocked();
  void Paint();
  // Paints the frame into the frame buffer, calls place (which moves and shows the window),
  // then sends what changed.
  void DrawFrame(const CandidateContent& content, const CandidateStyle& style,
                 const CandidateLayout& layout, double scale,
                 const std::function<void()>& place = nullptr);
  bool EnsureResources();
  void ReleaseResources();
  void RetryResources();
  void OnPointerMove(int x, int y, int root_x, int root_y);
  void OnButtonRelease(int x, int y);
  void OnWheel(int delta);
  void Send(ServerCommand command, int32_t value);
  int WaitTimeoutMs() const;

  const CandidateWindowOptions options_;
  const std::filesystem::path settings_path_;

  // Taken before the window lock, for a whole theme application: a re-application for the
  // desktop's preference (from the listener's thread) reads the theme id and stores its style as
  // one step, so that it never puts back a theme the caller has just replaced.
  std::mutex theme_mutex_;
  mutable std::mutex mutex_;  // the window lock
  CandidateContent content_;
  ScreenRect anchor_{};
  bool has_anchor_ = false;
  std::string theme_id_ = kDefaultThemeId;
  CandidateStyle style_;
  std::string image_path_;
  std::string text_language_;
  CandidateLayout layout_;
  double scale_ = 1;
  int last_mouse_x_ = 0;
  int last_mouse_y_ = 0;
  bool last_mouse_valid_ = false;
  bool visible_ = false;
  std::atomic<int> hovered_{-1};
  std::atomic<bool> notice_{false};

  std::atomic<unsigned> pending_{0};
  Wakeup wakeup_;
  std::atomic<unsigned long> window_id_{0};
  std::atomic<bool> shared_memory_frames_{false};
  std::atomic<uint64_t> frames_sent_{0};
  std::thread thread_;

  // Start-up and Sync hand-shakes.
  std::mutex start_mutex_;
  std::condition_variable start_cv_;
  bool started_ = false;
  bool start_failed_ = false;
  bool no_display_ = false;
  std::atomic<uint64_t> sync_requested_{0};
  std::atomic<uint64_t> sync_done_{0};

  std::unique_ptr<DesktopColorScheme> color_scheme_;

  // Owned by the window thread.
  std::unique_ptr<PopupWindow> popup_;
  std::unique_ptr<FileChangeWatch> settings_watch_;
  std::unique_ptr<PangoTextFormats> text_;
  FramePainter painter_;
  cairo_surface_t* background_ = nullptr;
  // The frame buffer the last frame was painted into; null when none holds it.
  cairo_surface_t* frame_surface_ = nullptr;
  // Where the window was last shown, in pixels.
  int shown_x_ = 0;
  int shown_y_ = 0;
  int shown_width_ = 0;
  int shown_height_ = 0;
  // Frames wait for this time; what was asked for meanwhile (kRelayout, kRepaint).
  Clock::time_point next_frame_at_;
  unsigned deferred_ = 0;
  std::string loaded_image_path_;
  bool preview_timer_ = false;
  Clock::time_point preview_deadline_;
  bool retry_timer_ = false;
  Clock::time_point retry_deadline_;
  // Armed while there is no display (after one was lost).
  bool reopen_timer_ = false;
  Clock::time_point reopen_deadline_;
  bool factory_failure_logged_ = false;
  bool font_failure_logged_ = false;
  bool image_failure_logged_ = false;
};

}  // namespace kavi::win
