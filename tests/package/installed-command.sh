# Sourced by install-tree.sh and scripts/test-package.sh: runs an installed kelvane command as
# a user would, from / with a clean environment, and checks that it ran on the installed files
# only: every class of the command, the contract and picocli from the installed jars, the
# bridge from the installed JNI directory, nothing at all from the source or build tree.
#
# Needs: check NAME STATUS [DETAIL] (the caller's case counter) and $work (a scratch dir).

# run_installed PREFIX FORBIDDEN_DIR OUT_NAME [ARG...]: runs PREFIX/bin/kelvane ARG...;
# status in $status; output in $work/OUT_NAME.out/.err, the JVM's class-load log in
# $work/OUT_NAME.classes and the dynamic loader's log in $work/OUT_NAME.ld.*
run_installed() {
    _prefix=$1 _name=$3
    shift 3
    rm -f "$work/$_name".*
    mkdir -p "$work/home"
    status=0
    (cd / && env -i PATH=/usr/bin:/bin HOME="$work/home" LANG=C.UTF-8 \
        ${SOFTHSM2_CONF:+SOFTHSM2_CONF="$SOFTHSM2_CONF"} ${KELVANE_PIN:+KELVANE_PIN="$KELVANE_PIN"} \
        LD_DEBUG=files LD_DEBUG_OUTPUT="$work/$_name.ld" \
        KELVANE_JAVA_OPTIONS="-Xlog:class+load=info:file=$work/$_name.classes" \
        "$_prefix/bin/kelvane" "$@" >"$work/$_name.out" 2>"$work/$_name.err" </dev/null) || status=$?
}

# check_loaded_from PREFIX JNI_DIR FORBIDDEN_DIR OUT_NAME: the run OUT_NAME loaded the
# command's classes and the bridge from PREFIX, picocli from Debian's jar, nothing from
# FORBIDDEN_DIR.
check_loaded_from() {
    _prefix=$1 _jni=$2 _forbidden=$3 _name=$4
    _classes=$work/$_name.classes
    for _row in "qorvik.tool.cli.Kelvane $_prefix/share/java/kelvane-tool.jar" \
                "qorvik.nat.NativeCryptoki $_prefix/share/java/kelvane.jar" \
                "picocli.CommandLine /usr/share/java/picocli.jar"; do
        _class=${_row%% *} _jar=${_row#* }
        grep -q "\] $_class source: .*$_jar\$" "$_classes" 2>/dev/null
        check "$_name: $_class loaded from $_jar" $? \
            "$(grep "\] $_class " "$_classes" 2>/dev/null || echo "not loaded")"
    done
    # A lambda or proxy names the class that made it as its source (no path): not a file.
    _stray=$(grep -E '\] (qorvik|zentrel|picocli)\.' "$_classes" 2>/dev/null |
        grep -v -e 'source: [^/]*$' -e "source: .*$_prefix/share/java/[^/]*\.jar\$" -e 'source: .*/usr/share/java/picocli\.jar$' |
        head -n 5)
    [ -z "$_stray" ]
    check "$_name: no class of the command from anywhere but the installed jars" $? "$_stray"
    _bridges=$(cat "$work/$_name".ld.* 2>/dev/null | sed -n 's/.*file=\([^ ]*libkelvane[^ ]*\) .*/\1/p' | sort -u)
    [ "$_bridges" = "$_prefix/$_jni/libkelvane.so" ]
    check "$_name: the bridge loaded is $_prefix/$_jni/libkelvane.so and no other" $? \
        "loaded: ${_bridges:-none}"
    ! cat "$_classes" "$work/$_name".ld.* 2>/dev/null | grep -qF "$_forbidden"
    check "$_name: nothing loaded from $_forbidden" $? \
        "$(cat "$_classes" "$work/$_name".ld.* 2>/dev/null | grep -F "$_forbidden" | head -n 3)"
}
