#!/usr/bin/env bash
# The package as a user gets it: lintian, then a fresh Debian 12 root made by mmdebstrap from
# Debian's archive, where in_root_test.sh installs it with apt-get, uses it and purges it.
# Usage: package_test.sh PACKAGE.deb BUILT_VORTELLINE
set -euo pipefail
package=$(realpath "$1")
program=$(realpath "$2")
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "lintian $(basename "$package"):"
lintian --fail-on error,warning "$package"

# The frames the installed program must give, byte for byte: the built program's, the second from
# a preset with an emitter image, which the installed program reads from the installed data.
mkdir "$work/reference"
"$program" render --size 64x36 --frame 12 --quiet -o "$work/reference/default.png"
"$program" render --size 64x36 --frame 12 --quiet --preset burning-text -o "$work/reference/burning-text.png"
# The plug-ins default to Draft quality, for editing.
"$program" render --size 64x36 --frame 12 --quiet --set "Quality=Draft (64)" -o "$work/reference/plugin-default.png"

# A root with the sources of a Debian 12 installation, updates included; they are given so that
# mmdebstrap never waits to read them from standard input. The packages apt already downloaded on
# this machine are hard-linked into the root's cache (links, so that the root's clean-up leaves
# the originals alone), which spares most downloads.
mmdebstrap --variant=apt --mode=root --format=null --quiet \
  --setup-hook='mkdir -p "$1/var/cache/apt/archives"
    find /var/cache/apt/archives -maxdepth 1 -name "*.deb" -exec ln -t "$1/var/cache/apt/archives" {} + || true' \
  --customize-hook="copy-in $package $here/in_root_test.sh $work/reference /root" \
  --customize-hook="chroot \"\$1\" bash /root/in_root_test.sh /root/$(basename "$package") /root/reference" \
  bookworm - </dev/null \
  "deb http://deb.debian.org/debian bookworm main" \
  "deb http://deb.debian.org/debian bookworm-updates main" \
  "deb http://deb.debian.org/debian-security bookworm-security main"
