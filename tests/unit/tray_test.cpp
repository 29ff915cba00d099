// The tray's portable rules: text cutting on character boundaries, the
// structure size, the command range, and icon records in the table.
#include <gtest/gtest.h>

#include <clocale>
#include <cstring>

#include "tray/menu_table.h"
#include "tray/tray_table.h"

namespace qlx {
namespace {

// Code page 932's rule: 0x81-0x9F and 0xE0-0xFC lead a two-byte character.
size_t shiftJisLength(const char* text, size_t available) {
  const unsigned char lead = static_cast<unsigned char>(text[0]);
  const bool twoBytes = (lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC);
  return twoBytes && available >= 2 ? 2 : 1;
}

TEST(TrayTest, TextsAreCutBeforeTheFirstCharacterThatDoesNotFit) {
  const std::string hundred(100, 'x');
  const std::string kanji = "\x95\x5C";  // one character whose trail byte is '\'
  struct Case {
    const char* name;
    std::string text;
    size_t capacity;
    CharacterLength length;
    std::string expected;
  } cases[] = {
      {"tool tip of 100", hundred, 64, shiftJisLength, hundred.substr(0, 63)},
      {"balloon text of 300", std::string(300, 'y'), 256, shiftJisLength, std::string(255, 'y')},
      {"fits exactly", std::string(63, 'z'), 64, shiftJisLength, std::string(63, 'z')},
      {"double byte on the edge", std::string(62, 'a') + kanji, 64, shiftJisLength,
       std::string(62, 'a')},
      {"double byte inside", std::string(61, 'a') + kanji + "b", 64, shiftJisLength,
       std::string(61, 'a') + kanji},
      {"utf-8 on the edge", std::string(62, 'a') + "\xC3\xA9", 64, localeCharacterLength,
       std::string(62, 'a')},
      {"stops at a zero byte", std::string("ab\0cd", 5), 64, shiftJisLength, "ab"},
      {"empty", "", 64, shiftJisLength, ""},
  };
  setlocale(LC_ALL, "C.UTF-8");
  for (const Case& c : cases) {
    char field[256];
    std::memset(field, 'Q', sizeof field);
    copyCutText(field, c.capacity, c.text, c.length);
    EXPECT_EQ(std::string(field), c.expected) << c.name;
  }
  setlocale(LC_ALL, "C");
}

TEST(TrayTest, BalloonsNeedShellFiveAndBothTextsAndOnlyItemsUpTo1000Reach) {
  EXPECT_EQ(recordSizeFor(5, true, true), 504u);
  EXPECT_EQ(recordSizeFor(6, true, true), 504u);
  EXPECT_EQ(recordSizeFor(4, true, true), 104u);
  EXPECT_EQ(recordSizeFor(6, true, false), 104u);
  EXPECT_EQ(recordSizeFor(6, false, true), 104u);
  struct Command {
    uintptr_t wParam;
    bool reaches;
  } commands[] = {{50000, true}, {51000, true}, {50003, true}, {49999, false},
                  {51001, false}, {0, false},   {UINTPTR_MAX, false}};
  for (const Command& c : commands) EXPECT_EQ(isMenuCommand(c.wParam), c.reaches) << c.wParam;
}

TEST(TrayTest, RecordsCountFromOneAndHiddenOnesIgnoreChange) {
  TrayTable table;
  const std::string tip = "tip", info = "info", title = "title", other = "other";
  TrayIconRecord* first = table.add(1, {&tip, nullptr, nullptr}, 0);
  TrayIconRecord* second = table.add(1, {&tip, &info, &title}, 2);
  EXPECT_EQ(first->id, 1u);
  EXPECT_EQ(second->id, 2u);
  EXPECT_EQ(second->size, 104u);  // no shell 5 without a shell
  EXPECT_STREQ(second->info, "info");
  EXPECT_EQ(second->infoFlags, 2u);
  EXPECT_FALSE(second->shown);
  table.change(second->id, 0, {&other, &other, &other}, 3);
  EXPECT_STREQ(second->tip, "tip");
  EXPECT_STREQ(second->infoTitle, "title");
  EXPECT_EQ(second->infoFlags, 2u);
  table.finalize(nullptr, first->id);  // hidden: no reference to release
  table.finalize(nullptr, first->id);  // gone: nothing happens
  EXPECT_EQ(table.add(1, {}, 0)->id, 3u);
  table.finalize(nullptr, second->id);
  EXPECT_EQ(table.add(1, {}, 0)->id, 4u);  // ids of finalised icons never come back
}

// A fake platform that hands out menu numbers and logs what is done to them.
std::string gMenuLog;
intptr_t gNextMenu = 100;
intptr_t fakeCreate() { return gNextMenu++; }
void fakeDestroy(intptr_t menu) { gMenuLog += "destroy " + std::to_string(menu) + ";"; }
void fakeAppend(intptr_t menu, const std::string& label, intptr_t submenu) {
  gMenuLog += "append " + std::to_string(menu) + " " + label + " " + std::to_string(submenu) + ";";
}
void fakeDetach(intptr_t menu, intptr_t submenu) {
  gMenuLog += "detach " + std::to_string(menu) + " " + std::to_string(submenu) + ";";
}

TEST(TrayTest, MenusAreDestroyedOnlyWhenNoLiveObjectHoldsThem) {
  struct Case {
    const char* name;
    // Steps: 'P' parent finalised, 'C' child finalised (each may repeat).
    const char* steps;
    const char* log;  // after the child was appended (menus 100 parent, 101 child)
  } cases[] = {
      {"parent first keeps the child's menu", "PC",
       "detach 100 101;destroy 100;destroy 101;"},
      {"child first waits for its parent", "CP", "detach 100 101;destroy 101;destroy 100;"},
      {"repeated finalisation does nothing more", "PPCC",
       "detach 100 101;destroy 100;destroy 101;"},
      {"a child alone is kept", "C", ""},
  };
  for (const Case& c : cases) {
    gNextMenu = 100;
    gMenuLog.clear();
    MenuTable table({fakeCreate, fakeDestroy, fakeAppend, fakeDetach});
    const uint32_t parent = table.create(), child = table.create();
    table.appendSubmenu(parent, "sub", child);
    table.appendSubmenu(parent, "self", parent);  // never a menu inside itself
    table.appendSubmenu(parent, "gone", 77);
    EXPECT_EQ(gMenuLog, "append 100 sub 101;append 100 self 0;append 100 gone 0;") << c.name;
    gMenuLog.clear();
    for (const char* step = c.steps; *step; ++step) table.release(*step == 'P' ? parent : child);
    EXPECT_EQ(gMenuLog, c.log) << c.name;
    EXPECT_EQ(table.handleOf(*c.steps == 'P' ? parent : child), 0) << c.name;
  }
  gNextMenu = 100;
  MenuTable table({fakeCreate, fakeDestroy, fakeAppend, fakeDetach});
  const uint32_t first = table.create();
  table.release(first);
  EXPECT_GT(table.create(), first);  // ids are never reused
}

}  // namespace
}  // namespace qlx
