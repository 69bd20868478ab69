#!/usr/bin/env bash
# vrkcfg --simulate on a real X server: the window comes up, the link to the simulated unit is
# established and the panel filled, and a picture of the window is written to the build folder.
# Usage: smoke_xvfb.sh VRKCFG OUTPUT_DIR DEMO_DIR
set -u
vrkcfg=$1
out=$2
demo=$3
if ! command -v Xvfb >/dev/null 2>&1; then
    echo "SKIPPED: Xvfb is not installed (apt-get install xvfb)"
    exit 77
fi
mkdir -p "$out"
picture="$out/smoke-linked.png"
rm -f "$picture"

# Xvfb picks a free display itself and writes its number to the descriptor we give it, so
# parallel runs never collide.
numfile=$(mktemp)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$numfile" 2>/dev/null &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null; rm -f "$numfile"' EXIT
for _ in $(seq 200); do
    [ -s "$numfile" ] && break
    kill -0 "$xvfb" 2>/dev/null || { echo "Xvfb did not start"; exit 1; }
    sleep 0.05
done
[ -s "$numfile" ] || { echo "Xvfb gave no display"; exit 1; }
display=":$(head -n 1 "$numfile")"

cd "$demo" || exit 1
DISPLAY=$display QT_QPA_PLATFORM=xcb timeout 180 "$vrkcfg" --simulate --self-test "$picture"
rc=$?
if [ $rc -ne 0 ]; then
    echo "vrkcfg --simulate --self-test failed with $rc"
    exit 1
fi
if [ ! -s "$picture" ]; then
    echo "no picture written"
    exit 1
fi
echo "linked; picture: $picture"
