#!/bin/sh
# obwrite refuses bad shapes and counts with a message and no file, and
# replaces a field in place. $OBWRITE names the program.
set -u
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
fails=0
check() {  # check WHAT EXPECTED-STATUS EXPECTED-TEXT INPUT ARGS...
  what=$1 want=$2 text=$3 input=$4
  shift 4
  out=$(printf '%b' "$input" | "$OBWRITE" "$@" 2>&1)
  got=$?
  if [ "$got" -ne "$want" ] || { [ -n "$text" ] && ! printf '%s' "$out" | grep -q -- "$text"; }; then
    echo "FAIL $what: status $got, output: $out"
    fails=$((fails + 1))
  fi
}
f=$dir/m.ob
check "too few numbers" 1 "only 5 of 6 numbers" "1 2 3\n4 5" "$f" wg arrayF 2 3
check "too many numbers" 1 "more than 6 numbers" "1 2 3 4 5 6 7" "$f" wg arrayF 2 3
check "not a number" 1 'not a number: "x2"' "1 x2 3" "$f" wg arrayF 1 3
check "negative shape" 1 "bad shape" "" "$f" wg arrayF -1 3
check "shape not a number" 1 "bad shape" "" "$f" wg arrayF 2 three
check "no type" 2 "usage" "" "$f" wg
check "unknown type" 2 "usage" "" "$f" wg wave 1 1
[ -e "$f" ] && { echo "FAIL: a refused write left $f"; fails=$((fails + 1)); }
check "matrix" 0 "" "1e-3 2.5\n-3 4\n" "$f" wg arrayF 2 2
check "labels" 0 "" "i:\r\n\nI\n.garbage\n" "$f" labels hmm/description
size1=$(wc -c < "$f")
check "field replaced" 0 "" "1 2 3 4 5 6" "$f" wg arrayF 2 3
size2=$(wc -c < "$f")
[ "$size2" -eq $((size1 + 8)) ] || { echo "FAIL replace: $size1 then $size2 bytes"; fails=$((fails + 1)); }
check "a folder" 1 "cannot read object file" "1" "$dir" wg arrayF 1 1
printf 'text' > "$dir/t.ob"
check "not an object file" 1 "is not an object file" "1" "$dir/t.ob" wg arrayF 1 1
exit $fails
