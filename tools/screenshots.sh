#!/usr/bin/env bash
# Screenshots of the setup wizard, made under a private Xvfb and driven with
# xdotool on the wizard's fixed button positions (no window manager: every
# window is shown as the program draws it).
#
#   tools/screenshots.sh [BUILD_DIR [OUT_DIR]]
#       Every page and message box in English and Russian, for the README:
#       OUT_DIR/{en,ru}-{welcome,catalog,cancel-question,progress,success,
#       error-box,failure}.png; and the welcome and the catalog page in each
#       of the twelve interface languages, one contact sheet per page:
#       OUT_DIR/all-welcome.png and OUT_DIR/all-catalog.png (the single
#       pictures stay in OUT_DIR/languages/, which git ignores, for a close
#       look); and the welcome, catalog and success pages in English,
#       German, Ukrainian and Kazakh with the desktop's font at 14 points, on
#       one contact sheet: OUT_DIR/larger-text.png. Defaults: build/ and
#       docs/screenshots/.
#       QXR8_SHOTS=larger-text makes that sheet alone.
#
#   tools/screenshots.sh --demo BUILD_DIR OUT_DIR HOME_DIR [ARG...]
#       One installation of BUILD_DIR/bin/qxr8.xdk with HOME=HOME_DIR, the
#       wizard started with ARG... (for example -Lru or -S); the pages it
#       shows are saved in OUT_DIR. run.sh uses it when there is no display.
#
# Every run of the wizard gets its own HOME and TMPDIR below a scratch
# directory (the demo uses HOME_DIR), so nothing of the user's own launcher
# configuration is read or written. The description viewer is replaced by a
# stand-in that records what it was asked to open.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)

# Button centres in the 500 x 360 window.
NEXT_X=350
CANCEL_X=450
BUTTONS_Y=335

SCRATCH=""
XVFB_PID=""
SETUP_PID=""

cleanup() {
  if [ -n "$SETUP_PID" ]; then kill "$SETUP_PID" 2>/dev/null || true; fi
  if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null || true; fi
  if [ -n "$SCRATCH" ]; then rm -rf "$SCRATCH"; fi
}

