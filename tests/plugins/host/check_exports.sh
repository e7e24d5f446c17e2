#!/bin/sh
# Checks with objdump -p that every fixture plug-in exports its entry points by their plain
# names (no stdcall "@N" decoration) and imports only system DLLs.
objdump=$1 dir=$2
# objdump translates its headings; the table is found by its English one.
export LC_ALL=C
status=0 count=0
for spi in "$dir"/fx_*.spi; do
  "$objdump" -p "$spi" >/dev/null 2>&1 || continue  # the fixture that is not a library
  count=$((count + 1))
  exports=$("$objdump" -p "$spi" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p')
  if echo "$exports" | grep -q '@'; then
    echo "decorated export in $spi:"; echo "$exports"; status=1
  fi
  case $(basename "$spi") in
    fx_nogpi.spi) ;;
    *) echo "$exports" | grep -qw GetPluginInfo || { echo "no GetPluginInfo in $spi"; status=1; } ;;
  esac
  if "$objdump" -p "$spi" | grep 'DLL Name:' | grep -viqE 'kernel32|msvcrt|user32|api-ms-win'; then
    echo "non-system import in $spi:"; "$objdump" -p "$spi" | grep 'DLL Name:'; status=1
  fi
done
[ "$count" -gt 0 ] || { echo "no fixture plug-ins in $dir"; exit 1; }
echo "$count plug-ins checked"
exit $status
