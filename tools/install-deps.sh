# Sourced by test.sh and run.sh: installs, with apt-get, whatever of the
# build and test dependencies is missing. Quick when all is present.
QXR8_PACKAGES="g++ clang cmake make pkg-config libgtk2.0-dev zlib1g-dev uthash-dev \
libgtest-dev xvfb xauth xdotool imagemagick libclang-rt-14-dev"

install_deps() {
  local missing=() p
  for p in $QXR8_PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "installing: ${missing[*]}" >&2
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}
