#!/usr/bin/env bash
# Tries the setup wizard on the sample kit without touching your own
# launcher configuration: installs what is missing, builds, then runs
# build/bin/setup with a private demo HOME under build/.
#
#   ./run.sh [OPTIONS]    options go to the wizard (for example -Lru or -S)
#
# With a display the wizard opens on it and you click through it yourself.
# Without one (DISPLAY unset) it runs, with the same options, under a private
# Xvfb, is clicked through with xdotool, and screenshots of its pages go to
# build/demo-shots/.
# QXR8_BUILD_DIR=DIR builds and runs in DIR instead of build/.
# Either way the script ends by listing what was installed and registered.
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$PWD

# shellcheck source=tools/install-deps.sh
source "$ROOT/tools/install-deps.sh"
install_deps run

# QXR8_BUILD_DIR picks another build directory (default build/). Only the
# programs and the sample kit are built: a first configure leaves the tests
# out (./test.sh turns them on in the same directory later).
BUILD=${QXR8_BUILD_DIR:-build}
if [ -f "$BUILD/CMakeCache.txt" ]; then
  cmake -S . -B "$BUILD" >/dev/null
else
  cmake -S . -B "$BUILD" -DBUILD_TESTING=OFF >/dev/null
fi
cmake --build "$BUILD" -j2 --target setup xdktool sample_kit

DEMO_HOME=$ROOT/$BUILD/demo-home
rm -rf "$DEMO_HOME"
mkdir -p "$DEMO_HOME/.tmp"
echo
echo "demo HOME: $DEMO_HOME (the wizard reads and writes the launcher configuration there)"

if [ -n "${DISPLAY:-}" ]; then
  # The kit lies beside the program, where the wizard looks for it.
  HOME="$DEMO_HOME" TMPDIR="$DEMO_HOME/.tmp" "$BUILD/bin/setup" "$@"
else
  echo "no DISPLAY: running the wizard under Xvfb and clicking through it"
  tools/screenshots.sh --demo "$BUILD" "$BUILD/demo-shots" "$DEMO_HOME" "$@"
fi

CATALOG=$DEMO_HOME/.qxr8/Qx/qxr8/tmplts
CONFIG=$DEMO_HOME/.Qx/qxlaunch/qxlaunch.cfg
echo
if [ -d "$CATALOG" ]; then
  echo "installed into the default catalog $CATALOG:"
  (cd "$CATALOG" && find . -type f | sed 's|^\./|  |' | sort)
else
  echo "nothing was installed into the default catalog $CATALOG"
fi
echo
if [ -f "$CONFIG" ]; then
  echo "registered in the launcher configuration $CONFIG:"
  sed 's/^/  /' "$CONFIG"
else
  echo "no launcher configuration was written ($CONFIG)"
fi
