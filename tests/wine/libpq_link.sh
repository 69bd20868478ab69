#!/usr/bin/env bash
# The static libpq of scripts/libpq-windows as the Windows programs will link it: each way of
# linking in the first table must work with the folder's link line (a C program; a static C++
# program with std::thread, whose winpthreads must not meet libpq's own pthread names), and
# each question in the second table, put to the C++ program under Wine, must get its answer.
#
# Usage: libpq_link.sh WINE LIBPQ_FOLDER OUT_DIR
# Needs the mingw-w64 C and C++ compilers and WINEPREFIX (scripts/test-windows sets it up).
set -u
wine=$1 libpq=$2 out=$3
here=$(cd "$(dirname "$0")" && pwd)
work="$out/libpq-link"
rm -rf "$work"
mkdir -p "$work"
failures=0
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}

libs=$(sed -n 's/^link, in this order: //p' "$libpq/BUILD-INFO")
[ -n "$libs" ] || { echo "FAILED: $libpq/BUILD-INFO names no link line"; exit 1; }
pg_version=$(sed -n 's/.*(PG_VERSION_NUM \([0-9]*\))$/\1/p' "$libpq/BUILD-INFO")

cat >"$work/plain.c" <<'C'
#include <libpq-fe.h>
#include <stdio.h>
int main(void) { printf("%d\n", PQlibVersion()); return 0; }
C

# name | compiler | source
builds=(
    "plain-c|x86_64-w64-mingw32-gcc-posix|$work/plain.c"
    "probe|x86_64-w64-mingw32-g++-posix -std=c++20|$here/libpq_probe.cpp"
)
for row in "${builds[@]}"; do
    IFS='|' read -r name compiler source <<<"$row"
    # shellcheck disable=SC2086 # the compiler's flags and the libraries are words
    if ! $compiler -O2 -Wall -Werror -I"$libpq/include" "$source" -o "$work/$name.exe" -static \
        -L"$libpq/lib" $libs >"$work/$name.link.log" 2>&1; then
        fail "$name does not link:"
        head -n 20 "$work/$name.link.log"
    fi
done

# program and argument | what its output must match (extended regular expression)
questions=(
    "plain-c|^${pg_version}\$"
    "probe version|^${pg_version}\$"
    "probe refused|^BAD .*127\.0\.0\.1.*port 1 failed: Connection refused"
    "probe bad-option|^BAD invalid connection option \"nosuchoption\""
    "probe parse|^port=5433\$"
    "probe parse|^host=db\.line\$"
    "probe md5|^md503d17df2cc40b6b7bc93f5a50a94a11b\$"
    "probe threads|^threadsafe=1 bad=4 locked=4\$"
)
[ -n "$pg_version" ] || fail "BUILD-INFO names no PG_VERSION_NUM"
for row in "${questions[@]}"; do
    IFS='|' read -r command expected <<<"$row"
    read -r name arg <<<"$command"
    [ -f "$work/$name.exe" ] || { fail "$command: no $name.exe"; continue; }
    # shellcheck disable=SC2086 # no argument is no word
    answer=$(cd "$work" && timeout 60 "$wine" "$name.exe" $arg 2>"$work/$name.$arg.err" | tr -d '\r')
    status=$?
    if [ $status -ne 0 ]; then
        fail "$command ended with $status: $answer"
    elif ! grep -Eq -- "$expected" <<<"$answer"; then
        fail "$command answered \"$answer\", not /$expected/"
    else
        echo "ok: $command"
    fi
done
[ $failures -eq 0 ] || { echo "$failures failed"; exit 1; }
echo "libpq links and answers: all ${#builds[@]} builds, ${#questions[@]} questions"
