#!/bin/sh
# Boots a MINIDOS diskette built from the samples and expects the sample boot sector's
# banner on the serial port.
#
#   boot_sample_minidos.sh HARNESS KIT_DIR PROJECT_DIR BANNER
set -eu

[ $# -eq 4 ] || { echo "usage: $0 HARNESS KIT_DIR PROJECT_DIR BANNER" >&2; exit 2; }
harness=$1
kit=$2
project=$3
banner=$4

here=$(dirname "$0")
work=$(mktemp -d "${TMPDIR:-/tmp}/boot-sample.XXXXXX")
trap 'rm -rf "$work"' EXIT

sh "$here/make_sample_minidos.sh" "$work/minidos.img" "$kit" "$project"
sh "$harness" "$work/minidos.img" "$banner" 60
