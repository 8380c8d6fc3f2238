#!/usr/bin/env bash
# Runs the Ansible example against this machine (-c local) with a private
# HOME, deploying the sample kit with the freshly built xdktool:
#   1. the first run installs and registers the catalog and reports the
#      install as changed;
#   2. a second run reports nothing changed;
#   3. check mode (an out-of-date file, a newer kit) plans the real change,
#      writes nothing, leaves no copy; a lost registration is put back;
#   4. a run whose install xdktool fails (the catalog lies below a regular
#      file) fails the play;
#   5. with the kit deleted from the host, state absent plans the removal in
#      check mode, then takes the kit out by its record and unregisters the
#      catalog, and again reports nothing changed;
#   6. with minisign: a kit signed by the key the play gives installs, the
#      unsigned kit over it only with qxr8_accept_new_signer, and the signed
#      kit changed after signing fails the play, nothing written.
#   ansible_deploy_test.sh EXAMPLE_DIR BIN_DIR
set -euo pipefail
EXAMPLE=$1
BIN=$2

if ! command -v ansible-playbook >/dev/null 2>&1; then
  echo "SKIP: ansible-playbook is not installed (./test.sh installs ansible-core)"
  exit 77
fi

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
export HOME=$WORK/home TMPDIR=$WORK/tmp
mkdir -p "$HOME" "$TMPDIR"
cd "$WORK"  # no ansible.cfg of the caller's is read
unset ANSIBLE_CONFIG
export ANSIBLE_STDOUT_CALLBACK=default ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0 \
  ANSIBLE_LOCALHOST_WARNING=0 ANSIBLE_INVENTORY_UNPARSED_WARNING=0 \
  ANSIBLE_PYTHON_INTERPRETER=auto_silent ANSIBLE_PIPELINING=1

# play OUTPUT [ansible-playbook args]; prints nothing, returns its status.
play() {
  local out=$1; shift
  ansible-playbook -i localhost, -c local -e "qxr8_kit_src=$BIN/qxr8.xdk" \
    -e "qxr8_xdktool=$BIN/xdktool" "$@" "$EXAMPLE/site.yml" >"$out" 2>"$out.err"
}

# result OUTPUT [TASK]: "CHANGED FAILED OUTCOME", the play recap's counts
# for localhost and the outcome (changed, ok, fatal, skipping or missing)
# of the task whose name begins with TASK (default "Install the kit"),
# read from the default callback's text.
result() {
  python3 - "$1" "${2:-Install the kit}" <<'PY'
import re, sys
text = open(sys.argv[1]).read()
recap = re.search(r"^localhost\s*:.*\bchanged=(\d+).*\bfailed=(\d+)", text, re.M)
task = re.search(r"^TASK \[[^\]]*" + re.escape(sys.argv[2]) + r"[^\]]*\].*?^(changed|ok|fatal|skipping):",
                 text, re.M | re.S)
print(recap.group(1) if recap else "?", recap.group(2) if recap else "?",
      task.group(1) if task else "missing")
PY
}

fail() {
  echo "FAIL: $*"
  for f in "$WORK"/run*.out; do echo "--- $f"; cat "$f" "$f.err"; done
  exit 1
}

CATALOG=$HOME/.qxr8/Qx/qxr8/tmplts
play run1.out || fail "the first run failed"
read -r changed failures install <<<"$(result run1.out)"
[ "$install" = changed ] || fail "first run: the install task was $install, not changed"
[ -f "$CATALOG/templates/forms/order_entry.frm" ] || fail "first run: nothing installed in $CATALOG"
grep -qF "$CATALOG" "$HOME/.Qx/qxlaunch/qxlaunch.cfg" || fail "first run: the catalog is not registered"

play run2.out || fail "the second run failed"
read -r changed failures install <<<"$(result run2.out)"
if [ "$changed" != 0 ] || [ "$install" != ok ]; then
  fail "second run: $changed tasks changed (install task: $install), expected none"
fi

