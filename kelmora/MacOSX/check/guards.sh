#!/usr/bin/env bash
# The check build of the macOS module-path lookup must reject a dyld interface
# that differs from what DyldImages.cpp assumes. Each row alters one
# declaration in a copy of the declarations and expects the compile to fail
# with the named complaint; the unaltered copy must compile.
#
#   guards.sh CXX KELMORA_SOURCE_DIR WORK_DIR [-I<dir> ...]
# The -I arguments name the JNI and PKCS#11 header directories.
set -u
. "$(dirname "$0")/../../../tests/support/declaration-guards.sh"

cxx=$1
source_dir=$2
work=$3
shift 3
includes=("$@")

rm -rf "$work"
mkdir -p "$work"

# A copy of MacOSX/ in $work/$1; the shared headers it reaches are linked in.
copy_tree() {
    local dir=$work/$1
    mkdir -p "$dir"
    cp -r "$source_dir/MacOSX" "$dir/"
    ln -s "$source_dir/core" "$dir/core"
    ln -s "$source_dir/posix" "$dir/posix"
    ln -s "$source_dir/kelmora.h" "$dir/kelmora.h"
}

compile() {
    "$cxx" -std=c++17 -Wall -Wextra -Werror -fsyntax-only -DKELVANE_MACOS_DECLARATIONS=1 \
        -I"$work/$1/MacOSX" "${includes[@]}" "$work/$1/MacOSX/DyldImages.cpp" 2>"$work/$1.log"
}

# name | sed expression applied to the declarations | complaint expected
rows=(
    "count_signed|s/^std::uint32_t _dyld_image_count/int _dyld_image_count/|_dyld_image_count does not return uint32_t"
    "count_wide|s/^std::uint32_t _dyld_image_count/std::uint64_t _dyld_image_count/|_dyld_image_count does not return uint32_t"
    "header_index|s/_dyld_get_image_header(std::uint32_t/_dyld_get_image_header(int/|_dyld_get_image_header is not a uint32_t index"
    "header_type|s/^const struct mach_header\\* _dyld_get_image_header/const void* _dyld_get_image_header/|_dyld_get_image_header is not a uint32_t index"
    "name_index|s/_dyld_get_image_name(std::uint32_t/_dyld_get_image_name(std::uint64_t/|_dyld_get_image_name is not a uint32_t index"
    "name_type|s/^const char\\* _dyld_get_image_name/const wchar_t* _dyld_get_image_name/|_dyld_get_image_name is not a uint32_t index"
    "count_missing|/_dyld_image_count/d|_dyld_image_count"
    "header_missing|/_dyld_get_image_header/d|_dyld_get_image_header"
    "name_missing|/_dyld_get_image_name/d|_dyld_get_image_name"
)

declarations=MacOSX/check/DyldDeclarations.h
original=$source_dir/MacOSX/check/DyldDeclarations.h
run_guards "${rows[@]}"
