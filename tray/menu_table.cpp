// The menu table's rules: ids, and when a menu may be destroyed.
#include "tray/menu_table.h"

#include <cstddef>

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
  menus_.push_back(Entry{id, Menu{}});
  menus_.back().menu.handle = handle;
  return id;
}

MenuTable::Menu* MenuTable::find(uint32_t id) {
  for (Entry& entry : menus_) {
    if (entry.id == id) return &entry.menu;
  }
  return nullptr;
}

intptr_t MenuTable::handleOf(uint32_t id) {
  LockGuard lock(mutex_);
  const Menu* found = find(id);
  return found == nullptr || found->released ? 0 : found->handle;
}

void MenuTable::appendSubmenu(uint32_t parent, const std::string& label, uint32_t child) {
  LockGuard lock(mutex_);
  Menu* parentMenu = find(parent);
  if (parentMenu == nullptr || parentMenu->released) return;
  Menu* childMenu = find(child);
  if (childMenu == nullptr || childMenu->released || child == parent) {
    ops_.appendSubmenu(parentMenu->handle, label, 0);
    return;
  }
  ops_.appendSubmenu(parentMenu->handle, label, childMenu->handle);
  parentMenu->children.push_back(child);
  ++childMenu->parents;
}

void MenuTable::release(uint32_t id) {
  LockGuard lock(mutex_);
  Menu* found = find(id);
  if (found == nullptr || found->released) return;
  found->released = true;
  destroyIfUnheld(id);
}

void MenuTable::destroyIfUnheld(uint32_t id) {
  size_t index = 0;
  while (index < menus_.size() && menus_[index].id != id) ++index;
  if (index == menus_.size()) return;
  const Menu& found = menus_[index].menu;
  if (!found.released || found.parents > 0) return;
  const Menu menu = found;
  menus_.erase(menus_.begin() + static_cast<std::ptrdiff_t>(index));
  // Destroying a menu destroys the sub-menus it shows: they leave it first.
  for (uint32_t child : menu.children) {
    Menu* childMenu = find(child);
    if (childMenu == nullptr) continue;
    ops_.detachSubmenu(menu.handle, childMenu->handle);
    --childMenu->parents;
    destroyIfUnheld(child);
  }
  ops_.destroy(menu.handle);
}

MenuTable& menuTable() {
  static MenuTable* const table = new MenuTable(platformMenuOps());  // natives may run at exit
  return *table;
}

}  // namespace qlx
