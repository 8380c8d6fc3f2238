# shellcheck shell=bash
# Sourced by run.sh and test.sh: installs, with apt-get, whatever of one
# purpose's packages is missing. Quick when all is present.
#
#   install_deps run        build the programs and run the wizard
#   install_deps normal     build and run the test suite (test.sh's modes)
#   install_deps sanitize   the same (g++ brings its sanitizer runtimes)
#   install_deps fuzz       the test build with clang and its fuzzer runtime
#
# No name here carries a compiler version, so the lists hold on any current
# Debian or Ubuntu. As root apt-get runs directly, otherwise through sudo;
# with neither, the function prints what to install and returns non-zero.

# Building and running the programs. xdg-utils gives the wizard xdg-open,
# without which Finish cannot show the kit's description; libsodium checks
# the signatures of signed kits.
QXR8_BUILD_PACKAGES="g++ cmake make pkg-config libgtk2.0-dev zlib1g-dev uthash-dev libsodium-dev xdg-utils"
# Showing the wizard without a display: a private X server, clicks and
# screenshots (run.sh through tools/screenshots.sh).
QXR8_HEADLESS_PACKAGES="xvfb xdotool imagemagick"
# The test suite: GoogleTest, xvfb-run (which needs xauth), the locale
# sources from which a test builds a locale of its own (locales), the manual
# page check (groff), the deployment example's test (ansible-core), the
# trace of an installation's syncs (strace) and the signing tool authors use,
# whose kits the tests check (minisign).
QXR8_TEST_PACKAGES="libgtest-dev xvfb xauth xdotool imagemagick locales groff-base ansible-core strace minisign"
# The Debian packages' test: dpkg-buildpackage (dpkg-dev), which also wants
# build-essential present, dh (debhelper) and lintian. No fakeroot: the
# packages' rules need no root.
QXR8_PACKAGING_PACKAGES="dpkg-dev build-essential debhelper lintian"
# The screen-reader test reads the wizard as a screen reader does, through
# AT-SPI: a session bus (dbus), the accessibility bus and its registry
# (at-spi2-core), GTK 2's accessibility module and its bridge to AT-SPI
# (libgail-common, libatk-adaptor) and the reader's Python binding
# (python3-pyatspi). Without them that test tries the keys alone.
QXR8_A11Y_PACKAGES="dbus at-spi2-core libgail-common libatk-adaptor python3-pyatspi"

# Prints the packages of `$@` that are not installed, one per line.
qxr8_missing_packages() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || echo "$p"
  done
}

# Installs the packages `$@` (all of them missing). Returns non-zero, after
# saying what to run, when this user cannot install packages.
qxr8_apt_install() {
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null 2>&1; then
      {
        echo "These packages are missing: $*"
        echo "Installing them needs root, and sudo is not available. As root, run:"
        echo "  apt-get update && apt-get install --no-install-recommends $*"
        echo "then run this script again."
      } >&2
      return 1
    fi
    sudo=(sudo)
  fi
  echo "installing: $*" >&2
  "${sudo[@]}" apt-get update -qq || return 1
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "$@" \
    >/dev/null || return 1
}

# The package holding clang's libFuzzer runtime, by name: the distribution's
# meta package where it has one, else the one named for the installed
# clang's major version, else nothing (older releases ship the runtime with
# clang itself). Needs clang installed.
qxr8_fuzzer_runtime_package() {
  local major
  if apt-cache show libclang-rt-dev >/dev/null 2>&1; then
    echo libclang-rt-dev
    return
  fi
  major=$(clang -dumpversion 2>/dev/null | cut -d. -f1)
  if [ -n "$major" ] && apt-cache show "libclang-rt-$major-dev" >/dev/null 2>&1; then
    echo "libclang-rt-$major-dev"
  fi
}

install_deps() {  # purpose: run | normal | sanitize | fuzz
  local purpose=${1:-normal} wanted missing
  wanted=$QXR8_BUILD_PACKAGES
  case $purpose in
    run) [ -n "${DISPLAY:-}" ] || wanted="$wanted $QXR8_HEADLESS_PACKAGES" ;;
    normal | sanitize) wanted="$wanted $QXR8_TEST_PACKAGES $QXR8_PACKAGING_PACKAGES $QXR8_A11Y_PACKAGES" ;;
    fuzz) wanted="$wanted libgtest-dev clang" ;;
    *) echo "install_deps: unknown purpose '$purpose'" >&2; return 2 ;;
  esac
  # shellcheck disable=SC2086  # the lists are split on purpose
  missing=$(qxr8_missing_packages $wanted)
  if [ -n "$missing" ]; then
    # shellcheck disable=SC2086
    qxr8_apt_install $missing || return 1
  fi
  if [ "$purpose" = fuzz ]; then
    # The runtime's package name depends on clang, so it is looked up once
    # clang is there.
    # shellcheck disable=SC2046
    missing=$(qxr8_missing_packages $(qxr8_fuzzer_runtime_package))
    if [ -n "$missing" ]; then
      # shellcheck disable=SC2086
      qxr8_apt_install $missing || return 1
    fi
  fi
  return 0
}
