#!/bin/sh
# Registers qemu-user with binfmt_misc for each architecture named (s390x, aarch64), so that a
# test that starts the program for that architecture starts it under qemu. Debian's
# qemu-user-binfmt installs the entries in /usr/lib/binfmt.d, which systemd-binfmt registers at
# boot; on a machine without systemd this script does it. Needs root; an entry already
# registered is left as it is.
#   register-qemu.sh ARCH...
set -eu
binfmt=/proc/sys/fs/binfmt_misc
if [ ! -e "$binfmt/register" ]; then
  mount -t binfmt_misc binfmt_misc "$binfmt" || {
    echo "cannot mount binfmt_misc on $binfmt" >&2
    exit 1
  }
fi
for arch in "$@"; do
  [ -e "$binfmt/qemu-$arch" ] && continue
  entry=/usr/lib/binfmt.d/qemu-$arch.conf
  [ -r "$entry" ] || { echo "$entry not found: install qemu-user-binfmt" >&2; exit 1; }
  # Each line is already in the form the register file takes: :name:type:offset:magic:mask:...
  grep -v '^#' "$entry" >"$binfmt/register"
  echo "registered qemu-$arch"
done
