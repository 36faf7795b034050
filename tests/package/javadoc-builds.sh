#!/bin/sh
# Builds the javadoc target and checks what it made: javadoc exited 0 and said "error" nowhere,
# and every public top-level class of the given source trees has its page.
#
# Usage: javadoc-builds.sh --cmake CMAKE --build BUILD_DIR --output JAVADOC_DIR SOURCE_ROOT...
set -u

cmake=cmake build= output=
while [ $# -gt 0 ]; do
    case $1 in
        --cmake) cmake=$2; shift 2 ;;
        --build) build=$2; shift 2 ;;
        --output) output=$2; shift 2 ;;
        --*) echo "javadoc-builds: unknown option $1" >&2; exit 2 ;;
        *) break ;;
    esac
done
[ -n "$build" ] && [ -n "$output" ] && [ $# -gt 0 ] ||
    { echo "usage: javadoc-builds.sh --cmake CMAKE --build DIR --output DIR SOURCE_ROOT..." >&2; exit 2; }

log=$(mktemp "${TMPDIR:-/tmp}/kelvane-javadoc.XXXXXX")
trap 'rm -f "$log"' EXIT

status=0
"$cmake" --build "$build" --target javadoc >"$log" 2>&1 || status=$?
if [ "$status" -ne 0 ] || grep -qi 'error' "$log"; then
    cat "$log" >&2
    echo "javadoc-builds: FAILED: the javadoc target exited $status" >&2
    exit 1
fi
warnings=$(grep -c 'warning' "$log" || true)

classes=0
missing=0
for root in "$@"; do
    [ -d "$root" ] || { echo "javadoc-builds: FAILED: no source tree $root" >&2; exit 1; }
    for source in $(cd "$root" && grep -rlE '^public (final |abstract )*(class|interface|enum|record|@interface) ' --include='*.java' .); do
        page=$output/${source#./}
        page=${page%.java}.html
        classes=$((classes + 1))
        if [ ! -s "$page" ]; then
            echo "javadoc-builds: no page for ${source#./} ($page)" >&2
            missing=$((missing + 1))
        fi
    done
done
[ "$classes" -gt 0 ] || { echo "javadoc-builds: FAILED: no public class found" >&2; exit 1; }
echo "summary: javadoc public classes $classes, pages missing $missing, warnings $warnings"
[ "$missing" -eq 0 ] && [ -s "$output/index.html" ]
