#!/usr/bin/env bash
# Runs clang-tidy with the project's .clang-tidy over the program's sources;
# any finding fails. Needs a build folder with compile_commands.json.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${1:-build}
[ -f "$BUILD_DIR/compile_commands.json" ] ||
    cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
# The generated moc sources must exist before they can be checked against.
cmake --build "$BUILD_DIR" --target yonamito_lib >/dev/null
run-clang-tidy-14 -p "$BUILD_DIR" -quiet "$PWD/src/.*\.cpp"
# The code follows the checked-in .clang-format.
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror
