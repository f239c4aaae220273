#!/usr/bin/env bash
# zorekctl.exe under Wine: zorekctl-test.sh FOLDER, the folder that holds
# zorekctl.exe, zorek-sim.dll and zorek.dll. Each case checks the output and
# the exit code; the last line says "zorek win32 result: PASS" or "FAIL" (an
# unhandled exception under Wine may end a program with exit code 0).
# zorek.dll runs with Wine's own winusb.dll, as on a machine without the
# instrument; no device is registered, so it finds none.
set -u
folder=$(cd "$1" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}winusb=b"

failures=0
shown="" out="" err="" code=0

fail() {
  echo "FAILED: $shown: $*"
  printf '  stdout: %s\n' "$out"
  printf '  stderr: %s\n' "$err"
  failures=$((failures + 1))
}

# run EXIT [ENV=VALUE...] -- ARGS...: runs zorekctl.exe from the folder and
# checks its exit code; its output, without carriage returns, is in out and err.
run() {
  local expected=$1 program=$folder/zorekctl.exe
  shift
  local env=()
  while [ "$1" != -- ]; do env+=("$1"); shift; done
  shift
  shown="zorekctl.exe $*"
  env ${env[@]+"${env[@]}"} wine "$program" "$@" >"$scratch/out" 2>"$scratch/err"
  code=$?
  out=$(tr -d '\r' <"$scratch/out")
  err=$(tr -d '\r' <"$scratch/err")
  [ "$code" -eq "$expected" ] || fail "exit code $code, expected $expected"
}

has_line() { grep -qxF -- "$1" <<<"$out" || fail "no line '$1' on standard output"; }
lines_are() { [ "$(grep -c '' <<<"$out")" -eq "$1" ] || fail "not $1 lines on standard output"; }
quiet() { [ -z "$err" ] || fail "standard error is not empty"; }
# The only line on standard error starts with $1 and ends with $2.
one_report() {
  [ "$(grep -c '' <<<"$err")" -eq 1 ] || fail "not one line on standard error"
  case "$err" in
    "$1"*"$2") ;;
    *) fail "standard error is not '$1...$2'" ;;
  esac
}

# A Windows path of a file in the scratch folder (Wine's drive Z: is /).
windows() { printf 'Z:%s\\%s' "${scratch//\//\\}" "$1"; }

# The built-in instrument, every kind of output.
run 0 -- --sim version
has_line "GetInterfaceVersion()"
has_line "  version: 258"
quiet

run 0 -- --sim id
has_line "GetDeviceID(USBID 0)"
has_line "  deviceID: 74565 (0x00012345)"
has_line "  result:   1 (success)"
has_line "  status:   0 (no connection stage failed)"
quiet

run 0 -- --sim --json temperature
lines_are 1
json='^\{"function":"GetTemperature","USBID":0,"result":1,"success":true,"status":0,'
json+='"statusText":"no connection stage failed","tmp1":([0-9]+),"tmp2":([0-9]+),"tmp3":([0-9]+)\}$'
if [[ "$out" =~ $json ]]; then
  for t in "${BASH_REMATCH[@]:1}"; do
    if [ "$t" -lt 1500 ] || [ "$t" -gt 3000 ]; then fail "temperature $t is out of the built-in range"; fi
  done
else
  fail "no GetTemperature object with result 1, status 0 and three temperatures"
fi
quiet

run 0 -- --sim list
has_line "index 0: deviceID 74565 (0x00012345)"
has_line "index 1: status 1 (no device at this index), end of list"
lines_are 2
quiet

run 0 -- --sim watch --count 3 --interval 0.05 --csv
has_line "time,tmp1,tmp2,tmp3,result,status"
lines_are 4
readings=$(grep -cE '^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:.]+Z,[0-9]+,[0-9]+,[0-9]+,1,0$' <<<"$out")
[ "$readings" -eq 3 ] || fail "$readings readings, not 3"
quiet

