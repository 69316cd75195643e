#!/bin/sh
# Builds a diskette image of the given kind with quenvol-cli from the sample kit and project
# folder, in a scratch folder, and boots it, expecting TEXT on the serial port.
#
#   boot_cli_image.sh CLI HARNESS KIT_DIR PROJECT_DIR KIND TEXT
set -eu

[ $# -eq 6 ] || { echo "usage: $0 CLI HARNESS KIT_DIR PROJECT_DIR KIND TEXT" >&2; exit 2; }
cli=$1
harness=$2
kit=$3
project=$4
kind=$5
text=$6

work=$(mktemp -d "${TMPDIR:-/tmp}/boot-cli.XXXXXX")
trap 'rm -rf "$work"' EXIT

cp -R "$kit" "$work/kit"
image=$work/$kind.img
(cd "$work/kit" && XDG_CONFIG_HOME=$work/config \
    "$cli" --kind "$kind" --create --yes --verify --drive "$image" "$project" </dev/null)
sh "$harness" "$image" "$text" 60
