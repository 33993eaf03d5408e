#!/bin/sh
# Installs the Debian packages that building, testing and the demo need;
# does nothing when they are all present. Each subsystem lists what it adds
# in tools/deps/*.txt (one package a word, '#' starts a comment).
set -e
here=$(dirname "$0")
PKGS=$(sed 's/#.*//' "$here"/deps/*.txt)
missing=""
for p in $PKGS; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
$SUDO apt-get update -q
DEBIAN_FRONTEND=noninteractive $SUDO apt-get -o DPkg::Lock::Timeout=900 install -y -q --no-install-recommends $missing
