#!/bin/sh
# A layer's library must not see the headers of the layers above it. For one layer: a header
# of its own or of a layer below compiles with the layer's include folders, a header from
# above does not.
#   upward_include.sh <c++ compiler> <header below> <header above> <include folder>...
set -eu
compiler=$1 below=$2 above=$3
shift 3
flags=""
for folder in "$@"; do flags="$flags -I$folder"; done
probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
printf '#include "%s"\n' "$below" > "$probe/below.cpp"
printf '#include "%s"\n' "$above" > "$probe/above.cpp"
# shellcheck disable=SC2086
if ! "$compiler" -std=c++20 -fsyntax-only $flags "$probe/below.cpp" 2> "$probe/below.log"; then
    echo "a header the layer may use, $below, does not compile with its include folders:"
    cat "$probe/below.log"
    exit 1
fi
# shellcheck disable=SC2086
if "$compiler" -std=c++20 -fsyntax-only $flags "$probe/above.cpp" 2> /dev/null; then
    echo "$above, from a layer above, compiles with this layer's include folders"
    exit 1
fi
echo "ok: $below compiles, $above is out of reach"
