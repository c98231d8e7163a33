#!/bin/sh
# Installs the build into a scratch prefix, builds the consumer program against
# it with find_package(OXSoundFont) and runs it; also checks the pkg-config file.
# Usage: run-install-test.sh BUILD_DIR CONSUMER_SOURCE_DIR CMAKE_COMMAND WITH_TOOL(0|1)
set -eu
build=$1
consumer=$2
cmake=$3
with_tool=$4

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

"$cmake" --install "$build" --prefix "$scratch/prefix" >/dev/null

"$cmake" -S "$consumer" -B "$scratch/build" -DCMAKE_PREFIX_PATH="$scratch/prefix" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
"$cmake" --build "$scratch/build" >/dev/null
"$scratch/build/consumer" "$scratch"

# The installed tool runs from its prefix (it finds the libraries through its rpath).
if [ "$with_tool" = 1 ]; then
    "$scratch/prefix/bin/oxsf" --version
fi

# The installed plugin finds the project's libraries from its bundle, and a host finds it.
plugin=$(find "$scratch/prefix" -path '*/lv2/oxsf.lv2/oxsf.so' | head -n 1)
if [ -n "$plugin" ]; then
    if ldd "$plugin" | grep -q "not found"; then
        ldd "$plugin" >&2; exit 1
    fi
    if command -v lv2info >/dev/null 2>&1; then
        LV2_PATH=$(dirname "$(dirname "$plugin")") lv2info urn:oxsoundfont:oxsf >/dev/null
    fi
fi

if command -v pkg-config >/dev/null 2>&1; then
    pcdir=$(dirname "$(find "$scratch/prefix" -name oxsoundfont.pc | head -n 1)")
    libs=$(PKG_CONFIG_PATH="$pcdir" pkg-config --libs oxsoundfont)
    include=$(PKG_CONFIG_PATH="$pcdir" pkg-config --cflags-only-I oxsoundfont | sed 's/^ *-I//; s/ *$//')
    case "$libs" in *-lOXSoundFont*) ;; *) echo "pkg-config libs: $libs" >&2; exit 1 ;; esac
    test -f "$include/soundfont/SoundFontManager.h" || {
        echo "pkg-config cflags do not reach the headers: $include" >&2; exit 1; }
fi
echo "install test: OK"
