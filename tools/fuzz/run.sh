#!/bin/sh
# run.sh PKG SEED COUNT ?SETUP? -- fuzz.tcl on the packages of $TOVIK_BUILD
# (a build made with -DTOVIK_ASAN=ON), the sanitizer runtime preloaded.
# LEAKS=1 turns the leak check on.
here=$(cd "$(dirname "$0")" && pwd)
: "${TOVIK_BUILD:?set TOVIK_BUILD to a sanitizer build folder}"
asan=$(g++ -print-file-name=libasan.so)
stdcxx=$(g++ -print-file-name=libstdc++.so.6)
exec env TCLLIBPATH="$TOVIK_BUILD/lib/tcl" TOVIK_BUILD="$TOVIK_BUILD" TOVIK_AUDIO=virtual \
    LD_PRELOAD="$asan:$stdcxx" ASAN_OPTIONS=detect_leaks="${LEAKS:-0}" \
    timeout "${TIMEOUT:-120}" tclsh "$here/fuzz.tcl" "$@"
