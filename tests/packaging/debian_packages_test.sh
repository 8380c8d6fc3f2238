#!/usr/bin/env bash
# Builds the Debian packages as `dpkg-buildpackage -b -us -uc` does from the
# tree's root, in a copy of the tracked sources under WORK (the build tree),
# and checks them: lintian --pedantic finds no error and no warning; the
# wizard is /usr/bin/qxr8-setup with its page and the sample kit; qxr8-tools
# holds xdktool and depends on zlib and libsodium but on nothing graphical;
# both programs carry the hardening flags (PIE, immediate binding, fortified
# calls). The copy's CMake folder is kept, so a rerun compiles only what
# changed, and -g is left out to halve the first build.
#   debian_packages_test.sh SOURCE_DIR WORK
set -euo pipefail
SRC=$1 WORK=$2 TREE=$2/qxr8-setup status=0
for t in dpkg-buildpackage:dpkg-dev dh:debhelper lintian:lintian git:git; do
  command -v "${t%%:*}" >/dev/null || { echo "SKIP: ${t%%:*} is missing (install ${t#*:})"; exit 77; }
done
git -C "$SRC" rev-parse >/dev/null 2>&1 || { echo "SKIP: $SRC is not a git work tree"; exit 77; }
fail() { echo "FAIL: $*"; status=1; }

mkdir -p "$TREE" && cd "$WORK"
# The kept build holds the flags of the rules it was configured with.
rules=$(md5sum <"$SRC/debian/rules") && [ "$rules" = "$(cat rules.sum 2>/dev/null)" ] || rm -rf "$TREE"/obj-*
echo "$rules" >rules.sum && find "$TREE" -mindepth 1 -maxdepth 1 ! -name 'obj-*' -exec rm -rf {} +
rm -rf ./*.deb ./*.buildinfo ./*.changes root
# tar keeps the files' times, so make sees unchanged sources as unchanged.
(cd "$SRC" && git ls-files -z -co --exclude-standard | tar --null -T - --ignore-failed-read -cf -) | tar -xf - -C "$TREE"
opts=(-b -us -uc) && ls -d "$TREE"/obj-* >/dev/null 2>&1 && opts+=(-nc)  # clean would drop the kept build
(cd "$TREE" && DEB_BUILD_OPTIONS="parallel=2 noautodbgsym" DEB_CFLAGS_STRIP=-g DEB_CXXFLAGS_STRIP=-g \
  dpkg-buildpackage "${opts[@]}") >build.log 2>&1 || { tail -n 40 build.log; exit 1; }
setup=$(echo qxr8-setup_*.deb) tools=$(echo qxr8-tools_*.deb)

lintian --pedantic --display-info --fail-on error,warning "$setup" "$tools" || fail "lintian"
deps=$(dpkg-deb -f "$tools" Depends) && echo "qxr8-tools depends on: $deps"
grep -Eiq 'gtk|gdk|glib|pango|cairo|atk|x11' <<<"$deps" && fail "qxr8-tools depends on graphical libraries"
grep -q zlib1g <<<"$deps" && grep -q libsodium <<<"$deps" || fail "qxr8-tools lacks zlib1g or libsodium"
contents=$(dpkg-deb -c "$setup" | awk '{print "setup " $6}'; dpkg-deb -c "$tools" | awk '{print "tools " $6}')
for f in 'setup ./usr/bin/qxr8-setup' 'setup ./usr/share/man/man1/qxr8-setup.1.gz' \
  'setup ./usr/share/qxr8/qxr8.xdk' 'tools ./usr/bin/xdktool' 'tools ./usr/share/man/man1/xdktool.1.gz'; do
  grep -qx "$f" <<<"$contents" || fail "missing $f"
done
[ "$(grep -c '/bin/.\|/man1/.' <<<"$contents")" -eq 4 ] || fail "stray programs or pages: $contents"
dpkg-deb -x "$setup" root && dpkg-deb -x "$tools" root
# Whole outputs are captured first: grep -q on a pipe would stop its writer
# early, and pipefail would count that as a failure.
page=$(zcat root/usr/share/man/man1/qxr8-setup.1.gz)
grep -qx 'qxr8\\-setup \\- .*' <<<"$page" || fail "qxr8-setup.1 names another program"
for bin in root/usr/bin/qxr8-setup root/usr/bin/xdktool; do
  elf=$(readelf -hd -W --dyn-syms "$bin")
  grep -q 'Position-Independent' <<<"$elf" || fail "$bin is not PIE"
  grep -q BIND_NOW <<<"$elf" || fail "$bin lacks immediate binding"
  grep -q '_chk@' <<<"$elf" || fail "$bin calls no fortified function"
done
exit $status
