# Sourced by the package and install checks: counts cases and failures, each
# case a line "ok: NAME" on standard output or "FAIL: NAME[: DETAIL]" on
# standard error.
failures=0
cases=0
check() { # NAME STATUS [DETAIL]
    cases=$((cases + 1))
    if [ "$2" -eq 0 ]; then
        echo "ok: $1"
    else
        echo "FAIL: $1${3:+: $3}" >&2
        failures=$((failures + 1))
    fi
}
