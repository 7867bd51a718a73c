#!/bin/bash
# How long the window takes to show the 65,000-quad model of the preview bench: starts each
# given revizevoz binary ROUNDS times, alternating, under a virtual X display with openbox, and
# prints the "first frame with a model" figure of each start and their medians.
#   bench/window_startup.sh [-n ROUNDS] [-f MODEL] BINARY...
# Needs xvfb-run, openbox and a build with benchmarks (build/bin/preview_bench writes the model).
set -euo pipefail

rounds=7
model=""
while getopts "n:f:" opt; do
    case "$opt" in
    n) rounds="$OPTARG" ;;
    f) model="$OPTARG" ;;
    *) exit 2 ;;
    esac
done
shift $((OPTIND - 1))
if [ $# -eq 0 ]; then
    echo "usage: $0 [-n ROUNDS] [-f MODEL] BINARY..." >&2
    exit 2
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ -z "$model" ]; then
    here=$(cd "$(dirname "$0")/.." && pwd)
    REVIZEVOZ_BENCH_OUT="$work" "$here/build/bin/preview_bench" --benchmark_filter=renderToPng \
        --benchmark_min_time=0.01 >/dev/null
    model="$work/preview_bench.kzp"
fi

# One start on a display of its own: openbox first, as on a desktop, then the window until its
# log names the first frame with the model (at most 10 s). Nothing is started while the window
# starts: on two cores a polling grep would take time from it.
cat >"$work/start.sh" <<'EOF'
#!/bin/bash
openbox --sm-disable >/dev/null 2>&1 &
sleep 0.7
REVIZEVOZ_LOG=1 XDG_CONFIG_HOME="$3" timeout 10 "$1" "$2" >"$4" 2>&1 &
app=$!
sleep 1.5
for _ in $(seq 50); do
    grep -q "first frame with a model" "$4" && break
    sleep 0.2
done
kill $app 2>/dev/null
wait $app 2>/dev/null
kill %1 2>/dev/null
EOF
chmod +x "$work/start.sh"

declare -A figures
for ((r = 0; r < rounds; ++r)); do
    for binary in "$@"; do
        xvfb-run -a -s "-screen 0 1600x1000x24" "$work/start.sh" "$binary" "$model" "$work/config" "$work/log.txt"
        ms=$(grep -o "first frame with a model [0-9]* ms" "$work/log.txt" | grep -o "[0-9]*" || echo "none")
        echo "$binary: $ms ms"
        figures[$binary]+="$ms "
    done
done
for binary in "$@"; do
    median=$(echo "${figures[$binary]}" | tr ' ' '\n' | grep -E '^[0-9]+$' | sort -n |
        awk '{a[NR]=$1} END {if (NR) print a[int((NR+1)/2)]; else print "none"}')
    echo "median $binary: $median ms (${figures[$binary]% })"
done
