#!/usr/bin/env bash
# Installs the Debian packages the build needs. A no-op when all are present.
# Usage: install-deps.sh [build|fuzz|import-check|demo|fidelity|docs]   (fuzz adds clang and its
# runtime; import-check the General MIDI soundfont that `make import-check` imports;
# demo that soundfont and mma, whose example songs `make demo` renders; fidelity those,
# sf3convert, the peer synthesizer and numpy for `make fidelity`; docs is
# Doxygen alone, since `make docs` builds nothing)
set -euo pipefail

packages=(
    cmake make g++ pkg-config
    libgtest-dev libgmock-dev libbenchmark-dev
    librapidxml-dev qtbase5-dev libsndfile1-dev
    libcli11-dev libfmt-dev nlohmann-json3-dev libinstpatch-dev
    lv2-dev liblilv-dev lilv-utils sordi
    libjack-jackd2-dev jackd2 # oxsf live, and its test's own server
)
if [[ "${1:-build}" == "fuzz" ]]; then
    packages+=(clang libclang-rt-14-dev llvm)
elif [[ "${1:-build}" == "import-check" ]]; then
    packages+=(csound-soundfont)
elif [[ "${1:-build}" == "fidelity" ]]; then
    packages+=(csound-soundfont sf3convert mma fluidsynth python3-numpy)
elif [[ "${1:-build}" == "demo" ]]; then
    packages+=(csound-soundfont mma)
elif [[ "${1:-build}" == "docs" ]]; then
    packages=(doxygen)
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing missing packages: ${missing[*]}" >&2
sudo=""
if [[ $(id -u) -ne 0 ]]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
