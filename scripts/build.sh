#!/usr/bin/env bash
# Configures and builds everything (plug-ins, tests, benchmarks) into build/.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${TESSALINE_BUILD_DIR:-$root/build}"
jobs="${TESSALINE_JOBS:-$(nproc)}"

generator=()
if command -v ninja >/dev/null 2>&1 && [ ! -f "$build/CMakeCache.txt" ]; then generator=(-G Ninja); fi

cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release "$@"
cmake --build "$build" --parallel "$jobs"
