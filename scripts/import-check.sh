#!/usr/bin/env bash
# Imports every preset of Debian's General MIDI soundfont (csound-soundfont,
# installed when missing) with the built oxsf, and prints the time taken and
# what was written. Real material: nothing of it goes into the repository.
# Usage: import-check.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
font=/usr/share/sounds/sf2/sf_GMbank.sf2

scripts/install-deps.sh import-check
out=$build/import-check
rm -rf "$out" "$out.json"
start=$(date +%s.%N)
"$build/bin/oxsf" import "$font" "$out" --json >"$out.json"
end=$(date +%s.%N)

python3 - "$out.json" "$start" "$end" "$font" "$out" <<'PY'
import collections, json, os, sys
banks = json.load(open(sys.argv[1]))
seconds = float(sys.argv[3]) - float(sys.argv[2])
font, out = sys.argv[4], sys.argv[5]
written = sum(os.path.getsize(os.path.join(root, f))
              for root, _, files in os.walk(out) for f in files)
kinds = collections.Counter(b["kind"] for b in banks)
dropped = collections.Counter(d.split(" (")[0] for b in banks for d in b["dropped"])
warned = [b for b in banks if b["warnings"]]
print(f"{font} ({os.path.getsize(font) / 1e6:.1f} MB): {len(banks)} presets imported "
      f"in {seconds:.2f} s (target: under 5 s)")
print(f"  {kinds['pitched']} pitched, {kinds['unpitched']} drum kits; "
      f"{sum(b['samples'] for b in banks)} samples in {sum(b['files'] for b in banks)} files, "
      f"{written / 1e6:.1f} MB written to {out}")
print(f"  {len(warned)} banks with warnings")
for b in warned:
    for w in b["warnings"]:
        print(f"    {b['path']}: {w}")
print("  dropped, by how many banks:")
for what, count in dropped.most_common():
    print(f"    {count:4d}  {what}")
PY
