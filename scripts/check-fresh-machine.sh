#!/usr/bin/env bash
# check-fresh-machine.sh [--keep] [ROOT]: tries the README's two commands as
# a new user on a bare Debian 12 would. Makes a minimal Debian 12 root in ROOT
# (/var/tmp/ledgerly-fresh-machine unless named) with debootstrap, from the
# Debian mirror this machine's apt uses, clones the committed tree (HEAD, not
# the working files) into it, and runs the commands of the README's "Two
# commands" section there one after the other, as root in a chroot with /proc,
# /sys and /dev mounted, CI=true and no standard input. Prints how long each
# took; exits 1 when one of them fails. The mounts are undone however it ends;
# ROOT is removed after a pass, kept after a failure (or with --keep) to look
# into. Run as root; needs debootstrap and git. Takes the better part of an
# hour: the test command installs Wine, Clang and LibreOffice and runs every
# stage.
set -euo pipefail
keep=0
if [ "${1-}" = --keep ]; then
  keep=1
  shift
fi
root="$(realpath -m "${1:-/var/tmp/ledgerly-fresh-machine}")"
repo="$(cd "$(dirname "$0")/.." && pwd)"
sources=/etc/apt/sources.list.d/debian.sources
[ "$(id -u)" = 0 ] || {
  echo "check-fresh-machine: run it as root (debootstrap, chroot, mount)" >&2
  exit 2
}
command -v debootstrap >/dev/null || {
  echo "check-fresh-machine: needs debootstrap (apt-get install debootstrap)" >&2
  exit 2
}

# readme_commands: the command lines of the sh blocks in the README's "Two
# commands" section, one a line.
readme_commands() {
  awk '/^## /{inside = /^## Two commands/; next}
       inside && /^```/{block = !block; next}
       inside && block && NF && !/^[ \t]*#/' "$repo/README.md"
}

# mirror: the first URI of the debian.sources stanza that gives bookworm.
mirror() {
  awk 'tolower($1) == "uris:" {uri = $2}
       tolower($1) == "suites:" {for (i = 2; i <= NF; i++) if ($i == "bookworm") found = 1}
       /^[ \t]*$/ {if (found && uri != "") {print uri; exit} uri = ""; found = 0}
       END {if (found && uri != "") print uri}' "$sources" | head -n 1
}

# mounts: the mount points under ROOT, deepest first.
mounts() {
  awk -v root="$root" '$2 == root || index($2, root "/") == 1 {print $2}' /proc/self/mounts |
    sort -r
}

# remove_root: undoes every mount under ROOT, then removes it; refuses while
# anything stays mounted there (the host's /dev and /sys are bound in).
remove_root() {
  local point
  mounts | while read -r point; do umount -l "$point" 2>/dev/null || true; done
  if [ -n "$(mounts)" ]; then
    echo "check-fresh-machine: still mounted, $root is not removed: $(mounts)" >&2
    return 1
  fi
  rm -rf --one-file-system "$root"
}

# finish: on any exit, the mounts go; ROOT too after a pass (unless --keep).
# shellcheck disable=SC2317 # called by the EXIT trap
finish() {
  local status=$? point
  if [ "$status" = 0 ] && ((!keep)); then
    remove_root || status=1
  else
    mounts | while read -r point; do umount -l "$point" 2>/dev/null || true; done
    echo "check-fresh-machine: the root is kept in $root"
  fi
  exit "$status"
}

mapfile -t commands < <(readme_commands)
[ "${#commands[@]}" = 2 ] || {
  echo "check-fresh-machine: expected two commands in the README, found: ${commands[*]-}" >&2
  exit 2
}
head="$(git -C "$repo" rev-parse HEAD)"
base="$(mirror)"
base="${base:-http://deb.debian.org/debian}"

remove_root
trap finish EXIT
mkdir -p "$root"

started=$SECONDS
echo "=== debootstrap --variant=minbase bookworm $root $base"
debootstrap --variant=minbase bookworm "$root" "$base" >"$root.debootstrap.log" 2>&1 || {
  tail -n 30 "$root.debootstrap.log" >&2
  exit 1
}
rm -f "$root.debootstrap.log"
bootstrap_seconds=$((SECONDS - started))
# The same archive as this machine's apt (binary packages only, as on a new
# install), and its name service.
rm -f "$root/etc/apt/sources.list"
install -m 644 "$sources" "$root/etc/apt/sources.list.d/debian.sources"
cp -L /etc/resolv.conf /etc/hosts "$root/etc/"

echo "=== clone of $head"
git clone -q --no-checkout "$repo" "$root/root/ledgerly"
git -C "$root/root/ledgerly" checkout -q --detach "$head"

mount -t proc proc "$root/proc"
mount --rbind /sys "$root/sys"
mount --make-rslave "$root/sys"
mount --rbind /dev "$root/dev"
mount --make-rslave "$root/dev"

results=() status=0
for command in "${commands[@]}"; do
  echo "=== $command"
  started=$SECONDS
  result=passed
  env -i HOME=/root USER=root LOGNAME=root LANG=C.UTF-8 TERM=dumb CI=true \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    chroot "$root" /bin/bash -c "cd /root/ledgerly && $command" </dev/null || {
    result="FAILED (status $?)"
    status=1
  }
  results+=("$(printf '%-24s %s in %d min %02d s' "$command" "$result" \
    $(((SECONDS - started) / 60)) $(((SECONDS - started) % 60)))")
  [ "$status" = 0 ] || break
done

echo "=== bare Debian 12 (minbase, made in $((bootstrap_seconds / 60)) min $((bootstrap_seconds % 60)) s), commit $head:"
printf '%s\n' "${results[@]}"
if [ "$status" = 0 ]; then
  echo "Both README commands passed on a fresh machine at $(date -u '+%Y-%m-%d %H:%M UTC')."
fi
exit "$status"
