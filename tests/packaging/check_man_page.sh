#!/bin/sh
# Formats one manual page with every groff warning switched on and fails on
# any message, so a markup slip shows here rather than as a garbled page.
#   check_man_page.sh PAGE
if ! command -v groff >/dev/null 2>&1; then
  echo "SKIP: groff is not installed (./test.sh installs groff-base)"
  exit 77
fi
messages=$(groff -Tutf8 -man -ww -z "$1" 2>&1)
if [ -n "$messages" ]; then
  printf '%s\n' "$messages"
  exit 1
fi
