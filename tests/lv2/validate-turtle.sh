#!/bin/sh
# Validates the bundle's Turtle against the LV2 schemas the system has (lv2-dev),
# which sord_validate needs given alongside: it reads no other vocabulary.
# Usage: validate-turtle.sh SORD_VALIDATE BUNDLE_DIR
set -eu
validate=$1
bundle=$2
schemas=$(find /usr/lib/lv2 /usr/local/lib/lv2 -path '*.lv2/*.ttl' 2>/dev/null || true)
if [ -z "$schemas" ]; then
    echo "no LV2 schemas under /usr/lib/lv2: install lv2-dev" >&2
    exit 1
fi
# shellcheck disable=SC2086 # one argument per schema file
exec "$validate" $schemas "$bundle/manifest.ttl" "$bundle/oxsf.ttl"
