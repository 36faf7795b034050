# Sourced after checks.sh: compile_readme_block README CLASS EXAMPLE JAVAC CLASSPATH WORK takes
# the java block of README that declares the public class CLASS, checks that it is EXAMPLE line
# for line, and compiles it into WORK/classes. Returns non-zero when there is nothing to run.
compile_readme_block() {
    _readme=$1 _class=$2 _example=$3 _javac=$4 _cp=$5 _work=$6
    mkdir -p "$_work/src" "$_work/classes"
    awk -v class="$_class" '
        /^```java$/ { inside = 1; block = ""; next }
        inside && /^```$/ {
            inside = 0
            if (block ~ ("public final class " class " ")) { printf "%s", block; found = 1; exit }
            next
        }
        inside { block = block $0 "\n" }
        END { exit !found }
    ' "$_readme" >"$_work/src/$_class.java" || true
    [ -s "$_work/src/$_class.java" ]
    check "the README shows a java block declaring $_class" $?
    cmp -s "$_work/src/$_class.java" "$_example"
    check "the README's block is $_example line for line" $? \
        "$(diff "$_example" "$_work/src/$_class.java" | head -n 20)"
    "$_javac" --release 17 -encoding UTF-8 -Xlint:all -Werror -cp "$_cp" -d "$_work/classes" \
        "$_work/src/$_class.java" >"$_work/javac.log" 2>&1
    check "the README's $_class compiles without a warning" $? "$(cat "$_work/javac.log")"
    [ -f "$_work/classes/$_class.class" ]
}
