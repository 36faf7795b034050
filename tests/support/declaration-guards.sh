# Sourced by the check builds' guard scripts. The caller defines
#   copy_tree NAME   a copy of its sources in $work/NAME
#   compile NAME     the check compile of that copy, its messages in $work/NAME.log
# and sets `work`, `declarations` (the declarations header, relative to a copy)
# and `original` (the header itself), then calls run_guards with its rows:
#   "name|sed expression applied to the declarations|complaint expected"
# The unaltered copy must compile; each altered one must fail with its complaint.

run_guards() {
    local failures=0 cases=0 row name expression complaint altered
    copy_tree unaltered
    if ! compile unaltered; then
        echo "FAIL unaltered declarations do not compile:"
        cat "$work/unaltered.log"
        return 1
    fi
    for row in "$@"; do
        IFS='|' read -r name expression complaint <<<"$row"
        cases=$((cases + 1))
        copy_tree "$name"
        altered=$work/$name/$declarations
        sed -i -e "$expression" "$altered"
        if cmp -s "$altered" "$original"; then
            echo "FAIL $name: the alteration no longer applies to the declarations"
            failures=$((failures + 1))
        elif compile "$name"; then
            echo "FAIL $name: compiled although $complaint was expected"
            failures=$((failures + 1))
        elif ! grep -qF -- "$complaint" "$work/$name.log"; then
            echo "FAIL $name: rejected, but not with \"$complaint\":"
            grep -m3 'error' "$work/$name.log"
            failures=$((failures + 1))
        fi
    done
    echo "$cases alterations, $((cases - failures)) rejected as expected"
    [ "$failures" -eq 0 ]
}
