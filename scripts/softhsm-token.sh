#!/bin/sh
# Makes a throwaway SoftHSM2 token that lives entirely in DIR.
#
# Usage: softhsm-token.sh DIR [LABEL]
#
# Writes DIR/softhsm2.conf (token store DIR/tokens), initialises a token labelled LABEL
# (default "kelvane") with SO PIN 87654321 and user PIN 1234, and writes DIR/env.sh.
# The environment to use it is printed on stdout, so either of these works:
#     eval "$(scripts/softhsm-token.sh /tmp/tok)"
#     scripts/softhsm-token.sh /tmp/tok >/dev/null && . /tmp/tok/env.sh
# Progress goes to stderr. Running it again on the same DIR keeps the existing token.
# The system-wide SoftHSM2 configuration and token store are never read or written.
set -eu

SO_PIN=87654321
USER_PIN=1234

if [ $# -lt 1 ] || [ $# -gt 2 ] || [ -z "$1" ]; then
    echo "usage: $0 DIR [LABEL]" >&2
    exit 2
fi
label=${2:-kelvane}

command -v softhsm2-util >/dev/null 2>&1 || {
    echo "softhsm-token: softhsm2-util not found (install softhsm2)" >&2
    exit 1
}

mkdir -p "$1"
dir=$(cd "$1" && pwd -P)
case $dir/ in
    /etc/softhsm/*|/var/lib/softhsm/*)
        echo "softhsm-token: refusing to use the system token store ($dir)" >&2
        exit 1 ;;
esac

conf=$dir/softhsm2.conf
mkdir -p "$dir/tokens"
cat > "$conf" <<CONF
# Throwaway SoftHSM2 configuration written by softhsm-token.sh
directories.tokendir = $dir/tokens
objectstore.backend = file
log.level = ERROR
CONF

# Single-quotes a value for the shell.
quote() {
    printf "'%s'" "$(printf '%s' "$1" | sed "s/'/'\\\\''/g")"
}

SOFTHSM2_CONF=$conf
export SOFTHSM2_CONF

# True when the store already holds a token with exactly this label.
has_token() {
    softhsm2-util --show-slots </dev/null 2>/dev/null | awk -v want="$1" '
        $1 == "Label:" { sub(/^[ \t]*Label:[ \t]*/, ""); sub(/[ \t]+$/, ""); if ($0 == want) found = 1 }
        END { exit !found }'
}

if has_token "$label"; then
    echo "softhsm-token: token '$label' already present in $dir/tokens" >&2
else
    softhsm2-util --init-token --free --label "$label" \
        --so-pin "$SO_PIN" --pin "$USER_PIN" </dev/null >&2
fi

env_line="export SOFTHSM2_CONF=$(quote "$conf")"
printf '%s\n' "$env_line" > "$dir/env.sh"
printf '%s\n' "$env_line"
