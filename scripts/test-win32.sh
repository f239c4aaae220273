#!/usr/bin/env bash
# The 32-bit Windows build and its Wine suite: builds zorek.dll with the win32
# preset, checks its exports and imports, and runs the suites under Wine in a
# throwaway prefix with one wineserver for the whole run.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-win32.sh

cmake --preset win32
cmake --build --preset win32

# Exactly the eight exports at ordinals 1 to 8, and system DLLs only.
dll=build/win32/bin/zorek.dll
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
  exit 1
fi
imports=$(sed -n 's/^\tDLL Name: //p' <<<"$dump" | tr '[:upper:]' '[:lower:]' | sort | paste -sd' ')
[ -n "$imports" ] || { echo "test-win32: no import table found in $dll" >&2; exit 1; }
for name in $imports; do
  case "$name" in
    kernel32.dll | msvcrt.dll | setupapi.dll | winusb.dll) ;;
    *) echo "test-win32: $dll imports $name, which is no system DLL" >&2; exit 1 ;;
  esac
done
echo "test-win32: $dll exports the eight functions at ordinals 1-8 and imports $imports"

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
