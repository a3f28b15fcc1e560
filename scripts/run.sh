#!/usr/bin/env bash
# Builds Korvex and starts it with its embedded defaults: the simulated controller on a
# pseudo-terminal and the local calculation server. Without a display it runs under Xvfb.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bash "$here/scripts/install-deps.sh"
bash "$here/scripts/build.sh" "$here/build"

runtime=$(mktemp -d)
cleanup() { kill $(jobs -p) 2>/dev/null || true; rm -rf "$runtime"; }
trap cleanup EXIT

# Configured like the Korvex board: homing enabled, so the controller starts locked until "$H".
"$here/build/grblsim" --link "$runtime/ttyKorvex" --log "$runtime/grblsim.log" --time-scale 1 --setting 22=1 &
for _ in $(seq 50); do [ -e "$runtime/ttyKorvex" ] && break; sleep 0.1; done
if [ -x "$here/build/korvex-calcd" ]; then
    "$here/build/korvex-calcd" --exit-with-parent &
fi

export KORVEX_PORT="$runtime/ttyKorvex"
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$runtime}
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    xvfb-run -a -s "-screen 0 1280x800x24" "$here/build/korvex"
else
    "$here/build/korvex"
fi
