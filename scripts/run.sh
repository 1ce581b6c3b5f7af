#!/usr/bin/env bash
# Opens the manager on the demo catalog, on a fresh machine as on a used one: installs what is
# missing, builds the program and the demo tool, makes the demo catalog once (build/run/demo) and
# starts the manager with everything inside the build folder (--root build/run/demo/root, its own
# HOME), so nothing outside it is touched. Without a display it says so and writes a screenshot.
# A --root, --source or --pub given here takes the place of the demo's; the demo's key goes only
# with the demo's catalog.
#   scripts/run.sh [--serve] [manager options such as --look tq, --scale 2 or --root DIR]
#   --serve   the catalog comes over HTTP from 127.0.0.1 (paced, so downloads show their progress)
#   --help    says this, and the manager's own options once the program is built; builds nothing
set -u
cd "$(dirname "$0")/.."
build=build/run
bundle="$build/Ardune Systems Manager.app"
program="$bundle/Contents/MacOS/ardune-manager"
serve=0
args=()
for a in "$@"; do
  case "$a" in
    --serve)
      # Like the program's own options: once.
      [ $serve = 1 ] && { echo "run.sh: --serve is given twice: give it once" >&2; exit 2; }
      serve=1 ;;
    --help | -h)
      sed -n 's/^#   /  /p' "$0" | sed '1s/^  /usage: /'
      if [ -x "$program" ]; then
        echo "manager options:"
        "$program" --help | tail -n +2
      else
        echo "manager options: $program --help lists them once the program is built (the first run builds it)"
      fi
      exit 0 ;;
    *) args+=("$a") ;;
  esac
done
./scripts/install-deps.sh || exit 1
mkdir -p "$build"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMO_TESTS=OFF -DLUMO_BENCH=OFF \
    >"$build/configure.log" 2>&1 || { cat "$build/configure.log"; exit 1; }
echo "building (the first time takes a few minutes; see $build/build.log)"
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target ardune-manager ardune-demo-catalog \
    >"$build/build.log" 2>&1 || { grep -E -B2 -A12 'error|Error' "$build/build.log" | head -n 100; exit 1; }

tool="$build/tools/demo/ardune-demo-catalog"
demo="$build/demo"
if [ ! -f "$demo/catalog/catalog.json.sig" ]; then
  echo "making the demo catalog in $demo"
  rm -rf "$demo"
  "$tool" make "$demo" --bundle "$bundle" || exit 1
fi
source_arg="$demo/catalog"
server=
if [ $serve = 1 ]; then
  "$tool" serve "$demo/catalog" --rate 400000 >"$demo/server.txt" &
  server=$!
  trap 'kill $server 2>/dev/null' EXIT
  for _ in $(seq 50); do [ -s "$demo/server.txt" ] && break; sleep 0.1; done
  source_arg=$(head -n 1 "$demo/server.txt")
  echo "serving the demo catalog at $source_arg"
fi
mkdir -p "$demo/home"
# The demo's --root and --source, each unless the user gave it, and with the demo's catalog its
# --pub unless the user gave one: the program takes every option once and refuses one given twice.
# A catalog of the user's is checked against the key the user names, or the program's own.
given() { local a; for a in "${args[@]}"; do [ "$a" = "$1" ] && return 0; done; return 1; }
run=(env HOME="$PWD/$demo/home" "$program")
given --root || run+=(--root "$PWD/$demo/root")
if ! given --source; then
  run+=(--source "$source_arg")
  given --pub || run+=(--pub "$(cat "$demo/keys/public.hex")")
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  shot="$build/manager.png"
  echo "no display to open the manager's window on: painting it into $shot instead"
  "${run[@]}" "${args[@]}" --screenshot "$shot" && echo "wrote $shot"
  exit
fi
"${run[@]}" "${args[@]}"
