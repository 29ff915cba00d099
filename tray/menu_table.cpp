// The menu table's rules: ids, and when a menu may be destroyed.
#include "tray/menu_table.h"

#include "tray/tray.h"

namespace qlx {

MenuOps platformMenuOps() {
  return MenuOps{createPopupMenu, destroyMenu, appendSubmenu, detachSubmenu};
}

uint32_t MenuTable::create() {
  const intptr_t handle = ops_.create();
  if (handle == 0) return 0;
  LockGuard lock(mutex_);
  const uint32_t id = next_++;
  menus_[id].handle = handle;
  return id;
}

intptr_t MenuTable::handleOf(uint32_t id) {
  LockGuard lock(mutex_);
  auto found = menus_.find(id);
  return found == menus_.end() || found->second.released ? 0 : found->second.handle;
}

void MenuTable::appendSubmenu(uint32_t parent, const std::string& label, uint32_t child) {
  LockGuard lock(mutex_);
  auto parentMenu = menus_.find(parent);
  if (parentMenu == menus_.end() || parentMenu->second.released) return;
  auto childMenu = menus_.find(child);
  if (childMenu == menus_.end() || childMenu->second.released || child == parent) {
    ops_.appendSubmenu(parentMenu->second.handle, label, 0);
    return;
  }
  ops_.appendSubmenu(parentMenu->second.handle, label, childMenu->second.handle);
  parentMenu->second.children.push_back(child);
  ++childMenu->second.parents;
}

void MenuTable::release(uint32_t id) {
  LockGuard lock(mutex_);
  auto found = menus_.find(id);
  if (found == menus_.end() || found->second.released) return;
  found->second.released = true;
  destroyIfUnheld(id);
}

void MenuTable::destroyIfUnheld(uint32_t id) {
  auto found = menus_.find(id);
  if (found == menus_.end() || !found->second.released || found->second.parents > 0) return;
  Menu menu = found->second;
  menus_.erase(found);
  // Destroying a menu destroys the sub-menus it shows: they leave it first.
  for (uint32_t child : menu.children) {
    auto childMenu = menus_.find(child);
    if (childMenu == menus_.end()) continue;
    ops_.detachSubmenu(menu.handle, childMenu->second.handle);
    --childMenu->second.parents;
    destroyIfUnheld(child);
  }
  ops_.destroy(menu.handle);
}

MenuTable& menuTable() {
  static MenuTable* const table = new MenuTable(platformMenuOps());  // natives may run at exit
  return *table;
}

}  // namespace qlx
