#!/usr/bin/env bash
# The Linux library: builds libzorek.so over libusb-1.0, runs its suites on
# emulated USB devices, checks what it exports, installs it into a staging
# prefix and builds a small host program against that installation.
set -euo pipefail
cd "$(dirname "$0")/.."

fail() {
  echo "test-libusb: $*" >&2
  exit 1
}

bash scripts/setup-libusb.sh

cmake --preset linux
cmake --build --preset linux
ctest --preset linux

library=build/linux/bin/libzorek.so
expected="DevicePWR GetDeviceID GetExternalInput GetInterfaceVersion GetTemperature GetWriteValue SetDisplay SetMainValue"
exported=$(nm -D --defined-only "$library" | awk '{print $NF}' | sort | xargs)
[ "$exported" = "$expected" ] || fail "libzorek.so exports \"$exported\", expected \"$expected\""
soname=$(readelf -d "$library" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
[ "$soname" = libzorek.so.1 ] || fail "libzorek.so has SONAME \"$soname\", expected libzorek.so.1"
echo "test-libusb: libzorek.so ($soname) exports the eight functions and nothing else"

stage=$PWD/build/linux-stage
consumer=$PWD/build/linux-consumer
rm -rf "$stage" "$consumer"
cmake --install build/linux --prefix "$stage"
[ -f "$stage/include/zorek.h" ] || fail "the installation lacks include/zorek.h"
libdir=$(dirname "$(find "$stage" -name libzorek.so -print -quit)")
[ -f "$libdir/libzorek.so.1.0.2" ] || fail "the installation lacks libzorek.so.1.0.2"

# find_package(zorek) from the staging prefix.
cmake -S tests/libusb/consumer -B "$consumer" -DCMAKE_PREFIX_PATH="$stage"
cmake --build "$consumer"
"$consumer/consumer"

# pkg-config from the staging prefix.
flags=$(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --cflags --libs zorek)
cc -std=c99 -Wall -Wextra -Werror tests/libusb/consumer/consumer.c $flags -o "$consumer/consumer-pkg-config"
LD_LIBRARY_PATH="$libdir" "$consumer/consumer-pkg-config"
echo "test-libusb: the installation serves find_package(zorek) and pkg-config"

# The installed library in another process, on an emulated instrument.
emulator=build/linux/platform/libusb/tests/zorek-usb-emulator
output=$("$emulator" --devices 1 -- "$consumer/consumer")
echo "$output"
[[ $output == *"device 0: result 1, status 0"* ]] || fail "the consumer did not read the emulated instrument"

# zorekctl loads libzorek.so beside it by default.
output=$("$emulator" --devices 2 -- build/linux/bin/zorekctl list)
echo "$output"
[[ $output == *"0x00010000"* && $output == *"0x00010001"* ]] || fail "zorekctl list did not show both emulated instruments"
output=$("$emulator" --devices 1 -- build/linux/bin/zorekctl --json temperature)
echo "$output"
[[ $output == *'"result":1'* ]] || fail "zorekctl temperature did not read the emulated instrument"
echo "test-libusb: zorekctl runs against the emulated instrument with libzorek.so"
