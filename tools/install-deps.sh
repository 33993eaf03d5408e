#!/bin/sh
# Installs the Debian packages that building, testing and the demo need;
# does nothing when they are all present.
set -e
PKGS="build-essential cmake pkg-config tcl-dev tk-dev tcl8.6-doc googletest libgtest-dev
  festival festival-dev libestools-dev festvox-kallpc16k sox libsox-fmt-all espeak-ng
  xvfb xauth libasound2-dev libasound2-plugins alsa-utils libopenblas-dev
  libminizip-dev zlib1g-dev libjpeg-dev libgl1-mesa-dev libglu1-mesa-dev libegl-dev
  libosmesa6-dev mesa-utils python3-numpy tcllib
  libegl-mesa0 libgl1-mesa-dri libx11-dev python3 valgrind"
missing=""
for p in $PKGS; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
$SUDO apt-get update -q
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends $missing
