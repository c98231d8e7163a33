#!/usr/bin/env bash
# Renders single notes of every melodic preset of Debian's General MIDI
# soundfont, of an SF3 made from it, and the largest songs of mma's examples,
# with the peer synthesizer (reverb and chorus off) and with the built oxsf,
# and prints how far apart they sound. The peer is a reference for this check
# only; nothing of it is linked. Real material: nothing goes into the repository.
# Usage: fidelity.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
font=/usr/share/sounds/sf2/sf_GMbank.sf2

scripts/install-deps.sh fidelity
work=$build/fidelity
rm -rf "$work"
mkdir -p "$work"
sf3convert -z "$font" "$work/gm.sf3" >/dev/null
mapfile -t songs < <(find /usr/share/doc/mma/examples -name '*.mid' -size +8k | sort | head -n 8)
/usr/bin/python3 scripts/fidelity.py "$build/bin/oxsf" "$font" "$work/gm.sf3" "${songs[@]}" \
    --work "$work"
