#!/bin/sh
# Configures a host project that adds the source tree with add_subdirectory(),
# builds the consumer program inside it and runs it. The host's build folder is
# kept from run to run, so that only what changed is compiled again, but its
# cache is not: every run configures afresh, with the embedded defaults.
# Usage: run-embed-test.sh SOURCE_DIR HOST_SOURCE_DIR HOST_BUILD_DIR CMAKE_COMMAND BUILD_IMPORT(ON|OFF)
set -eu
source=$1
host=$2
build=$3
cmake=$4
import=$5

# The switches keep their defaults, but for the importers: a machine without
# libinstpatch builds without them.
rm -f "$build/CMakeCache.txt"
# The host sets its own -O2, as most do: the render loops must still be built
# at -O3, and every other file at the host's level.
"$cmake" -S "$host" -B "$build" -DOXSF_SOURCE_DIR="$source" -DOXSF_BUILD_IMPORT="$import" \
    -DCMAKE_CXX_FLAGS=-O2 -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
"$cmake" --build "$build" --parallel 2 >/dev/null
last_level() {
    grep "\"command\".*/host/audio/$1" "$build/compile_commands.json" | grep -o -- ' -O[0-3s]' | tail -n 1
}
for file in RenderKernels.cpp TQ7SamplePlayer.cpp Envelope.cpp; do
    want=" -O3"
    [ "$file" = Envelope.cpp ] && want=" -O2"
    got=$(last_level "$file")
    if [ "$got" != "$want" ]; then
        echo "embed test: host/audio/$file is compiled with '$got', not '$want'" >&2
        exit 1
    fi
done
# The consumer writes its bank and its import below the folder it is given.
rm -rf "$build/scratch"
mkdir "$build/scratch"
"$build/consumer" "$build/scratch"
echo "embed test: OK"