# A configuration as a Windows editor writes it (CRLF), named by a Windows path.
printf '{"devices": [\r\n  {"identification": {"deviceId": 4660}},\r\n  {"identification": {"deviceId": "0x10"}}\r\n]}\r\n' \
  >"$scratch/two.json"
run 0 -- --sim "$(windows two.json)" list
has_line "index 0: deviceID 4660 (0x00001234)"
has_line "index 1: deviceID 16 (0x00000010)"
has_line "index 2: status 1 (no device at this index), end of list"
quiet

# An access violation inside the simulated transfer fails the first reading
# with status 0; the process lives on and the next reading succeeds.
cat >"$scratch/fault.json" <<'EOF'
{"devices": [{"faults": [{"kind": "access-violation", "pipe": "read", "command": "status", "occurrence": 1}]}]}
EOF
run 1 -- --sim "$(windows fault.json)" watch --count 2 --interval 0.05 --csv
lines_are 3
grep -qE '^[^,]+,,,,0,0$' <<<"$(sed -n 2p <<<"$out")" || fail "the first reading did not fail with status 0"
grep -qE '^[^,]+,[0-9]+,[0-9]+,[0-9]+,1,0$' <<<"$(sed -n 3p <<<"$out")" || fail "the second reading failed"
quiet

# Bad configurations: reported once, naming the file and the key; no device.
echo '{"devices": [{"colour": "red"}]}' >"$scratch/unknown.json"
run 1 -- --sim "$(windows unknown.json)" id
has_line "  result: 0 (failure)"
has_line "  status: 1 (no device at this index)"
one_report "zorek-sim: $(windows unknown.json): devices[0].colour: unknown key (known here: " \
  "); presenting no device"

printf '{"devices": [' >"$scratch/invalid.json"
run 1 "ZOREK_SIM_CONFIG=$(windows invalid.json)" -- --sim watch --count 2 --interval 0.05 --csv
[ "$(grep -cE '^[^,]+,,,,0,1$' <<<"$out")" -eq 2 ] || fail "not two readings with result 0 and status 1"
one_report "zorek-sim: $(windows invalid.json): invalid JSON: parse error at line 1, column 14" \
  "; presenting no device"

# Usage errors.
run 2 -- power abc
one_line=$(head -n 1 <<<"$err")
expected="zorekctl: MODE: 'abc' is not a whole number that fits 32 bits (-2147483648 to 4294967295, or 0x0 to 0xFFFFFFFF)"
[ "$one_line" = "$expected" ] || fail "standard error does not start with \"$expected\""
grep -qxF "Usage: zorekctl power [OPTIONS] MODE" <<<"$err" || fail "no usage line for power"

run 2 -- frobnicate
[ "$(head -n 1 <<<"$err")" = "zorekctl: unknown subcommand 'frobnicate'" ] || fail "no message naming the subcommand"

# The default library, zorek.dll beside zorekctl.exe: no instrument here.
run 1 -- id
has_line "GetDeviceID(USBID 0)"
has_line "  result: 0 (failure)"
has_line "  status: 1 (no device at this index)"
quiet

# zorekctl.exe alone in a folder: no library beside it to load.
mkdir "$scratch/alone"
cp "$folder/zorekctl.exe" "$scratch/alone/"
folder_saved=$folder
folder=$scratch/alone
run 3 -- --sim id
folder=$folder_saved
case "$(head -n 1 <<<"$err")" in
  "zorekctl: cannot load $(windows alone)\\zorek-sim.dll: "?*) ;;
  *) fail "no message naming the missing zorek-sim.dll" ;;
esac
grep -qxF "zorekctl: --sim loads the simulated instrument from beside zorekctl" <<<"$err" || fail "no hint for --sim"

if [ "$failures" -eq 0 ]; then
  echo "zorek win32 result: PASS"
else
  echo "$failures checks failed"
  echo "zorek win32 result: FAIL"
fi
