// The pop-up menus of SystemTrayMenu objects. Java objects hold ids, never
// menu handles: ids are never reused, so a finalised object reaches nothing,
// however often it is finalised. A menu is destroyed only once no live
// object holds it: a sub-menu attached to a parent that still lives stays
// until that parent goes, and a parent that goes first takes its sub-menus
// out before it is destroyed, so their own objects keep working menus.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "launcher/threading.h"

namespace qlx {

// What the table asks of the platform (tray_menu_win.cpp; inert on Linux).
struct MenuOps {
  intptr_t (*create)();
  void (*destroy)(intptr_t menu);
  void (*appendSubmenu)(intptr_t menu, const std::string& label, intptr_t submenu);
  void (*detachSubmenu)(intptr_t menu, intptr_t submenu);  // the item only
};
MenuOps platformMenuOps();

class MenuTable {
 public:
  explicit MenuTable(const MenuOps& ops) : ops_(ops) {}

  // A new menu's id, or 0 when no menu could be made.
  uint32_t create();
  // The menu handle of a live id (0 for an unknown or finalised one).
  intptr_t handleOf(uint32_t id);
  // Appends `child` as a sub-menu of `parent` (an unknown child gives an
  // item without one, as a null menu would).
  void appendSubmenu(uint32_t parent, const std::string& label, uint32_t child);
  // The object of `id` is finalised.
  void release(uint32_t id);

 private:
  struct Menu {
    intptr_t handle = 0;
    std::vector<uint32_t> children;  // once per sub-menu item
    int parents = 0;                 // items of live parents that show it
    bool released = false;
  };
  struct Entry {
    uint32_t id;
    Menu menu;
  };
  // Lock held. A program holds a few menus: a list searched in order costs
  // less than a tree, in time and in the stub's size.
  Menu* find(uint32_t id);
  void destroyIfUnheld(uint32_t id);

  MenuOps ops_;
  Lock mutex_;
  std::vector<Entry> menus_;  // in creation order
  uint32_t next_ = 1;
};

MenuTable& menuTable();

}  // namespace qlx
