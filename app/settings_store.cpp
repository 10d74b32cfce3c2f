#include "app/settings_store.h"

#include <utility>

SettingsStore g_settings;

Config SettingsStore::Effective() const {
  Config effective = committed_;
  if (layOver_) layOver_(draft_, effective);
  return effective;
}

void SettingsStore::Change(const std::function<void(Config&)>& edit) {
  edit(committed_);
  Changed();
}

void SettingsStore::Replace(const Config& settings) {
  Change([&settings](Config& committed) { committed = settings; });
}

void SettingsStore::BeginDraft(LayOver layOver) {
  draft_ = committed_;
  layOver_ = std::move(layOver);
}

void SettingsStore::EditDraft(const std::function<void(Config&)>& edit) {
  edit(draft_);
  Changed();
}

bool SettingsStore::CommitDraft(const std::function<bool(const Config&)>& persist) {
  const Config next = Effective();
  if (!persist(next)) return false;
  committed_ = next;
  Changed();
  return true;
}

void SettingsStore::EndDraft() {
  if (!layOver_) return;
  layOver_ = nullptr;
  Changed();
}

void SettingsStore::Changed() const {
  if (onChanged) onChanged();
}
