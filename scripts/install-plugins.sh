#!/usr/bin/env bash
# Installs the built plug-ins for the current user: VST3 into ~/.vst3, LV2 into
# ~/.lv2 and the Standalone application into ~/.local/bin. Run after a build;
# replaces an earlier installation of the same plug-in.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${TESSALINE_BUILD_DIR:-$root/build}"
config="${TESSALINE_BUILD_CONFIG:-Release}"
artefacts="$build/processor/Tessaline_artefacts/$config"

vst3_dir="${VST3_INSTALL_DIR:-$HOME/.vst3}"
lv2_dir="${LV2_INSTALL_DIR:-$HOME/.lv2}"
bin_dir="${BIN_INSTALL_DIR:-$HOME/.local/bin}"

if [ ! -d "$artefacts" ]; then
    echo "No built plug-ins in $artefacts; run scripts/build.sh first." >&2
    exit 1
fi

# Copies one bundle folder, replacing what was there.
install_bundle() {
    local source="$1" target_dir="$2"
    if [ ! -d "$source" ]; then
        echo "Missing $source; was the build complete?" >&2
        exit 1
    fi
    mkdir -p "$target_dir"
    rm -rf "$target_dir/$(basename "$source")"
    cp -R "$source" "$target_dir/"
    echo "Installed $(basename "$source") into $target_dir"
}

install_bundle "$artefacts/VST3/Tessaline.vst3" "$vst3_dir"
install_bundle "$artefacts/LV2/Tessaline.lv2" "$lv2_dir"

if [ -x "$artefacts/Standalone/Tessaline" ]; then
    mkdir -p "$bin_dir"
    install -m 755 "$artefacts/Standalone/Tessaline" "$bin_dir/Tessaline"
    echo "Installed the Tessaline application into $bin_dir"
fi
