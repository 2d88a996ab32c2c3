#!/usr/bin/env bash
# Runs every test: installs what is missing, builds, runs the whole CTest suite
# under a virtual X display (editor and Standalone tests open windows), runs the
# processor tests again in the portable build (the framework's own FFT instead of
# FFTW, as a build for distribution under other terms uses), then runs the tests
# again in the sanitizer builds (scripts/run-sanitizer-tests.sh).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${TESSALINE_BUILD_DIR:-$root/build}"

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"

jobs="${TESSALINE_TEST_JOBS:-$(nproc)}"
# The virtual display keeps xvfb-run's default screen (1280 x 1024), the size users
# get when they run the suite by hand: no test may depend on a larger one.
xvfb-run -a \
    ctest --test-dir "$build" --output-on-failure --parallel "$jobs" --timeout 900

# The portable build: only the processor test programs (and what they link).
portable="$root/build-portable"
generator=()
if command -v ninja >/dev/null 2>&1 && [ ! -f "$portable/CMakeCache.txt" ]; then generator=(-G Ninja); fi
cmake -S "$root" -B "$portable" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release -DTESSALINE_USE_FFTW=OFF
if grep -q '^CMAKE_GENERATOR:INTERNAL=Ninja$' "$portable/CMakeCache.txt"; then
    cmake --build "$portable" --parallel "${TESSALINE_JOBS:-$(nproc)}" --target tests/processor/all
else
    cmake --build "$portable" --parallel "${TESSALINE_JOBS:-$(nproc)}"
fi
xvfb-run -a \
    ctest --test-dir "$portable" -L '^processor$' --no-tests=error --output-on-failure --parallel "$jobs" --timeout 900

"$root/scripts/run-sanitizer-tests.sh"
