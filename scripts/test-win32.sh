#!/usr/bin/env bash
# The 32-bit Windows build and its Wine suite: builds zorek.dll, zorek-sim.dll
# and zorekctl.exe with the win32 preset, checks their exports and imports, and
# runs the suites under Wine in a throwaway prefix with one wineserver for the
# whole run.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-win32.sh

cmake --preset win32
cmake --build --preset win32

# The DLL names that a file imports, in lower case, or a failure when it has
# no import table; each must be one of the system DLLs given after the file.
check_imports() {
  local file=$1 dump imports name
  shift
  dump=$(i686-w64-mingw32-objdump -p "$file")
  imports=$(sed -n 's/^\tDLL Name: //p' <<<"$dump" | tr '[:upper:]' '[:lower:]' | sort | paste -sd' ')
  [ -n "$imports" ] || { echo "test-win32: no import table found in $file" >&2; return 1; }
  for name in $imports; do
    if ! printf '%s\n' "$@" | grep -qxF -- "$name"; then
      echo "test-win32: $file imports $name, which is no system DLL" >&2
      return 1
    fi
  done
  echo "test-win32: $file imports $imports"
}

# Exactly the eight exports at ordinals 1 to 8.
check_exports() {
  local dll=$1 dump exports ordinals expected_exports
  dump=$(i686-w64-mingw32-objdump -p "$dll")
  # Name table entries as ordinal:name; the address table as its ordinals.
  exports=$(awk '/^Ordinal Base/ { base = $3 }
                 /^\[Ordinal\/Name Pointer\] Table/ { table = 1; next }
                 table && /^\t\[ *[0-9]+\] / {
                   entry = $0; sub(/^\t\[ */, "", entry); split(entry, part, "] ")
                   print part[1] + base ":" part[2]; next }
                 table { table = 0 }' <<<"$dump" | paste -sd' ')
  ordinals=$(awk '/^Export Address Table -- Ordinal Base/ { table = 1; next }
                  table && /\+base\[/ { sub(/.*\+base\[ */, ""); sub(/\].*/, ""); print; next }
                  table { table = 0 }' <<<"$dump" | paste -sd' ')
  expected_exports="1:DevicePWR 2:GetDeviceID 3:GetExternalInput 4:GetInterfaceVersion 5:GetTemperature"
  expected_exports+=" 6:GetWriteValue 7:SetDisplay 8:SetMainValue"
  if [ "$exports" != "$expected_exports" ] || [ "$ordinals" != "1 2 3 4 5 6 7 8" ]; then
    echo "test-win32: $dll exports \"$exports\" (address table: ordinals $ordinals)," >&2
    echo "test-win32: expected \"$expected_exports\" and nothing else" >&2
    return 1
  fi
  echo "test-win32: $dll exports the eight functions at ordinals 1-8"
}

check_exports build/win32/bin/zorek.dll
check_imports build/win32/bin/zorek.dll kernel32.dll msvcrt.dll setupapi.dll winusb.dll
check_exports build/win32/bin/zorek-sim.dll
check_imports build/win32/bin/zorek-sim.dll kernel32.dll msvcrt.dll
check_imports build/win32/bin/zorekctl.exe kernel32.dll msvcrt.dll

# zorek-sim.dll's version resource, decompiled.
resource=$(i686-w64-mingw32-windres -i build/win32/bin/zorek-sim.dll -O rc)
for expected in 'FILEVERSION 1, 0, 2, 0' 'PRODUCTVERSION 1, 0, 2, 0' 'VALUE "FileVersion", "1, 0, 2, 0"' \
  'VALUE "OriginalFilename", "zorek-sim.dll"'; do
  if ! grep -qF -- "$expected" <<<"$resource"; then
    echo "test-win32: the version resource of zorek-sim.dll lacks '$expected':" >&2
    echo "$resource" >&2
    exit 1
  fi
done
echo "test-win32: zorek-sim.dll carries version 1.0.2.0"

# Wine: 32-bit, quiet, no desktop integration, no Mono or Gecko installers.
WINEPREFIX=$(mktemp -d /tmp/zorek-wine.XXXXXX)
export WINEPREFIX WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
unset DISPLAY WAYLAND_DISPLAY
finish() {
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX" "$WINEPREFIX.boot.log"
}
trap finish EXIT
# One wineserver for the whole run; it stays up between the programs.
wineserver -p
if ! timeout 300 wineboot -i >"$WINEPREFIX.boot.log" 2>&1; then
  cat "$WINEPREFIX.boot.log" >&2
  echo "test-win32: wineboot failed" >&2
  exit 1
fi

ctest --preset win32
