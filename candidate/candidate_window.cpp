// SPDX-License-Identifier: Apache-2.0
#include "candidate/candidate_window.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "candidate/background_image.h"
#include "candidate/pango_text.h"
#include "candidate/pointer_commands.h"
#include "candidate/text_language.h"
#include "candidate/theme_resolution.h"
#include "candidate/window_frame.h"
#include "candidate/window_placement.h"
#include "platform/log.h"
#include "platform/window/desktop_locale.h"
#include "platform/window/desktop_theme.h"
#include "platform/window/popup_window.h"

namespace kavi::win {

namespace {

constexpr char kNoticeText[] = "候選窗圖形服務暫時不可用，正在恢復…";
constexpr char kPreviewTexts[3][16] = {"霜楓輸入法", "輸入體驗", "主題預覽"};
constexpr char kPreviewComments[3][2] = {"1", "2", "3"};

// Measures nothing, so the layout falls back to its character-count estimate while the text
// engine is unavailable.
class NoTextMeasurer : public TextMeasurer {
 public:
  double MeasureWidth(TextRole, std::string_view) const override { return 0; }
  TextBand Band(TextRole) const override { return {}; }
  int WrappedLines(TextRole, std::string_view, double) const override { return 1; }
};

PipeResponse PreviewReply() {
  PipeResponse reply = EmptyReply();
  reply.kind = static_cast<uint16_t>(ReplyKind::State);
  reply.result = 1;
  reply.page_size = 3;
  reply.candidate_count = 3;
  reply.highlighted = 1;
  reply.menu_count = 1;
  for (size_t i = 0; i < 3; ++i) {
    CopyTextField(reply.candidates[i].text, kPreviewTexts[i]);
    CopyTextField(reply.candidates[i].comment, kPreviewComments[i]);
  }
  return reply;
}

ScreenArea ToArea(const ScreenRect& r) {
  return {r.left, r.top, r.right, r.bottom};
}
ScreenRect ToRect(const ScreenArea& a) {
  return {a.left, a.top, a.right, a.bottom};
}

}  // namespace

std::unique_ptr<CandidateWindow> CandidateWindow::Create(CandidateWindowOptions options) {
  static std::atomic<bool> absence_logged{false};
  std::string display_name = options.display_name;
  std::unique_ptr<CandidateWindow> window(new CandidateWindow(std::move(options)));
  window->thread_ = std::thread(&CandidateWindow::Run, window.get(), std::move(display_name));
  bool started = false;
  bool no_display = false;
  {
    std::unique_lock lock(window->start_mutex_);
    window->start_cv_.wait_for(lock, std::chrono::milliseconds(kWindowStartMilliseconds),
                               [&] { return window->started_ || window->start_failed_; });
    started = window->started_;
    no_display = window->no_display_;
  }
  if (!started) {
    // The destructor stops and joins the thread.
    window.reset();
    if (no_display && !absence_logged.exchange(true)) {
      LogLine("[Kavi] 無法連線到 X 顯示，候選窗停用\n");
    }
    return nullptr;
  }
  CandidateWindow* self = window.get();
  auto color_scheme = std::make_unique<DesktopColorScheme>(window->options_.color_scheme,
                                                           [self] { self->ReapplyTheme(); });
  {
    std::lock_guard lock(window->mutex_);
    window->color_scheme_ = std::move(color_scheme);
  }
  window->ApplyTheme(kDefaultThemeId, true, "");
  return window;
}

CandidateWindow::CandidateWindow(CandidateWindowOptions options)
    : options_(std::move(options)),
      settings_path_(options_.desktop_settings.empty() ? GtkSettingsPath()
                                                       : options_.desktop_settings) {
  content_.reply = EmptyReply();
  text_language_ = TextLanguageFor(true, DesktopLocaleName());
}

CandidateWindow::~CandidateWindow() {
  // First, and outside the lock: its thread re-applies themes through this window.
  std::unique_ptr<DesktopColorScheme> color_scheme;
  {
    std::lock_guard lock(mutex_);
    color_scheme = std::move(color_scheme_);
  }
  color_scheme.reset();
  Post(kQuit);
  if (thread_.joinable()) thread_.join();
}

void CandidateWindow::Post(unsigned messages) {
  pending_.fetch_or(messages);
  wakeup_.Wake();
}

bool CandidateWindow::Visible() const {
  std::lock_guard lock(mutex_);
  return visible_;
}

CandidateStyle CandidateWindow::Style() const {
  std::lock_guard lock(mutex_);
  return style_;
}

void CandidateWindow::Sync() {
  const uint64_t ticket = sync_requested_.fetch_add(1) + 1;
  Post(kSync);
  std::unique_lock lock(start_mutex_);
  start_cv_.wait_for(lock, std::chrono::seconds(5), [&] { return sync_done_.load() >= ticket; });
}

void CandidateWindow::ShowReply(const PipeResponse& reply) {
  {
    std::lock_guard lock(mutex_);
    content_.reply = reply;
    notice_ = false;
    hovered_ = -1;
  }
  Post(kRelayout);
}

void CandidateWindow::SetAnchor(const ScreenRect& caret, bool has_anchor) {
  bool moved = false;
  {
    std::lock_guard lock(mutex_);
    moved = has_anchor != has_anchor_ || caret.left != anchor_.left || caret.top != anchor_.top ||
            caret.right != anchor_.right || caret.bottom != anchor_.bottom;
    anchor_ = caret;
    has_anchor_ = has_anchor;
  }
  Post(moved ? kRelayout | kAnchorMoved : kRelayout);
}

void CandidateWindow::ShowExpandedPanel(std::vector<PanelItem> rows, int highlighted,
                                        int rows_per_page, bool row_major) {
  if (rows.size() > static_cast<size_t>(kMaxPanelRows)) rows.resize(kMaxPanelRows);
  {
    std::lock_guard lock(mutex_);
    const int count = static_cast<int>(rows.size());
    content_.panel_rows = std::move(rows);
    content_.panel_highlighted = std::clamp(highlighted, 0, std::max(count - 1, 0));
    content_.panel_rows_per_page = std::clamp(rows_per_page, 1, kMaxRowsPerPage);
    content_.panel_row_major = row_major;
    content_.panel_mode = true;
    hovered_ = -1;
  }
  Post(kRelayout);
}

void CandidateWindow::SetPanelHighlight(int row) {
  {
    std::lock_guard lock(mutex_);
    if (content_.panel_mode && row >= 0 && row < static_cast<int>(content_.panel_rows.size())) {
      content_.panel_highlighted = row;
      hovered_ = -1;
    }
  }
  Post(kRepaint);
}

void CandidateWindow::ClearPanelLocked() {
  content_.panel_rows.clear();
  content_.panel_highlighted = 0;
  content_.panel_rows_per_page = 1;
  content_.panel_mode = false;
  hovered_ = -1;
}

void CandidateWindow::ClearExpandedPanel() {
  {
    std::lock_guard lock(mutex_);
    ClearPanelLocked();
  }
  Post(kRelayout);
}

void CandidateWindow::ClearContent() {
  {
    std::lock_guard lock(mutex_);
    notice_ = false;
    has_anchor_ = false;
    content_.reply = EmptyReply();
    ClearPanelLocked();
  }
  Post(kRelayout);
}

void CandidateWindow::ApplyTheme(const std::string& theme_id, bool horizontal,
                                 const std::string& image_path) {
  std::lock_guard theme_lock(theme_mutex_);
  ApplyThemeHeld(theme_id, horizontal, image_path);
}

void CandidateWindow::ApplyThemeHeld(const std::string& theme_id, bool horizontal,
                                     const std::string& image_path) {
  // Files are read before the lock is taken; sessions never wait on a theme load.
  ColorScheme scheme = ColorScheme::kNoPreference;
  {
    std::lock_guard lock(mutex_);
    if (color_scheme_) scheme = color_scheme_->Current();
  }
  const bool dark = DesktopPrefersDark(scheme, settings_path_);
  CandidateStyle style =
      ResolveCandidateStyle(options_.builtin_themes_dir, options_.user_themes_dir, theme_id, dark);
  {
    std::lock_guard lock(mutex_);
    theme_id_ = theme_id;
    style_ = std::move(style);
    content_.horizontal = horizontal;
    image_path_ = image_path;
  }
  Post(kReleaseResources);
}

void CandidateWindow::ReapplyTheme() {
  std::lock_guard theme_lock(theme_mutex_);
  std::string theme_id;
  bool horizontal = true;
  std::string image_path;
  {
    std::lock_guard lock(mutex_);
    theme_id = theme_id_;
    horizontal = content_.horizontal;
    image_path = image_path_;
  }
  ApplyThemeHeld(theme_id, horizontal, image_path);
}

void CandidateWindow::SetTheme(const std::string& theme_id, bool horizontal,
                               const std::string& background_image_path) {
  ApplyTheme(theme_id, horizontal, background_image_path);
}

void CandidateWindow::SetTextScript(bool simplified) {
  const std::string language = TextLanguageFor(simplified, DesktopLocaleName());
  {
    std::lock_guard lock(mutex_);
    if (language == text_language_) return;
    text_language_ = language;
  }
  Post(kReleaseResources);
}

void CandidateWindow::PreviewTheme(const std::string& theme_id, bool horizontal,
                                   const ScreenRect& anchor) {
  std::string image_path;
  {
    std::lock_guard lock(mutex_);
    image_path = image_path_;
  }
  ApplyTheme(theme_id, horizontal, image_path);
  {
    std::lock_guard lock(mutex_);
    ClearPanelLocked();
    content_.reply = PreviewReply();
    anchor_ = anchor;
    has_anchor_ = true;
    notice_ = true;
  }
  Post(kStartPreview);
}

// ---- window thread ----

void CandidateWindow::Run(std::string display_name) {
  std::string message;
  bool no_display = false;
  popup_ = PopupWindow::Create(display_name, &no_display, &message);
  {
    std::lock_guard lock(start_mutex_);
    if (!popup_) {
      start_failed_ = true;
      no_display_ = no_display;
      if (!no_display_) LogLine("[Kavi] 候選窗建立失敗\n");
    } else {
      window_id_ = popup_->WindowId();
      started_ = true;
    }
  }
  start_cv_.notify_all();
  if (!popup_) return;
  settings_watch_ = std::make_unique<FileChangeWatch>(settings_path_);
  EnsureResources();

  for (;;) {
    if (popup_ && popup_->Lost()) DropDisplay();
    if (!popup_ && Clock::now() >= reopen_deadline_) ReopenDisplay(display_name);
    const uint64_t sync_target = sync_requested_.load();
    unsigned messages = pending_.exchange(0);
    if (messages & kQuit) break;
    if (popup_) {
      HandleMessages(messages);
      HandleEvents();
    }
    // Without a display the content is kept; ReopenDisplay shows it again.
    const Clock::time_point now = Clock::now();
    if (preview_timer_ && now >= preview_deadline_) {
      preview_timer_ = false;
      ClearContent();
    }
    if (popup_ && retry_timer_ && now >= retry_deadline_) RetryResources();
    // A caller waiting for what it asked for gets it now, not at the next frame time.
    if (popup_ && deferred_ != 0 && (now >= next_frame_at_ || sync_done_.load() < sync_target)) {
      const unsigned deferred = std::exchange(deferred_, 0u);
      HandleMessages(deferred, /*frame_due=*/true);
    }
    if (popup_) popup_->Flush();
    if (sync_done_.load() < sync_target) {
      // What was drawn is on the screen before the caller is told it is done.
      if (popup_) popup_->RoundTrip();
      {
        std::lock_guard lock(start_mutex_);
        sync_done_ = sync_target;
      }
      start_cv_.notify_all();
    }
    if (popup_ && popup_->Lost()) continue;
    if (pending_.load() != 0 || (popup_ && popup_->HasQueuedEvents())) continue;

    const int fds[2] = {popup_ ? popup_->ConnectionFd() : -1, settings_watch_->Fd()};
    bool ready[2] = {false, false};
    const Wakeup::WaitResult woke = wakeup_.Wait(fds, WaitTimeoutMs(), ready);
    if (woke == Wakeup::WaitResult::kTimedOut || woke == Wakeup::WaitResult::kFailed) continue;
    // The desktop switched between light and dark: apply the same theme again.
    if (ready[1] && settings_watch_->Drain()) ReapplyTheme();
  }
  ReleaseResources();
  settings_watch_.reset();
  popup_.reset();
  std::lock_guard lock(start_mutex_);
  sync_done_ = UINT64_MAX;
  start_cv_.notify_all();
}

void CandidateWindow::DropDisplay() {
  LogLine("[Kavi] 候選窗失去 X 顯示連線，稍後重試\n");
  ReleaseResources();
  popup_.reset();
  window_id_ = 0;
  // Frames wait for the display; ReopenDisplay draws the content again.
  deferred_ = 0;
  retry_timer_ = false;
  {
    std::lock_guard lock(mutex_);
    visible_ = false;
    layout_ = CandidateLayout{};
    hovered_ = -1;
  }
  reopen_timer_ = true;
  reopen_deadline_ = Clock::now() + std::chrono::milliseconds(kDisplayRetryMilliseconds);
}

void CandidateWindow::ReopenDisplay(const std::string& display_name) {
  bool no_display = false;
  std::string message;
  popup_ = PopupWindow::Create(display_name, &no_display, &message);
  if (!popup_) {
    reopen_deadline_ = Clock::now() + std::chrono::milliseconds(kDisplayRetryMilliseconds);
    return;
  }
  reopen_timer_ = false;
  window_id_ = popup_->WindowId();
  LogLine("[Kavi] 候選窗已重新連線到 X 顯示\n");
  EnsureResources();
  Relayout();
}

int CandidateWindow::WaitTimeoutMs() const {
  int timeout = -1;
  const Clock::time_point now = Clock::now();
  for (auto [armed, deadline] :
       {std::pair{preview_timer_, preview_deadline_}, std::pair{retry_timer_, retry_deadline_},
        std::pair{reopen_timer_, reopen_deadline_}, std::pair{deferred_ != 0, next_frame_at_}}) {
    if (!armed) continue;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
    const int ms = static_cast<int>(std::max<long long>(left, 0));
    timeout = timeout < 0 ? ms : std::min(timeout, ms);
  }
  return timeout;
}

void CandidateWindow::HandleMessages(unsigned messages, bool frame_due) {
  if (messages & kReleaseResources) ReleaseResources();
  if (messages & kStartPreview) {
    preview_timer_ = true;
    preview_deadline_ = Clock::now() + std::chrono::milliseconds(kPreviewMilliseconds);
  }
  // Frames asked for faster than the screen shows them wait for its next frame and are drawn
  // once, with what is current then: typing faster than the refresh costs no extra drawing.
  constexpr unsigned kFrameMessages = kRelayout | kRepaint;
  // A window left behind a moving caret would be noticed, though: it moves at once.
  if ((messages & kFrameMessages) && !(messages & kAnchorMoved) && !frame_due &&
      Clock::now() < next_frame_at_) {
    deferred_ |= messages & kFrameMessages;
    messages &= ~kFrameMessages;
  }
  if (messages & (kRelayout | kReleaseResources | kStartPreview)) {
    Relayout();
  } else if (messages & kRepaint) {
    int x = 0;
    int y = 0;
    const bool valid = popup_->PointerPosition(&x, &y);
    {
      std::lock_guard lock(mutex_);
      last_mouse_x_ = x;
      last_mouse_y_ = y;
      last_mouse_valid_ = valid;
    }
    Paint();
  }
}

void CandidateWindow::HandleEvents() {
  PopupEvent event;
  while (popup_->NextEvent(&event)) {
    switch (event.type) {
      case PopupEvent::Type::kExpose:
        // The server lost the window's pixels (shown again, uncovered): the frame buffer still
        // holds them.
        if (frame_surface_ && frame_surface_ == popup_->FrameBuffer(shown_width_, shown_height_)) {
          popup_->Present({});
        } else {
          Paint();
        }
        break;
      case PopupEvent::Type::kMotion:
        OnPointerMove(event.x, event.y, event.root_x, event.root_y);
        break;
      case PopupEvent::Type::kButtonRelease:
        if (event.button == 1) OnButtonRelease(event.x, event.y);
        break;
      case PopupEvent::Type::kWheel:
        OnWheel(event.wheel_delta);
        break;
      case PopupEvent::Type::kDpiChanged:
        ReleaseResources();
        Relayout();
        break;
      case PopupEvent::Type::kNone:
        break;
    }
  }
}

void CandidateWindow::HideLocked() {
  hovered_ = -1;
  layout_ = CandidateLayout{};
  if (visible_) {
    popup_->Hide();
    visible_ = false;
  }
}

void CandidateWindow::Relayout() {
  CandidateContent content;
  ScreenRect anchor{};
  bool has_anchor = false;
  CandidateStyle style;
  bool was_visible = false;
  {
    std::lock_guard lock(mutex_);
    content = content_;
    anchor = anchor_;
    has_anchor = has_anchor_;
    style = style_;
    was_visible = visible_;
  }
  const bool inverted = anchor.right < anchor.left || anchor.bottom < anchor.top;
  if (!has_anchor || inverted || (content.RowCount() == 0 && !PreeditLineShown(content))) {
    std::lock_guard lock(mutex_);
    HideLocked();
    return;
  }
  EnsureResources();
  const double scale = popup_->Dpi() / 96.0;
  const ScreenRect work_area = ToRect(popup_->WorkAreaNear(ToArea(anchor)));
  const MaxSize max = MaximumWindowSize(work_area, scale, content.horizontal, content.panel_mode);
  NoTextMeasurer no_text;
  const TextMeasurer& measurer = text_ ? static_cast<const TextMeasurer&>(*text_) : no_text;
  CandidateLayout layout = LayoutContent(content, style, measurer, max.width, max.height);
  if (layout.Hidden()) {
    std::lock_guard lock(mutex_);
    HideLocked();
    return;
  }
  const int w = FramePixels(layout.width, scale);
  const int h = FramePixels(layout.height, scale);
  const WindowPosition position = PlaceWindow(anchor, work_area, w, h, scale);
  const bool moved = !was_visible || position.x != shown_x_ || position.y != shown_y_ ||
                     w != shown_width_ || h != shown_height_;
  int mouse_x = 0;
  int mouse_y = 0;
  // A pointer resting where the window appears must not move the highlight; a window that
  // stays where it is has nothing new under the pointer (and costs no round trip).
  const bool mouse_valid = moved && popup_->PointerPosition(&mouse_x, &mouse_y);
  {
    std::lock_guard lock(mutex_);
    layout_ = layout;
    scale_ = scale;
    if (moved) {
      last_mouse_x_ = mouse_x;
      last_mouse_y_ = mouse_y;
      last_mouse_valid_ = mouse_valid;
    }
    visible_ = true;
  }
  shown_x_ = position.x;
  shown_y_ = position.y;
  shown_width_ = w;
  shown_height_ = h;
  // A window shown again shows its whole frame.
  if (!was_visible) painter_.ForgetFrame();
  // The frame is drawn before the window moves or appears, and both reach the server together:
  // nobody sees the window empty or in its old place with the new content.
  DrawFrame(content, style, layout, scale, [&] {
    popup_->MoveResizeShow(position.x, position.y, w, h);
    popup_->SetRoundedShape(w, h, static_cast<int>(style.corner_radius * scale));
  });
}

void CandidateWindow::Paint() {
  CandidateContent content;
  CandidateStyle style;
  CandidateLayout layout;
  double scale = 1;
  {
    std::lock_guard lock(mutex_);
    if (!visible_) return;
    content = content_;
    style = style_;
    layout = layout_;
    scale = scale_;
  }
  DrawFrame(content, style, layout, scale);
}

void CandidateWindow::DrawFrame(const CandidateContent& content, const CandidateStyle& style,
                                const CandidateLayout& layout, double scale,
                                const std::function<void()>& place) {
  cairo_surface_t* surface =
      EnsureResources()
          ? popup_->FrameBuffer(FramePixels(layout.width, scale), FramePixels(layout.height, scale))
          : nullptr;
  if (!surface || !text_) {
    frame_surface_ = nullptr;
    painter_.ForgetFrame();
    if (place) place();
    popup_->DrawNotice(kNoticeText);
    if (!retry_timer_) {
      retry_timer_ = true;
      retry_deadline_ = Clock::now() + std::chrono::milliseconds(kResourceRetryMilliseconds);
    }
    return;
  }
  // A new frame buffer holds none of the last frame.
  if (surface != frame_surface_) painter_.ForgetFrame();
  frame_surface_ = surface;
  const FrameInput in{scale, &content, &style, &layout, text_.get(), background_};
  std::vector<int> rows;
  std::vector<ScreenArea> damage;  // empty: the whole window
  if (painter_.ChangedRows(in, &rows)) {
    // Nothing changed, or only some rows (a hover): only they are drawn and sent.
    for (const PixelRect& r : painter_.PaintRows(surface, in, rows)) {
      damage.push_back({r.x, r.y, r.x + r.width, r.y + r.height});
    }
    if (place) place();
    if (damage.empty()) return;
  } else {
    painter_.Paint(surface, in);
    if (place) place();
  }
  popup_->Present(damage);
  shared_memory_frames_ = popup_->SharedMemory();
  ++frames_sent_;
  next_frame_at_ = Clock::now() + std::chrono::microseconds(
                                      static_cast<int64_t>(popup_->FrameIntervalMs() * 1000));
}

bool CandidateWindow::EnsureResources() {
  auto start_retry = [this] {
    if (!retry_timer_) {
      retry_timer_ = true;
      retry_deadline_ = Clock::now() + std::chrono::milliseconds(kResourceRetryMilliseconds);
    }
  };
  CandidateStyle style;
  std::string image_path;
  std::string language;
  {
    std::lock_guard lock(mutex_);
    style = style_;
    image_path = image_path_;
    language = text_language_;
  }
  if (!text_) {
    if (options_.graphics_available && !options_.graphics_available()) {
      if (!factory_failure_logged_) {
        LogLine("[Kavi] 候選窗圖形工廠初始化失敗，將自動重試\n");
        factory_failure_logged_ = true;
      }
      start_retry();
      return false;
    }
    factory_failure_logged_ = false;
    std::string message;
    text_ = PangoTextFormats::Create(style, language, &message);
    if (!text_) {
      if (!font_failure_logged_) {
        LogLine("[Kavi] 候選窗字體初始化失敗，顯示診斷並自動重試\n");
        font_failure_logged_ = true;
      }
      start_retry();
      return false;
    }
    font_failure_logged_ = false;
  }
  if (!image_path.empty() && image_path != loaded_image_path_) {
    // The kept chrome may show the old picture.
    painter_.Reset();
    if (background_) cairo_surface_destroy(background_);
    std::string message;
    background_ = LoadBackgroundImage(image_path, &message);
    loaded_image_path_ = image_path;
    if (!background_ && !image_failure_logged_) {
      LogLine("[Kavi] 候選窗背景圖片載入失敗，降級使用主題底色\n");
      image_failure_logged_ = true;
    } else if (background_) {
      image_failure_logged_ = false;
    }
  }
  return true;
}

void CandidateWindow::ReleaseResources() {
  painter_.Reset();
  text_.reset();
  if (background_) cairo_surface_destroy(background_);
  background_ = nullptr;
  loaded_image_path_.clear();
  frame_surface_ = nullptr;
  if (popup_) popup_->ReleaseFrameBuffer();
}

void CandidateWindow::RetryResources() {
  ReleaseResources();
  if (options_.graphics_available && !options_.graphics_available()) {
    retry_deadline_ = Clock::now() + std::chrono::milliseconds(kResourceRetryMilliseconds);
    return;
  }
  retry_timer_ = false;
  if (EnsureResources()) {
    Relayout();
  } else {
    retry_timer_ = true;
    retry_deadline_ = Clock::now() + std::chrono::milliseconds(kResourceRetryMilliseconds);
  }
}

void CandidateWindow::Send(ServerCommand command, int32_t value) {
  uint64_t context_id = 0;
  uint64_t nonce = 0;
  {
    std::lock_guard lock(mutex_);
    context_id = content_.reply.context_id;
    nonce = content_.reply.session_nonce;
  }
  if (options_.poster) options_.poster(command, value, context_id, nonce);
}

void CandidateWindow::OnPointerMove(int x, int y, int root_x, int root_y) {
  if (notice_) return;
  std::optional<PointerCommand> command;
  {
    std::lock_guard lock(mutex_);
    if (last_mouse_valid_ && root_x == last_mouse_x_ && root_y == last_mouse_y_) return;
    last_mouse_x_ = root_x;
    last_mouse_y_ = root_y;
    last_mouse_valid_ = true;
    int hovered = hovered_;
    command = HoverCommand(content_, layout_, x / scale_, y / scale_, &hovered);
    hovered_ = hovered;
  }
  if (command) Send(command->command, command->value);
}

void CandidateWindow::OnButtonRelease(int x, int y) {
  if (notice_) return;
  std::optional<PointerCommand> command;
  {
    std::lock_guard lock(mutex_);
    command = ClickCommand(content_, layout_, x / scale_, y / scale_);
  }
  if (command) Send(command->command, command->value);
}

void CandidateWindow::OnWheel(int delta) {
  if (notice_) return;
  const PointerCommand command = WheelCommand(delta);
  Send(command.command, command.value);
}

}  // namespace kavi::win
