#!/usr/bin/env bash
# Builds TrayApp.exe: an icon in the notification area with a menu.
source "$(dirname "$0")/../common.sh"
build_example "$examples_dir/tray" "${QLX_NAME:-TrayApp.exe}" \
  --icon "$examples_dir/../resources/qlx.ico" \
  --file-version 1.0.0.0 --product-name "qlx examples" --file-description "Tray example"
