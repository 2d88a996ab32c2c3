#!/usr/bin/env bash
# Builds the test programs with sanitizers and runs them, each configuration in a
# build folder of its own (the plug-in bundles, the hosting tests and the
# benchmarks are not built there):
#   address+undefined: the model, processor and editor tests, and the threaded ones;
#   thread: the tests labelled "threaded" (several threads driving the processor).
# Programs that count allocations are left out by the build (see tests/CMakeLists.txt).
# Usage: scripts/run-sanitizer-tests.sh [address+undefined|thread]...  (default: both)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
jobs="${TESSALINE_JOBS:-$(nproc)}"
test_jobs="${TESSALINE_TEST_JOBS:-$(nproc)}"

run() {
    local sanitizer="$1" folder="$2" labels="$3"
    local build="$root/$folder"

    generator=()
    if command -v ninja >/dev/null 2>&1 && [ ! -f "$build/CMakeCache.txt" ]; then generator=(-G Ninja); fi

    echo "== $sanitizer sanitizer: building into $folder"
    cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release -DTESSALINE_SANITIZER="$sanitizer"
    cmake --build "$build" --parallel "$jobs"

    echo "== $sanitizer sanitizer: tests labelled $labels"
    xvfb-run -a \
        ctest --test-dir "$build" -L "$labels" --no-tests=error --output-on-failure \
              --parallel "$test_jobs" --timeout 900
}

configurations=("$@")
if [ ${#configurations[@]} -eq 0 ]; then configurations=(address+undefined thread); fi

for sanitizer in "${configurations[@]}"; do
    case "$sanitizer" in
        address+undefined) run "$sanitizer" build-asan '^(model|processor|editor|threaded)$' ;;
        thread)            run "$sanitizer" build-tsan '^threaded$' ;;
        *) echo "unknown configuration: $sanitizer (address+undefined or thread)" >&2; exit 2 ;;
    esac
done
