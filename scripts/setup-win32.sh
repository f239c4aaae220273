#!/usr/bin/env bash
# Installs what the 32-bit Windows build and its Wine suite need, when run as
# root and only what is missing: the MinGW-w64 cross compiler for i686, Wine
# from Debian's i386 architecture and, on a machine whose kernel cannot run
# i386 programs, a user-mode emulator that Wine's 32-bit loader can run under.
# Idempotent; without root it only reports what is absent.
set -euo pipefail

packages=(cmake make googletest g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32:i386 wine64)
# Wine needs qemu 8.1 or later: 7.2 cannot map Wine's shared user data.
qemu_minimum_major=8
qemu_minimum_minor=1

say() { echo "setup-win32: $*" >&2; }

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

root() { [ "$(id -u)" -eq 0 ]; }

apt_updated=false
apt_update() {
  $apt_updated && return 0
  apt-get update -qq
  apt_updated=true
}

# Prints the version of a qemu-i386 binary as "MAJOR MINOR", or nothing.
qemu_version() {
  "$1" --version 2>/dev/null | sed -n 's/^qemu-i386 version \([0-9]*\)\.\([0-9]*\).*/\1 \2/p' | head -n 1
}

qemu_good() {
  local version major minor
  version=$(qemu_version "$1") || return 1
  [ -n "$version" ] || return 1
  read -r major minor <<<"$version"
  [ "$major" -gt "$qemu_minimum_major" ] ||
    { [ "$major" -eq "$qemu_minimum_major" ] && [ "$minor" -ge "$qemu_minimum_minor" ]; }
}

# The backports suite of this release, with the same mirror and key as the
# release's own main suite, added once as a source of its own.
add_backports_source() {
  local codename="$1" suite="$1-backports" list=/etc/apt/sources.list.d/zorek-backports.sources
  if grep -rqs -- "$suite" /etc/apt/sources.list /etc/apt/sources.list.d/; then return 0; fi
  local uri="" signed=""
  local file
  for file in /etc/apt/sources.list.d/*.sources; do
    [ -e "$file" ] || continue
    # deb822 stanzas: the first one of type deb whose suites name the release.
    read -r uri signed < <(awk -v release="$codename" '
      function flush() {
        if (types ~ /(^| )deb( |$)/ && (" " suites " ") ~ (" " release " ") && uri == "") { uri = uris; key = signed }
        types = suites = uris = signed = ""
      }
      /^[[:space:]]*$/ { flush(); next }
      /^Types:/ { sub(/^Types:[[:space:]]*/, ""); types = $0 }
      /^Suites:/ { sub(/^Suites:[[:space:]]*/, ""); suites = $0 }
      /^URIs:/ { sub(/^URIs:[[:space:]]*/, ""); split($0, u, " "); uris = u[1] }
      /^Signed-By:/ { sub(/^Signed-By:[[:space:]]*/, ""); signed = $0 }
      END { flush(); if (uri != "") print uri, key }' "$file") || true
    [ -n "$uri" ] && break
  done
  if [ -z "$uri" ]; then
    uri=$(awk -v release="$codename" '$1 == "deb" {
            i = 2; if ($2 ~ /^\[/) { while (i <= NF && $i !~ /\]$/) i++; i++ }
            if ($(i + 1) == release) { print $i; exit } }' \
      /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null || true)
  fi
  if [ -z "$uri" ]; then
    say "no apt source for $codename found to derive the $suite mirror from"
    return 1
  fi
  say "adding apt source $suite"
  {
    echo "Types: deb"
    echo "URIs: $uri"
    echo "Suites: $suite"
    echo "Components: main"
    [ -n "$signed" ] && echo "Signed-By: $signed"
  } >"$list"
  apt_updated=false
}

# --- packages -------------------------------------------------------------
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  root || { say "the i386 architecture is not enabled (run as root to enable it)"; exit 1; }
  dpkg --add-architecture i386
fi
missing=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done
if [ ${#missing[@]} -gt 0 ]; then
  root || { say "missing packages (run as root to install): ${missing[*]}"; exit 1; }
  export DEBIAN_FRONTEND=noninteractive
  apt_update
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# --- running i386 programs ------------------------------------------------
binfmt=/proc/sys/fs/binfmt_misc
conf=/usr/share/qemu/binfmt.d/qemu-i386.conf
# The handler is enabled and is the entry that the installed qemu ships (its
# interpreter tells qemu by its name how the kernel passes the arguments).
registered() {
  [ -r "$binfmt/qemu-i386" ] && [ -r "$conf" ] || return 1
  grep -qx enabled "$binfmt/qemu-i386" || return 1
  local interpreter
  interpreter=$(sed -n 's/^interpreter //p' "$binfmt/qemu-i386")
  [ "$interpreter" = "$(cut -d: -f7 "$conf")" ] && qemu_good "$(readlink -f "$interpreter")"
}
native_i386() { [ ! -e "$binfmt/qemu-i386" ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1; }

if registered || native_i386; then exit 0; fi
root || { say "this kernel runs no i386 programs and no qemu-i386 handler is registered (run as root)"; exit 1; }

if ! { [ -x /usr/bin/qemu-i386 ] && qemu_good /usr/bin/qemu-i386; }; then
  export DEBIAN_FRONTEND=noninteractive
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  target=()
  if [ "$codename" = bookworm ]; then
    add_backports_source "$codename"
    target=(-t "$codename-backports")
  fi
  apt_update
  apt-get install -y -qq --no-install-recommends "${target[@]}" qemu-user
fi
qemu_good /usr/bin/qemu-i386 || { say "qemu-i386 is older than $qemu_minimum_major.$qemu_minimum_minor"; exit 1; }

mountpoint -q "$binfmt" || mount -t binfmt_misc binfmt_misc "$binfmt"
# A handler left by another package (an older qemu) is replaced by this one.
[ -e "$binfmt/qemu-i386" ] && echo -1 >"$binfmt/qemu-i386"
[ -r "$conf" ] || { say "qemu-user ships no binfmt entry for i386 ($conf)"; exit 1; }
# Debian does not activate this entry on amd64, whose kernels usually run i386
# programs themselves; flags O, P and F as shipped.
cat "$conf" >"$binfmt/register"
registered || { say "registering qemu-i386 with binfmt_misc failed"; exit 1; }
/lib/ld-linux.so.2 --version >/dev/null || { say "i386 programs still do not run"; exit 1; }
say "i386 programs run under $(qemu_version /usr/bin/qemu-i386 | tr ' ' .) qemu-i386"
