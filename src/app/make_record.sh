#!/bin/sh
# Wraps a BMP file into the stored picture record the main window reads at start: one byte 7,
# "TBitmap", the file's size as 32-bit little-endian, then the file itself.
# make_record.sh startup.bmp startup.rec
set -eu
size=$(wc -c < "$1")
{
  printf '\007TBitmap'
  /usr/bin/printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $((size & 255)) $((size >> 8 & 255)) \
    $((size >> 16 & 255)) $((size >> 24 & 255)))"
  cat "$1"
} > "$2"
