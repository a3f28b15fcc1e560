#!/usr/bin/env bash
# Builds Korvex twice, normally and with AddressSanitizer + UndefinedBehaviorSanitizer,
# and runs the whole test suite through ctest in both builds.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bash "$here/scripts/install-deps.sh"
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}

bash "$here/scripts/build.sh" "$here/build"
(cd "$here/build" && ctest --output-on-failure -j 2)

bash "$here/scripts/build.sh" "$here/build-asan" -DKORVEX_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
# The huge programs' suite measures memory and streams ten million lines: the plain build only.
# The rendering suites too: under the sanitizers' timing, Qt3D's renderer now and then deadlocks while
# a test tears down a window it has just made (QRenderAspect::onUnregistered waiting for a render
# thread that waits for a lock), and the suite hangs until its time-out.
(cd "$here/build-asan" && ctest --output-on-failure -j 2 -LE "huge|gl")