rm "$HOME/.Qx/qxlaunch/qxlaunch.cfg"  # a lost registration: put back, a change
play run2b.out && [ "$(result run2b.out | cut -d' ' -f3)" = changed ] || fail "lost registration"
# An out-of-date file: check mode plans to replace it, and leaves it.
FORM=$CATALOG/templates/forms/order_entry.frm
touch -d @1000000000 "$FORM"
before=$(find "$CATALOG" -printf '%p %s %T@\n' | sort)
play run3.out --check --diff || fail "the check-mode run failed"
read -r changed failures plan <<<"$(result run3.out "Plan the change")"
[ "$plan" = changed ] || fail "check mode: the plan was $plan, not changed"
grep -qF "$FORM" run3.out || fail "check mode: --diff does not show the planned file"
[ "$(find "$CATALOG" -printf '%p %s %T@\n' | sort)" = "$before" ] || fail "check mode wrote"
play run3b.out || fail "the run after check mode failed"

"$BIN/xdktool" pack --product Newer --vendor Labs --time "$(date +%s)" "$CATALOG" "$WORK/newer.xdk" >/dev/null
play run3c.out --check --diff -e "qxr8_kit_src=$WORK/newer.xdk" || fail "check mode, newer kit"
grep -qE "dry run: [1-9][0-9]* files would be written \(0 new" run3c.out && cmp -s \
  "$BIN/qxr8.xdk" "${DEPLOYED:=$HOME/.cache/qxr8/qxr8.xdk}" || fail "newer kit: not planned or deployed"
printf 'not a kit' >"$WORK/broken.xdk"
play run3d.out --check -e "qxr8_kit_src=$WORK/broken.xdk" && fail "a broken kit was planned"
[ -z "$(find "$HOME" "$TMPDIR" -name '*.xdk*' ! -path "$DEPLOYED")" ] || fail "a copy was left"

: >"$WORK/not-a-dir"
if play run4.out -e "qxr8_catalog=$WORK/not-a-dir/catalog" --start-at-task "Install the kit into the catalog and register the catalog"; then
  fail "a run whose install fails succeeded"
fi
read -r changed failures install <<<"$(result run4.out)"
if [ "$install" != fatal ] || [ "$failures" = 0 ]; then
  fail "failing install: the install task was $install ($failures failed), not fatal"
fi

rm "$DEPLOYED"  # removal goes by the catalog's record, not by the kit
play run5a.out --check -e qxr8_state=absent && [ "$(result run5a.out "Plan the removal" | cut -d' ' -f3)" = changed ] \
  && [ -f "$FORM" ] || fail "absent, check mode: no removal planned, or files removed"
play run5.out -e qxr8_state=absent || fail "the absent run failed"
read -r changed failures remove <<<"$(result run5.out "Remove the kit")"
[ "$remove" = changed ] || fail "absent: the removal was $remove, not changed"
[ -z "$(find "$CATALOG" -type f)" ] || fail "absent: files are left in $CATALOG"
if grep -qF "$CATALOG" "$HOME/.Qx/qxlaunch/qxlaunch.cfg"; then
  fail "absent: the catalog is still registered"
fi
play run6.out -e qxr8_state=absent || fail "the second absent run failed"
read -r changed failures remove <<<"$(result run6.out "Remove the kit")"
if [ "$changed" != 0 ] || [ "$remove" != skipping ]; then
  fail "second absent run: $changed tasks changed (removal: $remove), expected none"
fi

signed=skipped
if command -v minisign >/dev/null 2>&1; then
  minisign -G -W -p "$WORK/author.pub" -s "$WORK/author.key" >/dev/null
  cp "$BIN/qxr8.xdk" "$WORK/signed.xdk"
  minisign -S -s "$WORK/author.key" -m "$WORK/signed.xdk" -t "Qxr8 Labs" >/dev/null
  keyed=(-e "qxr8_kit_src=$WORK/signed.xdk" -e "qxr8_public_key=$WORK/author.pub")
  play run7.out "${keyed[@]}" || fail "the signed kit was refused"
  [ -f "$FORM" ] || fail "signed kit: nothing installed"
  ! play run7a.out && grep -qF "Pass --accept-new-signer" run7a.out || fail "an unsigned kit replaced the signed one"
  play run7b.out -e qxr8_accept_new_signer=true || fail "the accepted new signer was refused"
  rm -rf "$CATALOG"
  printf '\0' >>"$WORK/signed.xdk"
  if play run8.out "${keyed[@]}"; then fail "a kit changed after signing was installed"; fi
  [ -z "$(find "$CATALOG" -type f 2>/dev/null)" ] || fail "the changed kit left files"
  signed="signed kit installed, unsigned one only accepted over it, changed one refused"
fi
echo "present changed, again unchanged, lost registration restored, check mode planned the new kit without writing, failing install fails, absent planned and removed without the kit, again unchanged, $signed"
