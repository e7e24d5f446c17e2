#!/bin/sh
# Builds the native-fuzz preset and runs one fuzzer for N seconds on its seed corpus:
#   fuzz/run.sh bitmap_loadstream|picture_record|helper_answer|korzip_archive [SECONDS] [BUILD_DIR]
# The seeds are the BMP files of the writers test (generated into the corpus folder on first
# use), for the picture record the same files wrapped as stored "TBitmap" records, and for the
# archive small ZIP archives of zipfile's and Info-ZIP's.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
target=${1:?target: bitmap_loadstream or picture_record}
seconds=${2:-60}
build=${3:-$here/build/native-fuzz}
cd "$here"
cmake --preset native-fuzz -B "$build" >/dev/null
cmake --build "$build" --target "fuzz_$target" -j2
corpus=$build/corpus/$target
seeds=$build/corpus/seeds
if [ ! -d "$seeds" ] || ! ls "$seeds"/zip-* >/dev/null 2>&1; then
  mkdir -p "$seeds"
  /usr/bin/python3 "$here/fuzz/make_seeds.py" "$seeds"
fi
if [ ! -d "$corpus" ]; then
  mkdir -p "$corpus"
  case "$target" in
    picture_record) cp "$seeds"/record-* "$corpus"/ ;;
    helper_answer) cp "$seeds"/answer-* "$corpus"/ ;;
    korzip_archive) cp "$seeds"/zip-* "$corpus"/ ;;
    *) cp "$seeds"/bmp-* "$corpus"/ ;;
  esac
fi
# Keep the whole corpus in memory well under the machine's limit; the bitmap refuses more than
# 1 GiB of rows before allocating.
exec "$build/bin/fuzz_$target" -max_total_time="$seconds" -rss_limit_mb=3072 -malloc_limit_mb=1200 \
  -max_len=65536 -print_final_stats=1 "$corpus"
