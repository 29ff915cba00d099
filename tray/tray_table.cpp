// The tray table's rules: icon ids, the structure size, text cutting, and
// what each native does to a record and to the notification area.
#include "tray/tray_table.h"

#include <clocale>
#include <cstdlib>
#include <cstring>

#include "vm/jni_glue.h"

namespace qlx {

size_t localeCharacterLength(const char* text, size_t available) {
  const int length = std::mblen(text, available);
  // A byte the locale cannot read counts as a character of its own.
  return length > 0 ? static_cast<size_t>(length) : 1;
}

void copyCutText(char* field, size_t capacity, const std::string& text, CharacterLength length) {
  size_t used = 0;
  while (used < text.size() && text[used] != '\0') {
    const size_t next = length(text.c_str() + used, text.size() - used);
    if (used + next > capacity - 1) break;
    used += next;
  }
  std::memcpy(field, text.data(), used);
  field[used] = '\0';
}

uint32_t recordSizeFor(int shellMajorVersion, bool hasInfo, bool hasInfoTitle) {
  return shellMajorVersion >= 5 && hasInfo && hasInfoTitle ? kNotifyIconLongSize
                                                           : kNotifyIconShortSize;
}

TrayTable& trayTable() {
  // Never destroyed: the window thread may still look an icon up while the
  // process runs its exit handlers.
  static TrayTable* const table = new TrayTable;
  return *table;
}

TrayTable::Entry* TrayTable::entryOf(uint32_t id) {
  if (id == 0) return nullptr;
  for (Entry& entry : entries_) {
    if (entry.record->id == id) return &entry;
  }
  return nullptr;
}

TrayIconRecord* TrayTable::add(int iconId, const TrayTexts& texts, int infoFlags) {
  LockGuard change(changeMutex_);
  auto record = std::make_unique<TrayIconRecord>();
  record->size = recordSizeFor(shellMajorVersion(), texts.info != nullptr,
                               texts.infoTitle != nullptr);
  record->id = nextId_++;
  record->icon = loadTrayIcon(iconId);
  if (texts.tip != nullptr) copyCutText(record->tip, sizeof record->tip, *texts.tip);
  if (texts.info != nullptr) copyCutText(record->info, sizeof record->info, *texts.info);
  if (texts.infoTitle != nullptr) {
    copyCutText(record->infoTitle, sizeof record->infoTitle, *texts.infoTitle);
  }
  record->infoFlags = static_cast<uint32_t>(infoFlags);
  TrayIconRecord* made = record.get();
  LockGuard lookup(lookupMutex_);
  entries_.push_back(Entry{std::move(record), nullptr});
  return made;
}

void TrayTable::show(JNIEnv* env, jobject self, uint32_t id) {
  LockGuard change(changeMutex_);
  Entry* entry = entryOf(id);
  if (entry == nullptr || entry->record->shown) return;
  TrayIconRecord* record = entry->record.get();
  notifyShell(ShellRequest::Add, *record);  // a refusal still counts as shown
  record->shown = true;
  jobject object = env->NewGlobalRef(self);
  LockGuard lookup(lookupMutex_);
  entry->object = object;
}

void TrayTable::hide(JNIEnv* env, uint32_t id) {
  LockGuard change(changeMutex_);
  Entry* entry = entryOf(id);
  if (entry == nullptr || !entry->record->shown) return;
  TrayIconRecord* record = entry->record.get();
  notifyShell(ShellRequest::Delete, *record);
  record->shown = false;
  jobject object;
  {
    LockGuard lookup(lookupMutex_);
    object = entry->object;
    entry->object = nullptr;
  }
  if (object != nullptr) env->DeleteGlobalRef(object);
}

void TrayTable::change(uint32_t id, int iconId, const TrayTexts& texts, int infoFlags) {
  LockGuard change(changeMutex_);
  Entry* entry = entryOf(id);
  if (entry == nullptr || !entry->record->shown) return;
  TrayIconRecord* record = entry->record.get();
  if (iconId > 0) {
    destroyTrayIcon(record->icon);
    record->icon = loadTrayIcon(iconId);
  }
  copyCutText(record->tip, sizeof record->tip, texts.tip != nullptr ? *texts.tip : std::string());
  if (texts.info != nullptr) copyCutText(record->info, sizeof record->info, *texts.info);
  if (texts.infoTitle != nullptr) {
    copyCutText(record->infoTitle, sizeof record->infoTitle, *texts.infoTitle);
  }
  record->infoFlags = static_cast<uint32_t>(infoFlags);
  notifyShell(ShellRequest::Modify, *record);
}

void TrayTable::finalize(JNIEnv* env, uint32_t id) {
  LockGuard change(changeMutex_);
  Entry* entry = entryOf(id);
  if (entry == nullptr) return;
  TrayIconRecord* record = entry->record.get();
  if (record->shown) {
    notifyShell(ShellRequest::Delete, *record);
    record->shown = false;
  }
  destroyTrayIcon(record->icon);
  jobject object;
  {
    LockGuard lookup(lookupMutex_);
    object = entry->object;
    entries_.erase(entries_.begin() + (entry - entries_.data()));
  }
  // Only an explicit call reaches a shown icon here (the collector never
  // finalises one); its reference would otherwise keep the object forever.
  if (object != nullptr) env->DeleteGlobalRef(object);
}

void TrayTable::setCallback(JNIEnv* env, jobject callback) {
  jobject global = callback != nullptr ? env->NewGlobalRef(callback) : nullptr;
  jobject previous;
  {
    LockGuard lookup(lookupMutex_);
    previous = callback_;
    callback_ = global;
  }
  if (previous != nullptr) env->DeleteGlobalRef(previous);
  if (callback != nullptr) env->DeleteLocalRef(callback);
}

void TrayTable::removeAll() {
  LockGuard change(changeMutex_);
  if (removed_) return;
  removed_ = true;
  vm = nullptr;  // the VM is gone: later notifications are dropped
  std::vector<Entry> entries;
  {
    LockGuard lookup(lookupMutex_);
    entries.swap(entries_);
  }
  // The VM is gone by now, so the entries' Java references stay as they are.
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    if (it->record->shown) notifyShell(ShellRequest::Delete, *it->record);
    destroyTrayIcon(it->record->icon);
  }
}

jobject TrayTable::callback(JNIEnv* env) {
  LockGuard lookup(lookupMutex_);
  return callback_ != nullptr ? env->NewLocalRef(callback_) : nullptr;
}

bool TrayTable::hasCallback() {
  LockGuard lookup(lookupMutex_);
  return callback_ != nullptr;
}

bool TrayTable::objectOf(JNIEnv* env, uint32_t iconId, jobject& object) {
  object = nullptr;
  LockGuard lookup(lookupMutex_);
  for (const Entry& entry : entries_) {
    if (entry.record->id != iconId) continue;
    if (entry.object != nullptr) object = env->NewLocalRef(entry.object);
    return true;
  }
  return false;
}

}  // namespace qlx
