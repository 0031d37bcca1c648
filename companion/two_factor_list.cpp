// SPDX-License-Identifier: Apache-2.0
#include "companion/two_factor_list.h"

#include <algorithm>

#include "companion/crypto.h"
#include "companion/pack_codec.h"
#include "text/utf8.h"

namespace kavi::win {
namespace {

std::string StringMember(const PackValue& map, std::string_view key) {
  const PackValue* value = map.Find(key);
  return value != nullptr && value->is_string() ? std::string(value->bytes()) : std::string();
}

}  // namespace

std::string ListVersionOf(const PackValue& body) {
  const PackValue* version = body.Find(kListVersionKey);
  if (version == nullptr) return {};
  if (version->is_string()) return std::string(version->bytes());
  if (version->is_uint()) return std::to_string(version->uint_value());
  if (version->is_int()) return std::to_string(version->int_value());
  return {};
}

std::vector<TwoFactorEntry> EntriesOf(const PackValue& body) {
  std::vector<TwoFactorEntry> entries;
  const PackValue* list = body.Find(kFileListKey);
  if (list == nullptr) return entries;
  for (const PackValue& item : list->items()) {
    const PackValue* id = item.Find("id");
    const PackValue* type = item.Find("type");
    if (id == nullptr || !id->is_string() || type == nullptr || !type->is_string()) continue;
    TwoFactorEntry entry;
    entry.id = id->bytes();
    entry.type = type->bytes();
    if (const PackValue* status = item.Find("status"); status && status->is_string())
      entry.status = status->bytes();
    if (const PackValue* data = item.Find(kDataPlainKey); data && data->is_binary())
      entry.data = data->bytes();
    if (const PackValue* flags = item.Find("flags")) {
      for (const PackValue& flag : flags->items()) {
        if (flag.is_string()) entry.flags.emplace_back(flag.bytes());
      }
    }
    DescribeTwoFactorEntry(&entry);
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::vector<std::string> DeletedIdsOf(const PackValue& body) {
  std::vector<std::string> ids;
  if (const PackValue* deleted = body.Find(kDeletedKey)) {
    for (const PackValue& id : deleted->items()) {
      if (id.is_string()) ids.emplace_back(id.bytes());
    }
  }
  return ids;
}

void MergeTwoFactorList(std::vector<TwoFactorEntry>* cached, std::vector<TwoFactorEntry> received,
                        const std::vector<std::string>& deleted, bool full) {
  if (full) cached->clear();
  for (TwoFactorEntry& entry : received) {
    auto same = std::find_if(cached->begin(), cached->end(),
                             [&entry](const TwoFactorEntry& e) { return e.id == entry.id; });
    if (same != cached->end()) {
      *same = std::move(entry);
    } else {
      cached->push_back(std::move(entry));
    }
  }
  std::erase_if(*cached, [&deleted](const TwoFactorEntry& e) {
    return std::find(deleted.begin(), deleted.end(), e.id) != deleted.end();
  });
}

void DescribeTwoFactorEntry(TwoFactorEntry* entry) {
  entry->name.clear();
  entry->account.clear();
  PackValue data;
  std::string error;
  if (!entry->data.empty() && PackDecode(entry->data, &data, &error) && data.is_map()) {
    entry->name = StringMember(data, kIssuerKey);
    if (entry->name.empty()) entry->name = StringMember(data, kLabelKey);
    entry->account = StringMember(data, kAccountKey);
  } else if (!entry->data.empty() && IsValidUtf8(entry->data)) {
    const size_t colon = entry->data.find(':');
    entry->name = entry->data.substr(0, colon);
    if (colon != std::string::npos) entry->account = entry->data.substr(colon + 1);
  }
  if (entry->name.empty()) entry->name = entry->id;
}

bool CodeFromTotpAnswer(const PackValue& body, std::string_view entry_id,
                        std::string_view account_key, std::string* code, std::string* error) {
  Wipe(code);
  const PackValue* list = body.Find("list");
  if (list != nullptr) {
    for (const PackValue& item : list->items()) {
      const PackValue* id = item.Find("id");
      const PackValue* data = item.Find(kTotpDataKey);
      if (id == nullptr || !id->is_string() || id->bytes() != entry_id) continue;
      std::string plain;
      std::string ignored;
      if (data != nullptr && data->is_binary() &&
          SecretBoxOpen(data->bytes(), account_key, &plain, &ignored) && !plain.empty()) {
        *code = std::move(plain);
        error->clear();
        return true;
      }
      Wipe(&plain);
      break;
    }
  }
  *error = kTotpNoUsableCode;
  return false;
}

}  // namespace kavi::win
