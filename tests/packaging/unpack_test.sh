#!/usr/bin/env bash
# Builds the Debian package from a build tree, unpacks it into a temporary root and runs the
# programs from there; lintian must report no errors.
# usage: unpack_test.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) \
  || { cat "$work/cpack.log" >&2; fail "cpack -G DEB"; }
debs=("$work"/out/fennick_*.deb)
[ -f "${debs[0]}" ] || fail "no fennick_*.deb in the cpack output"
deb=${debs[0]}
root=$work/root
dpkg-deb -x "$deb" "$root"

for f in usr/bin/fennick usr/bin/fennick-virtual-stick usr/lib/fennick/libANT_DLL.so \
         usr/lib/udev/rules.d/99-fennick-ant.rules usr/share/applications/fennick.desktop \
         usr/share/icons/hicolor/64x64/apps/fennick.png \
         usr/share/man/man1/fennick.1.gz usr/share/man/man1/fennick-virtual-stick.1.gz \
         usr/share/doc/fennick/copyright; do
  [ -e "$root/$f" ] || fail "$f missing from the package"
done

# The programs must run from the unpacked tree alone: no build folder on their search path.
version=$(env -u LD_LIBRARY_PATH "$root/usr/bin/fennick" --version) || fail "fennick --version"
echo "$version"
[[ $version == "fennick (Fennick FE-C) "* ]] || fail "unexpected version text: $version"
help=$(env -u LD_LIBRARY_PATH "$root/usr/bin/fennick-virtual-stick" --help) \
  || fail "fennick-virtual-stick --help"
[[ $help == usage:\ fennick-virtual-stick* ]] || fail "unexpected help text: $help"

# fennick loads its library by bare name; the RUNPATH must lead to the packaged copy.
runpath=$(readelf -d "$root/usr/bin/fennick" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
[ -n "$runpath" ] || fail "fennick has no RUNPATH"
[[ $runpath != *"$build"* ]] || fail "RUNPATH names the build tree: $runpath"
found=no
IFS=: read -ra dirs <<<"$runpath"
for d in "${dirs[@]}"; do
  [ -e "${d//\$ORIGIN/$root/usr/bin}/libANT_DLL.so" ] && found=yes
done
[ $found = yes ] || fail "RUNPATH $runpath does not lead to libANT_DLL.so"

# Every stick gets seat access, the serial bridge on its tty too.
rules=$root/usr/lib/udev/rules.d/99-fennick-ant.rules
for pid in 1004 1008 1009; do
  grep -E "SUBSYSTEM==\"usb\".*idProduct}==\"$pid\".*TAG\+=\"uaccess\"" "$rules" >/dev/null \
    || fail "no uaccess rule for USB stick 0fcf:$pid"
done
grep -E 'SUBSYSTEM=="tty".*"1004".*uaccess' "$rules" >/dev/null || fail "no uaccess rule for the 1004 tty"

# The maintainer scripts reload udev only where udev runs.
dpkg-deb -e "$deb" "$work/control"
for script in postinst postrm; do
  sh -n "$work/control/$script" || fail "$script does not parse"
  grep -q 'udevadm control --reload-rules' "$work/control/$script" || fail "$script does not reload udev"
  grep -q '\[ -d /run/udev \]' "$work/control/$script" || fail "$script runs udevadm without udev"
done
grep -q '^Depends:.*libusb-1.0' "$work/control/control" || fail "Depends lacks libusb: $(cat "$work/control/control")"
grep -q '^Depends:.*libqt6sql6-sqlite' "$work/control/control" || fail "Depends lacks the SQLite driver of Qt SQL: $(cat "$work/control/control")"

lintian --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1 || true
cat "$work/lintian.log"
if grep -q '^E:' "$work/lintian.log"; then fail "lintian reports errors"; fi
echo "package ok: $(basename "$deb")"
