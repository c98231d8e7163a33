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
"$cmake" -S "$host" -B "$build" -DOXSF_SOURCE_DIR="$source" -DOXSF_BUILD_IMPORT="$import" >/dev/null
"$cmake" --build "$build" --parallel 2 >/dev/null
# The consumer writes its bank and its import below the folder it is given.
rm -rf "$build/scratch"
mkdir "$build/scratch"
"$build/consumer" "$build/scratch"
echo "embed test: OK"
