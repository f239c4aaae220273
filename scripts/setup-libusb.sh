#!/usr/bin/env bash
# Installs what the Linux library and its tests need besides the common set:
# libusb-1.0 and umockdev.
set -euo pipefail
exec bash "$(dirname "$0")/setup.sh" gcc libusb-1.0-0-dev umockdev libumockdev-dev
