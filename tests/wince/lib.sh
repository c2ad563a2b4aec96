# Sourced by the CE image tests: builds small guest programs into CE images
# with the handheld's compiler flags and our converter.
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
NEED_STATUS=77
. "$top/tests/lib.sh"
need arm-linux-gnueabi-g++ g++-arm-linux-gnueabi
need arm-linux-gnueabi-ld binutils-arm-linux-gnueabi
need x86_64-w64-mingw32-windres binutils-mingw-w64-x86-64
need /usr/bin/python3 python3-minimal
# The handheld's compiler flags, as CMake hands them over (cmake/wince-flags.cmake).
ce_flags=${SAMBREL_CE_FLAGS:?is set by ctest from cmake/wince-flags.cmake: run this test through ctest}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
x86_64-w64-mingw32-windres -I"$top" -O res "$top/res/sambrel.rc" -o "$work/sambrel.res"


# guest NAME FILE.(c|cpp|s) [EXTRA FLAGS...]: compiles, merges with ld -r
# into $work/NAME.o. The program's handheld flags come first, so extra
# flags override them.
guest() {
    local name=$1 src=$2
    shift 2
    case $src in
        *.s) arm-linux-gnueabi-as $ce_flags_as "$@" "$src" -o "$work/$name.part.o" ;;
        *) arm-linux-gnueabi-g++ $ce_flags -Os -I"$top" -I"$top/platform/wince/public" \
               -x "$( [ "${src##*.}" = c ] && echo c || echo c++)" "$@" -c "$src" -o "$work/$name.part.o" ;;
    esac || return 1
    # shellcheck disable=SC2086
    arm-linux-gnueabi-ld -r ${guest_ld_flags---gc-sections -e SambrelStartup} "$work/$name.part.o" -o "$work/$name.o"
}
ce_flags_as="-march=armv4"

# convert NAME: $work/NAME.o to $work/NAME.exe; the converter's messages
# land in $work/NAME.err.
convert() {
    /usr/bin/python3 "$top/platform/wince/elf2ce.py" --entry SambrelStartup --resources "$work/sambrel.res" \
        -o "$work/$1.exe" "$work/$1.o" 2>"$work/$1.err"
}

