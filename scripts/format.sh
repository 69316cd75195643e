#!/bin/sh
# Formats every C++ file of the repository with its .clang-format.
set -eu
cd "$(dirname "$0")/.."
find src tests bench packaging examples -name '*.cpp' -o -name '*.h' | xargs "${CLANG_FORMAT:-clang-format}" -i
