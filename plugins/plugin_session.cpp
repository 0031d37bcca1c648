// SPDX-License-Identifier: Apache-2.0
#include "plugins/plugin_session.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <random>

#include "plugins/text_util.h"

namespace kavi::win {
namespace {

constexpr char kOperatorKeys[] = "+-*/^%().!,=";
constexpr char kCategoryCommand[] = "fh";
constexpr const char* kVTriggerSchemes[] = {"pinyin", "quanpin", "shuangpin", "snow_ice"};
constexpr char kVTriggerExcluded[] = "wubi";

void SetResult(PluginSessionResult* result, PluginSessionResult value) {
  if (result) *result = std::move(value);
}

}  // namespace

PluginSession::PluginSession(PluginEngine* engine, std::function<PluginContext()> context_provider)
    : engine_(engine), context_provider_(std::move(context_provider)) {}

bool PluginSession::VTriggerEnabled(std::string_view scheme_id) {
  if (scheme_id.find(kVTriggerExcluded) != std::string_view::npos) return false;
  return std::any_of(std::begin(kVTriggerSchemes), std::end(kVTriggerSchemes),
                     [&](const char* s) { return scheme_id.find(s) != std::string_view::npos; });
}

bool PluginSession::Enter(uint32_t key, bool v_trigger_enabled, PluginSessionResult* result) {
  if (active_ || engine_ == nullptr) return false;
  if (key != keys::kBacktick && !(key == kLetterVTrigger && v_trigger_enabled)) {
    return false;
  }
  active_ = true;
  buffer_.assign(1, static_cast<char>(key));
  ResetPaging();
  RunQuery();
  Fill(result);
  return true;
}

bool PluginSession::HandleKey(uint32_t key, bool refresh_only, bool enter_selects,
                              PluginSessionResult* result) {
  if (!active_ || engine_ == nullptr) return false;
  if (refresh_only) {
    Fill(result);
    return true;
  }
  switch (key) {
    case keys::kEscape:
      Leave(result);
      return true;
    case keys::kBackSpace:
      if (buffer_.size() <= 1) {
        Leave(result);
        return true;
      }
      buffer_.pop_back();
      ResetPaging();
      RunQuery();
      Fill(result);
      return true;
    case '[':
    case keys::kPageUp:
      page_index_ = std::max(page_index_ - 1, 0);
      selection_ = 0;
      Fill(result);
      return true;
    case ']':
    case keys::kPageDown:
      if (page_index_ + 1 < PageCount()) ++page_index_;
      selection_ = 0;
      Fill(result);
      return true;
    case keys::kLeft:
    case keys::kUp:
    case keys::kRight:
    case keys::kDown: {
      int n = ItemsOnPage();
      if (n > 0) {
        int step = key == keys::kLeft || key == keys::kUp ? -1 : 1;
        selection_ = (selection_ + step + n) % n;
      }
      Fill(result);
      return true;
    }
    case keys::kSpace:
      return ChooseGlobal(static_cast<size_t>(page_index_ * kPageSize + selection_), result);
    case keys::kReturn:
      if (enter_selects) {
        return ChooseGlobal(static_cast<size_t>(page_index_ * kPageSize + selection_), result);
      }
      CommitBufferAndLeave(result);
      return true;
    default:
      break;
  }
  if (key >= '1' && key <= '9' && !page_.digits_as_input) {
    return ChooseGlobal(static_cast<size_t>(page_index_ * kPageSize + (key - '1')), result);
  }
  bool typed =
      key < 128 && (IsAsciiAlpha(static_cast<char>(key)) || IsAsciiDigit(static_cast<char>(key)) ||
                    (key != 0 && std::strchr(kOperatorKeys, static_cast<int>(key))));
  if (typed) {
    buffer_.push_back(static_cast<char>(key));
    ResetPaging();
    RunQuery();
  }
  Fill(result);
  return true;
}

bool PluginSession::Refresh(PluginSessionResult* result) {
  if (!active_ || engine_ == nullptr) return false;
  RunQuery();
  page_index_ = std::min(page_index_, PageCount() - 1);
  selection_ = std::min(selection_, std::max(ItemsOnPage() - 1, 0));
  Fill(result);
  return true;
}

bool PluginSession::Highlight(int index, PluginSessionResult* result) {
  if (!active_ || engine_ == nullptr) return false;
  bool valid = index >= 0 && index < ItemsOnPage();
  if (valid) selection_ = index;
  Fill(result);
  return valid;
}

bool PluginSession::Choose(int index, PluginSessionResult* result) {
  if (!active_ || engine_ == nullptr) return false;
  if (index < 0 || index >= kPageSize) {
    Fill(result);
    return false;
  }
  return ChooseGlobal(static_cast<size_t>(page_index_ * kPageSize + index), result);
}

void PluginSession::Reset() {
  active_ = false;
  buffer_.clear();
  page_ = PluginPage{};
  ResetPaging();
}

bool PluginSession::ChooseGlobal(size_t index, PluginSessionResult* result) {
  if (index >= page_.items.size()) {
    Fill(result);
    return true;
  }
  PluginItem item = page_.items[index];
  switch (static_cast<PluginItemKind>(item.kind)) {
    case PluginItemKind::Info:
      Fill(result);
      return true;
    case PluginItemKind::LoadTwoFactor:
      Fill(result);
      if (result) {
        result->has_action = true;
        result->action_kind = item.kind;
        result->action_payload = item.payload;
      }
      return true;
    case PluginItemKind::OpenCategory:
      buffer_ = buffer_.substr(0, 1) + kCategoryCommand + item.payload;
      ResetPaging();
      RunQuery();
      Fill(result);
      return true;
    default:
      break;
  }
  Leave(result);
  if (result) {
    if (item.kind == static_cast<uint32_t>(PluginItemKind::Commit)) {
      result->commit = true;
      result->commit_text = std::move(item.text);
    } else {
      result->has_action = true;
      result->action_kind = item.kind;
      result->action_payload = std::move(item.payload);
    }
  }
  return true;
}

void PluginSession::RunQuery() {
  PluginContext context = context_provider_ ? context_provider_() : PluginContext{};
  page_ = engine_->Query(std::string_view(buffer_).substr(std::min<size_t>(1, buffer_.size())),
                         context);
}

void PluginSession::Fill(PluginSessionResult* result) const {
  PluginSessionResult value;
  value.active = active_;
  value.handled = true;
  value.preedit = buffer_;
  size_t begin = static_cast<size_t>(page_index_) * kPageSize;
  for (size_t i = begin; i < page_.items.size() && i < begin + kPageSize; ++i) {
    value.items.push_back(page_.items[i]);
  }
  value.page_index = static_cast<uint32_t>(page_index_);
  value.page_count = static_cast<uint32_t>(PageCount());
  value.selection = static_cast<uint32_t>(selection_);
  value.last_page = page_index_ + 1 >= PageCount();
  if (page_.auto_action && page_index_ == 0 && !page_.items.empty()) {
    value.has_action = true;
    value.action_kind = page_.items[0].kind;
    value.action_payload = page_.items[0].payload;
  }
  SetResult(result, std::move(value));
}

void PluginSession::CommitBufferAndLeave(PluginSessionResult* result) {
  std::string typed = buffer_;
  Leave(result);
  if (result && !typed.empty()) {
    result->commit = true;
    result->commit_text = std::move(typed);
  }
}

void PluginSession::Leave(PluginSessionResult* result) {
  Reset();
  PluginSessionResult value;
  value.handled = true;
  SetResult(result, std::move(value));
}

int PluginSession::PageCount() const {
  return std::max(static_cast<int>((page_.items.size() + kPageSize - 1) / kPageSize), 1);
}

int PluginSession::ItemsOnPage() const {
  int remaining = static_cast<int>(page_.items.size()) - page_index_ * kPageSize;
  return std::clamp(remaining, 0, kPageSize);
}

void PluginSession::ResetPaging() {
  page_index_ = 0;
  selection_ = 0;
}

std::string MakeUuidText() {
  std::random_device device;
  std::array<uint8_t, 16> bytes;
  for (size_t i = 0; i < bytes.size(); i += 4) {
    uint32_t word = device();
    for (size_t k = 0; k < 4; ++k) bytes[i + k] = static_cast<uint8_t>(word >> (8 * k));
  }
  bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    text += kHex[bytes[i] >> 4];
    text += kHex[bytes[i] & 0x0F];
  }
  return text;
}

}  // namespace kavi::win
