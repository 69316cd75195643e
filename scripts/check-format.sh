#!/bin/sh
# Fails when a C++ file differs from what the repository's .clang-format makes of it.
#   check-format.sh <source root> [clang-format program]
set -eu
root=$1
tool=${2:-clang-format}
cd "$root"
files=$(find src tests bench packaging examples -name '*.cpp' -o -name '*.h' | sort)
# shellcheck disable=SC2086
if ! "$tool" --dry-run --Werror $files; then
    echo "unformatted: run $tool -i on the files above (or scripts/format.sh)"
    exit 1
fi
echo "ok: $(echo "$files" | wc -l) files formatted"
