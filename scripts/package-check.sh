#!/usr/bin/env bash
# Builds the Debian packages, installs them on this machine, checks them as a
# user would meet them, and purges them again (CI runs this from test.sh):
#   - every program answers --version; ziv lists the nine tools;
#   - zivgrab fetches an image from the installed camsim for a user with no
#     registry folder of their own (a fresh HOME, an unprivileged user when
#     run as root): the control's registration comes from the machine;
#   - a reinstall leaves one set of the machine's entries;
#   - man finds every page and each renders without a groff warning;
#   - the desktop entry and the AppStream description validate;
#   - after the purge no registration and no file is left in the machine's folder.
#   bash scripts/package-check.sh [DEBDIR]   use the packages already built in DEBDIR
set -euo pipefail
cd "$(dirname "$0")/.."
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
machine_dir=/var/lib/ziv/registry
hive=$machine_dir/HKEY_CLASSES_ROOT.reg
control_key='[HKEY_CLASSES_ROOT\CLSID\{1AB0D3D2-4F4E-459E-8B38-3DAB46844FDF}]'
programs=(zivClient zivgrab camsim ziv-regsvr ziv)
tools=(convert exewrap packwrap binload txtload picload recmake recjoin recraw)
pages=(zivClient.1 zivgrab.1 camsim.1 ziv-regsvr.1 ziv.1 ziv-download.5 ziv-srec.5 ziv-registry.5)
for tool in "${tools[@]}"; do pages+=("ziv-$tool.1"); done

debdir=${1:-}
if [ -z "$debdir" ]; then
  debdir=build-deb
  # Lean for CI: no debug symbols to compile, no -dbgsym packages.
  DEB_BUILD_OPTIONS=noddebs DEB_CFLAGS_MAINT_STRIP=-g DEB_CXXFLAGS_MAINT_STRIP=-g bash scripts/package.sh "$debdir"
fi

fail() {
  echo "package-check: $*" >&2
  exit 1
}
work=$(mktemp -d)
camsim_pid=
cleanup() {
  if [ -n "$camsim_pid" ]; then kill "$camsim_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "== package-check: install"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get install -y --no-install-recommends "$(realpath "$debdir")"/*.deb

echo "== package-check: programs"
for p in "${programs[@]}"; do
  [ "$(command -v "$p")" = "/usr/bin/$p" ] || fail "$p is not in /usr/bin"
  "$p" --version | grep -q " 1\.0$" || fail "$p --version"
done
[ "$(ziv --list | wc -l)" -eq ${#tools[@]} ] || fail "ziv --list does not name the nine tools"
for tool in "${tools[@]}"; do
  [ -x "/usr/lib/ziv/bin/$tool" ] || fail "$tool missing from /usr/lib/ziv/bin"
done
ziv recraw >/dev/null 2>&1 && fail "ziv recraw without input.msf succeeded"
# The camera library's packages: the development files, the Python module, the GStreamer element.
pkg-config --exists zivcam || fail "pkg-config finds no zivcam"
/usr/bin/python3 -c "import ziv" || fail "Debian's python3 cannot import ziv"
if command -v gst-inspect-1.0 >/dev/null; then
  gst-inspect-1.0 zivsrc >/dev/null || fail "gst-inspect-1.0 finds no zivsrc"
fi

echo "== package-check: machine registration"
grep -qF "$control_key" "$hive" || fail "the control is not registered in $hive"
"${sudo_cmd[@]}" apt-get install -y --reinstall "$(realpath "$debdir")"/ziv_*.deb >/dev/null
[ "$(grep -cF "$control_key" "$hive")" -eq 1 ] || fail "a reinstall left more than one registration"

echo "== package-check: zivgrab from camsim, for a user without a registry folder"
# An unprivileged user when we are root, as the machine's folder is only read then.
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
  chmod 0777 "$work"
fi
camsim --port 0 >"$work/camsim.out" &
camsim_pid=$!
for _ in $(seq 50); do
  port=$(sed -n '1s/^listening on .*://p' "$work/camsim.out")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "${port:-}" ] || fail "camsim did not start"
(cd "$work" && env -i HOME="$work/home" PATH=/usr/bin:/bin "${as_user[@]}" \
  zivgrab --port "$port" --out "$work/image.png" --timeout 20) || fail "zivgrab failed for a fresh user"
[ -s "$work/image.png" ] || fail "zivgrab wrote no image"
[ ! -e "$work/home/.config/ziv" ] || fail "zivgrab made a registry folder for the user"
(cd "$work" && env -i HOME="$work/home" PATH=/usr/bin:/bin "${as_user[@]}" zivgrab --describe >/dev/null) ||
  fail "zivgrab --describe failed for a fresh user"
kill "$camsim_pid"
wait "$camsim_pid" || true
camsim_pid=

echo "== package-check: man pages"
for page in "${pages[@]}"; do
  file=$(man -w "${page%.*}" 2>/dev/null | head -n1) || true
  [ -n "$file" ] || fail "man finds no page ${page}"
  warnings=$(zcat -f "$file" | LC_ALL=C.UTF-8 groff -ww -man -Tutf8 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$file: $warnings"
done

echo "== package-check: desktop entry and AppStream description"
desktop-file-validate /usr/share/applications/com.quorvel.zivClient.desktop
appstreamcli validate --no-net /usr/share/metainfo/com.quorvel.zivClient.metainfo.xml
for size in 16 32 48 64 128 256; do
  [ -s "/usr/share/icons/hicolor/${size}x${size}/apps/com.quorvel.zivClient.png" ] || fail "no ${size}px icon"
done

echo "== package-check: purge"
packages=()
for deb in "$debdir"/*.deb; do packages+=("$(dpkg-deb -f "$deb" Package)"); done
"${sudo_cmd[@]}" apt-get purge -y "${packages[@]}"
if [ -e "$hive" ] && grep -qF "$control_key" "$hive"; then fail "the registration outlived the package"; fi
if [ -d "$machine_dir" ] && [ -n "$(ls -A "$machine_dir")" ]; then fail "files left in $machine_dir"; fi
[ ! -e /usr/bin/zivgrab ] || fail "zivgrab outlived the purge"
echo "package-check: all passed"
