#!/usr/bin/env bash
# One command from a fresh Debian 12 machine to installed plug-ins:
# system packages, build, then VST3 into ~/.vst3 and LV2 into ~/.lv2.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
if [ -x "$root/scripts/install-plugins.sh" ]; then
    "$root/scripts/install-plugins.sh"
fi
