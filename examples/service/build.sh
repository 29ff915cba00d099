#!/usr/bin/env bash
# Builds TickService.exe: a Windows service with a status handler that
# writes to the event log. Install it with "TickService.exe /install auto".
source "$(dirname "$0")/../common.sh"
build_example "$examples_dir/service" "${QLX_NAME:-TickService.exe}" \
  --service-name TickService --display-name "Tick Service" \
  --description "Counts seconds; an example of a Java service made with qlx" \
  --icon "$examples_dir/../resources/qlx.ico" \
  --file-version 1.0.0.0 --product-name "qlx examples" --company "Tarnwick" \
  --file-description "Tick Service" --copyright "Public domain example" \
  --execution-level asInvoker
