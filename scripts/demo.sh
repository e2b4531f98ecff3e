#!/usr/bin/env bash
# Builds everything and starts the demo.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/build.sh"
exec "${ORB_BUILD_DIR:-$root/build}/app/orb2k16"
