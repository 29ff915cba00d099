#!/usr/bin/env bash
# Builds Opener.exe: a tool of which only one instance runs; a second start
# hands its arguments to the first, prints the first one's answer and ends
# with exit code 13.
source "$(dirname "$0")/../common.sh"
build_example "$examples_dir/single-instance" "${QLX_NAME:-Opener.exe}" \
  --icon "$examples_dir/../resources/qlx.ico" \
  --file-version 1.0.0.0 --product-name "qlx examples" --file-description "Opener"
