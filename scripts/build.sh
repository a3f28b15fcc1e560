#!/usr/bin/env bash
# build.sh DIR [cmake options...]: configures and builds Korvex into DIR.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dir=$1; shift
cmake -S "$here" -B "$dir" -G Ninja "$@"
cmake --build "$dir" -j "$(nproc)"
