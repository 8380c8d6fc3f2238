#!/usr/bin/env bash
# Builds both Debian packages in a copy of the sources under WORK (kept, so a rerun compiles only what
# changed; no -g, for speed); checks lintian, their files, qxr8-tools' freedom from GTK, hardening.
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
echo "$rules" >rules.sum && rm -rf ./*.deb ./*.buildinfo ./*.changes root
find "$TREE" -mindepth 1 -maxdepth 1 ! -name 'obj-*' -exec rm -rf {} +
# tar keeps the files' times, so make sees unchanged sources as unchanged.
(cd "$SRC" && git ls-files -z -co --exclude-standard | tar --null -T - --ignore-failed-read -cf -) | tar -xf - -C "$TREE"
opts=(-b -us -uc) && ls -d "$TREE"/obj-* >/dev/null 2>&1 && opts+=(-nc)  # clean would drop the kept build
(cd "$TREE" && DEB_BUILD_OPTIONS="parallel=2 noautodbgsym" DEB_CFLAGS_STRIP=-g DEB_CXXFLAGS_STRIP=-g \
  dpkg-buildpackage "${opts[@]}") >build.log 2>&1 || { tail -n 40 build.log; exit 1; }
lintian --pedantic --display-info --fail-on error,warning qxr8-*.deb || fail "lintian"
deps=$(dpkg-deb -f qxr8-tools_*.deb Depends)
grep -Eiq 'gtk|gdk|glib|pango|cairo|atk|x11' <<<"$deps" && fail "qxr8-tools depends on graphical libraries: $deps"
grep -q zlib1g <<<"$deps" && grep -q libsodium <<<"$deps" || fail "qxr8-tools lacks zlib1g or libsodium: $deps"
got=$(for d in qxr8-*.deb; do dpkg-deb -c "$d" | awk -v p="${d%%_*}" '$6 ~ /bin\/.|man1\/.|\.xdk$/ {print p":"$6}'; done)
[ "$(sort <<<"$got" | tr '\n' ' ')" = "qxr8-setup:./usr/bin/qxr8-setup qxr8-setup:./usr/share/man/man1/qxr8-setup.1.gz \
qxr8-setup:./usr/share/qxr8/qxr8.xdk qxr8-tools:./usr/bin/xdktool qxr8-tools:./usr/share/man/man1/xdktool.1.gz " ] ||
  fail "unexpected programs, pages or kit: $got"
for d in qxr8-*.deb; do dpkg-deb -x "$d" root; done
# Outputs are captured: grep -q on a pipe stops the writer early, which pipefail counts as failure.
grep -qx 'qxr8\\-setup \\- .*' <<<"$(zcat root/usr/share/man/man1/qxr8-setup.1.gz)" || fail "qxr8-setup.1 names another program"
for bin in root/usr/bin/*; do
  elf=$(readelf -hd -W --dyn-syms "$bin")
  for mark in Position-Independent BIND_NOW _chk@; do grep -q "$mark" <<<"$elf" || fail "$bin lacks $mark"; done
done
exit $status
