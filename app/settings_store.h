// Every setting in one place: the committed settings (what config.json
// holds), the settings window's draft while it is open, and the effective
// settings everything draws and acts from (the committed ones with the
// draft's edits laid over them). Every reader asks Effective(); onChanged
// says that it may have changed. No platform calls.
#pragma once

#include <functional>

#include "app/config.h"

class SettingsStore {
 public:
  // The fields a draft edits, copied from the draft onto other settings.
  using LayOver = std::function<void(const Config& draft, Config& onto)>;

  const Config& Committed() const { return committed_; }
  // A copy: the draft's edits over the committed settings, as drawn now.
  Config Effective() const;
  bool Drafting() const { return static_cast<bool>(layOver_); }

  // The committed settings changed in place (loaded, dragged, a tray toggle);
  // an open draft keeps its own edits over them.
  void Change(const std::function<void(Config&)>& edit);
  void Replace(const Config& settings);

  // A draft starts from what is in force; only its laid-over fields count.
  void BeginDraft(LayOver layOver);
  const Config& Draft() const { return draft_; }
  void EditDraft(const std::function<void(Config&)>& edit);
  // The effective settings become the committed ones when persist accepts
  // them (it writes the file); otherwise nothing changes and the draft stays.
  bool CommitDraft(const std::function<bool(const Config&)>& persist);
  void EndDraft();

  // On the thread that changed the settings, after each change.
  std::function<void()> onChanged;

 private:
  void Changed() const;

  Config committed_;
  Config draft_;
  LayOver layOver_;
};

extern SettingsStore g_settings;
