// The tray table: every icon record of the process in creation order, with
// the Java object of each shown icon, the one tray callback object and the
// JavaVM the window thread calls into.
//
// Java threads change the table through the natives while the window thread
// looks icons up for its notifications, so two locks guard it. The change
// lock serialises the natives and the clean-up, and is held across shell
// calls; the window thread never takes it, so a shell that sends messages
// back to the window cannot deadlock against a native. The lookup lock
// guards what the window thread reads (the entries and the Java
// references) and is held only for a few instructions. No Java code runs
// under either lock: the callback may call the natives again.
#pragma once

#include <jni.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "launcher/threading.h"
#include "tray/tray.h"

namespace qlx {

// Texts of init and Change; null where Java passed null.
struct TrayTexts {
  const std::string* tip = nullptr;
  const std::string* info = nullptr;
  const std::string* infoTitle = nullptr;
};

class TrayTable {
 public:
  // --- the natives ---------------------------------------------------------
  // A new hidden record with the next icon id, which the caller stores in
  // `h`. Ids are never reused, so an object whose record is gone can never
  // reach a newer icon. The record stays valid until it is finalised.
  TrayIconRecord* add(int iconId, const TrayTexts& texts, int infoFlags);
  // Each does nothing for an id that is not in the table (never made here,
  // or finalised already), so a stale or forged `h` touches nothing.
  void show(JNIEnv* env, jobject self, uint32_t id);
  void hide(JNIEnv* env, uint32_t id);
  void change(uint32_t id, int iconId, const TrayTexts& texts, int infoFlags);
  void finalize(JNIEnv* env, uint32_t id);
  void setCallback(JNIEnv* env, jobject callback);
  void removeAll();

  // --- the window thread ---------------------------------------------------
  // New local references (null when there is none).
  jobject callback(JNIEnv* env);
  // The Java object of the first record with this id: false when there is
  // no such record; `object` is null while that icon is hidden.
  bool objectOf(JNIEnv* env, uint32_t iconId, jobject& object);
  bool hasCallback();

  std::atomic<JavaVM*> vm{nullptr};  // from the first init

 private:
  struct Entry {
    std::unique_ptr<TrayIconRecord> record;
    jobject object = nullptr;  // global reference while shown
  };
  Entry* entryOf(uint32_t id);  // change lock held

  Lock changeMutex_;
  Lock lookupMutex_;
  std::vector<Entry> entries_;
  uint32_t nextId_ = 1;
  jobject callback_ = nullptr;  // global reference
  bool removed_ = false;
};

TrayTable& trayTable();

}  // namespace qlx
