#!/usr/bin/env bash
# Runs every test: installs what is missing, builds, runs the whole CTest suite
# under a virtual X display (editor and Standalone tests open windows), then runs
# the tests again in the sanitizer builds (scripts/run-sanitizer-tests.sh).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${TESSALINE_BUILD_DIR:-$root/build}"

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"

jobs="${TESSALINE_TEST_JOBS:-$(nproc)}"
xvfb-run -a -s "-screen 0 1920x1080x24" \
    ctest --test-dir "$build" --output-on-failure --parallel "$jobs" --timeout 900

"$root/scripts/run-sanitizer-tests.sh"
