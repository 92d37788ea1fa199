#!/usr/bin/env bash
# Builds the Debian package build-package/tolvar_VERSION_amd64.deb from a
# Release build (with Debian's hardening flags) and checks it: the menu entry
# with desktop-file-validate, the manual pages with man, the package with
# lintian (an error fails the script; warnings are listed).
#   scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."

tools=(dpkg-dev fakeroot lintian desktop-file-utils man-db)
missing=()
for p in "${tools[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    echo "Installing ${#missing[@]} packages for packaging: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

desktop-file-validate dist/tolvar.desktop
for page in dist/man/*.1; do
    warnings="$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)"
    [ -z "$warnings" ] || { echo "$page: $warnings" >&2; exit 1; }
done

build=build-package
# Always from scratch, so the flags above are the ones in force.
rm -rf "$build"
export DEB_BUILD_MAINT_OPTIONS="hardening=+all"
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)" \
    scripts/setup.sh --progress "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DTOLVAR_DEB_LAYOUT=ON -DTOLVAR_TESTS=OFF -DTOLVAR_BENCH=OFF

rm -f "$build"/tolvar_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb="$(ls "$build"/tolvar_*_amd64.deb)"
echo "Package: $deb"
dpkg-deb --field "$deb" Package Version Depends
# The speech helper is internal: under /usr/libexec, not on the PATH.
contents="$(dpkg-deb --contents "$deb")"
grep -q ' \./usr/libexec/tolvar/tolvar-speak$' <<<"$contents" || { echo "tolvar-speak not under /usr/libexec/tolvar" >&2; exit 1; }
if grep -q ' \./usr/bin/tolvar-speak$' <<<"$contents"; then echo "tolvar-speak is on the PATH" >&2; exit 1; fi

# lintian refuses nothing as root but says so; its tags are what matter.
lintian --tag-display-limit 0 "$deb" 2>&1 | grep -v 'running with root privileges' | tee "$build/lintian.txt" || true
if grep -q '^E: ' "$build/lintian.txt"; then
    echo "lintian found errors" >&2
    exit 1
fi
