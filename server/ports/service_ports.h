// The narrow interfaces through which a client session reaches the process-wide services.
// Each service implements its port; a missing service is a null pointer and the request kinds
// that need it are refused.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "server/ports/catalog_entry.h"
#include "server/wire/pipe_records.h"

namespace kavi::win {

// Commit statistics and cloud words.
class CloudInputPort {
 public:
  virtual ~CloudInputPort() = default;
  // Records a commit: the committed text and the expanded (spelled-out) input code.
  virtual void RecordCommit(const std::string& text, const std::string& expanded_input) = 0;
  // Forgets the previously committed word, so that no word pair spans a focus change.
  virtual void ClearContext() = 0;
};

class KeySoundPort {
 public:
  virtual ~KeySoundPort() = default;
  // The click of an ordinary key press.
  virtual void PlayKey(uint32_t keysym) = 0;
  // A named sound with the request's argument; true when it played.
  virtual bool Play(const std::string& name, uint32_t argument) = 0;
};

class VoicePort {
 public:
  virtual ~VoicePort() = default;
  // Reloads the voice settings from the configuration; false when they cannot be read.
  virtual bool ReloadSettings() = 0;
  // Command 0 toggle, 1 start, 2 stop, 3 cancel; alternate routes the text to the second slot.
  virtual bool Command(int command, bool alternate, std::string* message) = 0;
  virtual bool StartModelJob(bool download, const std::string& model, std::string* message) = 0;
  // False when no model job is running.
  virtual bool CancelModelJob(bool alternate) = 0;
  // The two voice state words (reply offsets 86 and 50).
  virtual void StateWords(uint32_t* value, uint32_t* cursor_word) = 0;
};

class SchemePackPort {
 public:
  virtual ~SchemePackPort() = default;
  virtual bool Ready() = 0;
  // Starts the install (true) or removal job of a pack on a worker; the job calls finished
  // once, with its success, when it ends (also when it was cancelled).
  virtual bool StartJob(bool install, const std::string& pack_id,
                        std::function<void(bool success)> finished, std::string* message) = 0;
  virtual bool IsInstalled(const std::string& scheme_id) = 0;
  // Cancels the running job's downloads.
  virtual void CancelJob() = 0;
};

class CompanionPort {
 public:
  virtual ~CompanionPort() = default;
  // Kinds 33 to 37: answers the request with a complete reply.
  virtual PipeResponse Handle(const PipeRequest& request) = 0;
};

class ToolbarPort {
 public:
  virtual ~ToolbarPort() = default;
  virtual void SetClientFocus(bool has_focus) = 0;
  virtual void SetAsciiMode(bool ascii_mode) = 0;
};

class CatalogPort {
 public:
  virtual ~CatalogPort() = default;
  virtual std::vector<CatalogEntry> ListSchemes() = 0;
  virtual std::vector<CatalogEntry> ListThemes() = 0;
  virtual bool IsValidThemeId(const std::string& id) = 0;
};

// The maintenance job of kinds 13 and 14: runs on a worker, reports through the job flags.
class MaintenancePort {
 public:
  virtual ~MaintenancePort() = default;
  // Starts the job (the caller has taken the busy flag); false when it could not start.
  virtual bool Start(bool sync_and_backup) = 0;
};

}  // namespace kavi::win
