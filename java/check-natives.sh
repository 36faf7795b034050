#!/bin/sh
# Checks that the native methods declared in a source tree (src/ by default: the qorvik.nat
# classes) resolve to exactly the JNI exports listed in a file (exports.txt by default), and
# optionally that a built bridge library exports exactly those names. The keychain bridge is
# checked with --sources keychain/src --exports ../keychain/exports.txt.
#
# javac -h names a native method by its short form (Java_<class>_<method>) unless the class
# declares it more than once; the JVM also resolves a method by its long form (short form,
# "__", mangled argument descriptor). A listed export that is the long form of a generated
# short name therefore matches too. Anything else is a mismatch.
#
# Usage: check-natives.sh [--javac PATH] [--sources DIR] [--exports FILE] [--library FILE]
set -eu

here=$(cd "$(dirname "$0")" && pwd)
javac=${JAVAC:-javac}
library=
sources=$here/src
exports=$here/exports.txt

while [ $# -gt 0 ]; do
    case $1 in
        --javac) javac=$2; shift 2 ;;
        --library) library=$2; shift 2 ;;
        --sources) sources=$2; shift 2 ;;
        --exports) exports=$2; shift 2 ;;
        *) echo "usage: $0 [--javac PATH] [--sources DIR] [--exports FILE] [--library FILE]" >&2; exit 2 ;;
    esac
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM

find "$sources" -name '*.java' > "$work/sources"
"$javac" --release 17 -d "$work/classes" -h "$work/headers" @"$work/sources"

# One line per generated function: name, short name, long name, descriptor.
# The headers carry each method's descriptor in the comment right above its declaration.
awk '
    / \* Signature: / { sig = $3 }
    /JNICALL Java_/ {
        name = $NF
        args = sig; sub(/^\(/, "", args); sub(/\).*$/, "", args)
        gsub(/_/, "_1", args); gsub(/;/, "_2", args); gsub(/\[/, "_3", args); gsub(/\//, "_", args)
        short = name; sub(/__.*$/, "", short)
        print name, short, short "__" args, sig
    }
' "$work"/headers/*.h | sort > "$work/generated"

grep -v '^#' "$exports" | grep -v '^[[:space:]]*$' | sort -u > "$work/expected"

status=0
# Every listed export must be a generated name or the long form of one.
while read -r export; do
    hit=$(awk -v e="$export" '$1 == e { print "same"; exit } $3 == e { print "long " $4; exit }' "$work/generated")
    case $hit in
        same) printf '  ok    %s\n' "$export" ;;
        long*) printf '  ok    %s  (long form of %s, %s)\n' "$export" \
                   "$(awk -v e="$export" '$3 == e { print $2; exit }' "$work/generated")" "${hit#long }" ;;
        *) printf '  MISSING %s  (no native method resolves to it)\n' "$export"; status=1 ;;
    esac
done < "$work/expected"

# Every generated name must be accounted for by one listed export.
while read -r name short long sig; do
    if ! grep -qxF -e "$name" -e "$long" "$work/expected"; then
        printf '  EXTRA %s %s  (declared, not exported)\n' "$name" "$sig"
        status=1
    fi
done < "$work/generated"

printf '%s listed, %s native methods declared\n' \
    "$(wc -l < "$work/expected" | tr -d ' ')" "$(wc -l < "$work/generated" | tr -d ' ')"

if [ -n "$library" ]; then
    nm -D --defined-only "$library" | awk '$3 ~ /^Java_/ { print $3 }' | sort -u > "$work/library"
    if cmp -s "$work/expected" "$work/library"; then
        printf '%s exports exactly the listed names\n' "$library"
    else
        printf '%s differs from the list (< listed only, > exported only):\n' "$library"
        diff "$work/expected" "$work/library" | grep '^[<>]' || true
        status=1
    fi
fi

[ $status -eq 0 ] && echo "natives match exports" || echo "natives DO NOT match exports"
exit $status