start_xvfb() {
  : >"$SCRATCH/display"
  Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp -noreset 5>"$SCRATCH/display" 2>"${QXR8_XVFB_LOG:-/dev/null}" &
  XVFB_PID=$!
  for _ in $(seq 100); do
    [ -s "$SCRATCH/display" ] && break
    sleep 0.1
  done
  [ -s "$SCRATCH/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
  export DISPLAY=":$(head -n1 "$SCRATCH/display")"
  # A stand-in viewer, so Finish opens nothing on the machine.
  mkdir -p "$SCRATCH/bin"
  printf '#!/bin/sh\nprintf "%%s\\n" "$@" >>"%s/viewer.log"\n' "$SCRATCH" >"$SCRATCH/bin/xdg-open"
  chmod +x "$SCRATCH/bin/xdg-open"
}

# wizard_launch HOME KITDIR ARGS... : starts the program with the kit in
# KITDIR (it is run there with "usecwd") and waits for its wizard window;
# $WIN stays empty when none came up (the program ended first).
wizard_launch() {
  local home=$1 kitdir=$2
  shift 2
  mkdir -p "$home" "$home/.tmp"
  (cd "$kitdir" && exec env HOME="$home" TMPDIR="$home/.tmp" PATH="$SCRATCH/bin:$PATH" \
     "$SETUP" usecwd "$@") &
  SETUP_PID=$!
  WIN=$(wait_window wizard)
  sleep 0.5
}

# wizard_start HOME KITDIR ARGS... : wizard_launch, and a window is a must.
wizard_start() {
  wizard_launch "$@"
  [ -n "$WIN" ] || { echo "no wizard window" >&2; exit 1; }
}

# Whether the program started last still runs (an unattended run ends by
# itself on its final page).
wizard_running() {
  [ -n "$SETUP_PID" ] && kill -0 "$SETUP_PID" 2>/dev/null
}

# wait_window wizard|box : the id of the process's 500 x 360 window, or of
# another window (a message box); empty after 15 s or when the process ends.
wait_window() {
  local want=$1 id w h
  for _ in $(seq 150); do
    kill -0 "$SETUP_PID" 2>/dev/null || return 0
    for id in $(xdotool search --onlyvisible --pid "$SETUP_PID" 2>/dev/null); do
      eval "$(xdotool getwindowgeometry --shell "$id" | grep -E '^(WIDTH|HEIGHT)=')"
      w=$WIDTH h=$HEIGHT
      if [ "$want" = wizard ] && [ "$w" = 500 ] && [ "$h" = 360 ]; then echo "$id"; return; fi
      if [ "$want" = box ] && { [ "$w" != 500 ] || [ "$h" != 360 ]; }; then echo "$id"; return; fi
    done
    sleep 0.1
  done
}

click() {  # x y
  xdotool mousemove --window "$WIN" "$1" "$2" sleep 0.2 click 1
  sleep 0.5
}

# With no window manager the keyboard goes to the window under the pointer.
key_to() {  # window key
  xdotool mousemove --window "$1" 10 10 sleep 0.2 key "$2"
  sleep 0.5
}

shot() {  # window name
  shot_to "$1" "$OUT/$2.png"
}

shot_to() {  # window file
  xdotool mousemove 1023 767  # keep the pointer off the buttons
  sleep 0.3
  import -window "$1" "$2"
  small_png "$2"
  echo "  $2"
}

# These pictures go into git: a palette of 256 colours without dithering
# (the pages have few more colours, and dither noise compresses badly), 8
# bits a channel and the strongest compression keep them small.
small_png() {  # file
  convert "$1" -strip +dither -colors 256 -depth 8 -define png:compression-level=9 \
    -define png:compression-filter=5 -define png:exclude-chunks=date,time "$1"
}

wizard_end() {
  local i
  for i in $(seq 100); do
    kill -0 "$SETUP_PID" 2>/dev/null || break
    sleep 0.1
  done
  wait "$SETUP_PID" 2>/dev/null || true
  SETUP_PID=""
}

# The pixel at (20, 20) is the side picture on every page but the progress
# page, which has none (the window's grey shows there).
is_progress_page() {  # png
  local rgb
  rgb=$(convert "$1" -format '%[fx:int(255*p{20,20}.r)],%[fx:int(255*p{20,20}.b)]' info:)
  [ "${rgb%,*}" -gt 150 ] && [ "${rgb#*,}" -gt 150 ]
}

# Clicks Next on the catalog page and keeps shooting until a frame shows the
# progress page; then the process is stopped for a moment so that the last
# frame is taken with the bar part-way (the demo kit below takes about a
# second to install).
shoot_progress() {  # name
  local i
  click "$NEXT_X" "$BUTTONS_Y"
  for i in $(seq 100); do
    import -window "$WIN" "$SCRATCH/frame.png" 2>/dev/null || break
    if is_progress_page "$SCRATCH/frame.png"; then
      cp "$SCRATCH/frame.png" "$OUT/$1.png"
      sleep 0.25
      kill -STOP "$SETUP_PID"
      sleep 0.2
      import -window "$WIN" "$SCRATCH/frame.png"
      kill -CONT "$SETUP_PID"
      if is_progress_page "$SCRATCH/frame.png"; then cp "$SCRATCH/frame.png" "$OUT/$1.png"; fi
      echo "  $OUT/$1.png"
      return
    fi
  done
  echo "  (the installation ended before the progress page could be shot)"
}

# A kit that takes long enough to install for the progress page to be seen:
# the sample payload plus many blocks of zeros (which pack small). The time
# goes into the number of files: a few large ones are written in a blink.
make_slow_kit() {  # dir
  local payload=$SCRATCH/slow-payload i
  mkdir -p "$payload" "$1"
  cp -r "$ROOT/examples/sample-kit/payload/." "$payload/"
  mkdir -p "$payload/data"
  head -c 150000 /dev/zero >"$SCRATCH/block"
  for i in $(seq -w 1 1500); do
    cp "$SCRATCH/block" "$payload/data/block_$i.bin"
  done
  # The sample kit's own records, as the build packs them.
  LC_ALL=C.UTF-8 "$XDKTOOL" pack -1 --time 1735732800 \
    --records "$ROOT/examples/sample-kit/records.tsv" \
    -- "$payload" "$1/qxr8.xdk" >/dev/null
  rm -rf "$payload"
}

# A fresh HOME for the next run of the wizard (one path for all of them, so
# the catalog page shows the same proposal each time).
fresh_home() {
  rm -rf "$SCRATCH/home"
  mkdir -p "$SCRATCH/home"
  echo "$SCRATCH/home"
}

# All pages of one language.
shoot_language() {  # lang
  local lang=$1 home
  echo "$lang:"
  # Welcome, catalog, the cancel question (answered No), success.
  home=$(fresh_home)
  wizard_start "$home" "$KITDIR" "-L$lang"
  shot "$WIN" "$lang-welcome"
  click "$NEXT_X" "$BUTTONS_Y"
  shot "$WIN" "$lang-catalog"
  click "$CANCEL_X" "$BUTTONS_Y"
  BOX=$(wait_window box)
  shot "$BOX" "$lang-cancel-question"
  key_to "$BOX" Escape  # closing the box is not a Yes
  click "$NEXT_X" "$BUTTONS_Y"
  sleep 2
  shot "$WIN" "$lang-success"
  click "$NEXT_X" "$BUTTONS_Y"
  wizard_end

  # Progress, on the slow kit.
  home=$(fresh_home)
  wizard_start "$home" "$SLOWKIT" "-L$lang"
  click "$NEXT_X" "$BUTTONS_Y"
  shoot_progress "$lang-progress"
  for _ in $(seq 300); do
    [ -f "$home/.Qx/qxlaunch/qxlaunch.cfg" ] && break
    sleep 0.1
  done
  click "$NEXT_X" "$BUTTONS_Y"
  wizard_end

  # A failure: a file stands where the kit needs its "templates" directory.
  home=$(fresh_home)
  mkdir -p "$home/.qxr8/Qx/qxr8/tmplts"
  echo "in the way" >"$home/.qxr8/Qx/qxr8/tmplts/templates"
  wizard_start "$home" "$KITDIR" "-L$lang"
  click "$NEXT_X" "$BUTTONS_Y"
  click "$NEXT_X" "$BUTTONS_Y"
  BOX=$(wait_window box)
  shot "$BOX" "$lang-error-box"
  key_to "$BOX" Return
  sleep 0.5
  shot "$WIN" "$lang-failure"
  click "$NEXT_X" "$BUTTONS_Y"
  wizard_end
  rm -rf "$home"
}

# The interface languages, in the order of the string tables, with the names
# the contact sheets give them.
LANGUAGES=(ru:Russian uk:Ukrainian en:English lv:Latvian lt:Lithuanian bg:Bulgarian
           de:German ro:Romanian ka:Georgian kk:Kazakh vi:Vietnamese tr:Turkish)

# The welcome and the catalog page in every language, each page's twelve
# pictures put on one contact sheet (3 x 4, labelled with the language).
shoot_contact_sheets() {
  local entry lang home page args
  local dir=$OUT/languages
  mkdir -p "$dir"
  echo "every language:"
  for entry in "${LANGUAGES[@]}"; do
    lang=${entry%%:*}
    home=$(fresh_home)
    wizard_start "$home" "$KITDIR" "-L$lang"
    shot_to "$WIN" "$dir/$lang-welcome.png"
    click "$NEXT_X" "$BUTTONS_Y"
    shot_to "$WIN" "$dir/$lang-catalog.png"
    kill "$SETUP_PID"
    wizard_end
  done
  for page in welcome catalog; do
    args=()
    for entry in "${LANGUAGES[@]}"; do
      args+=(-label "${entry%%:*} (${entry#*:})" "$dir/${entry%%:*}-$page.png")
    done
    montage -font DejaVu-Sans -pointsize 15 -background '#d6d6d6' -tile 3x4 \
      -geometry +8+6 "${args[@]}" "$OUT/all-$page.png"
    small_png "$OUT/all-$page.png"
    echo "  $OUT/all-$page.png"
  done
}

# wizard_start_any HOME KITDIR ARGS... : like wizard_start, for a wizard of
# any size (larger text makes it larger): $WIN is the first window the
# program shows, and the button centres are scaled to its width.
wizard_start_any() {
  local home=$1 kitdir=$2 id
  shift 2
  mkdir -p "$home" "$home/.tmp"
  (cd "$kitdir" && exec env HOME="$home" TMPDIR="$home/.tmp" PATH="$SCRATCH/bin:$PATH" \
     "$SETUP" usecwd "$@") &
  SETUP_PID=$!
  WIN=""
  for _ in $(seq 150); do
    id=$(xdotool search --onlyvisible --pid "$SETUP_PID" 2>/dev/null | head -n1 || true)
    [ -n "$id" ] && { WIN=$id; break; }
    sleep 0.1
  done
  [ -n "$WIN" ] || { echo "no wizard window" >&2; exit 1; }
  sleep 0.5
  eval "$(xdotool getwindowgeometry --shell "$WIN" | grep -E '^WIDTH=')"
  SCALED_NEXT_X=$((NEXT_X * WIDTH / 500))
  SCALED_BUTTONS_Y=$((BUTTONS_Y * WIDTH / 500))
}

# The welcome, catalog and success pages with the desktop's font at 14
# points (a GTK resource file says so, as a desktop's settings would), in
# the four languages whose texts are longest, on one contact sheet.
shoot_larger_text() {
  local lang home page args=()
  local dir=$OUT/languages
  mkdir -p "$dir"
  printf 'gtk-font-name = "Sans 14"\n' >"$SCRATCH/gtkrc-14"
  echo "larger text:"
  for lang in en de uk kk; do
    home=$(fresh_home)
    GTK2_RC_FILES=$SCRATCH/gtkrc-14 wizard_start_any "$home" "$KITDIR" "-L$lang"
    shot_to "$WIN" "$dir/$lang-14pt-welcome.png"
    click "$SCALED_NEXT_X" "$SCALED_BUTTONS_Y"
    shot_to "$WIN" "$dir/$lang-14pt-catalog.png"
    click "$SCALED_NEXT_X" "$SCALED_BUTTONS_Y"
    sleep 2
    shot_to "$WIN" "$dir/$lang-14pt-success.png"
    kill "$SETUP_PID"
    wizard_end
    for page in welcome catalog success; do
      args+=(-label "$lang, 14 pt: $page" "$dir/$lang-14pt-$page.png")
    done
  done
  montage -font DejaVu-Sans -pointsize 15 -background '#d6d6d6' -tile 3x4 \
    -geometry +8+6 "${args[@]}" "$OUT/larger-text.png"
  small_png "$OUT/larger-text.png"
  echo "  $OUT/larger-text.png"
}

# The walk of run.sh: install the sample kit into HOME's default catalog,
# the wizard started with the given arguments. An unattended run (-S) needs
# no clicks and ends by itself; each step first looks whether the wizard is
# still there.
demo() {
  local home=$1
  shift
  wizard_launch "$home" "$KITDIR" "$@"
  if [ -z "$WIN" ]; then
    echo "the wizard ended without showing its window"
  else
    wizard_running && { shot "$WIN" welcome || true; }
    wizard_running && click "$NEXT_X" "$BUTTONS_Y"
    wizard_running && { shot "$WIN" catalog || true; }
    wizard_running && click "$NEXT_X" "$BUTTONS_Y"
    for _ in $(seq 300); do
      [ -f "$home/.Qx/qxlaunch/qxlaunch.cfg" ] && break
      wizard_running || break
      sleep 0.1
    done
    sleep 0.5
    if wizard_running; then
      shot "$WIN" success
      click "$NEXT_X" "$BUTTONS_Y"
    else
      echo "the wizard ended by itself"
    fi
  fi
  wizard_end
  if [ -f "$SCRATCH/viewer.log" ]; then
    echo "Finish asked the viewer to open: $(cat "$SCRATCH/viewer.log")"
  fi
}

main() {
  local mode=docs
  if [ "${1:-}" = --demo ]; then
    mode=demo
    shift
  fi
  BUILD=$(cd "${1:-$ROOT/build}" && pwd)
  OUT=${2:-$ROOT/docs/screenshots}
  SETUP=$BUILD/bin/setup
  XDKTOOL=$BUILD/bin/xdktool
  for f in "$SETUP" "$BUILD/bin/qxr8.xdk"; do
    [ -e "$f" ] || { echo "missing $f: build first" >&2; exit 1; }
  done
  mkdir -p "$OUT"
  OUT=$(cd "$OUT" && pwd)
  SCRATCH=$(mktemp -d /tmp/qxr8-demo.XXXXXX)
  trap cleanup EXIT
  KITDIR=$SCRATCH/kit
  mkdir -p "$KITDIR"
  cp "$BUILD/bin/qxr8.xdk" "$KITDIR/"
  start_xvfb
  export LC_ALL=C.UTF-8 LANG=C.UTF-8
  if [ $mode = demo ]; then
    local home=$3
    shift 3
    demo "$home" "$@"
    return
  fi
  SLOWKIT=$SCRATCH/slow-kit
  make_slow_kit "$SLOWKIT"
  if [ "${QXR8_SHOTS:-all}" != larger-text ]; then
    shoot_language en
    shoot_language ru
    shoot_contact_sheets
  fi
  shoot_larger_text
}

main "$@"
