#!/bin/sh
# Builds the Debian package of an already built tree into a scratch folder and checks what it
# holds, its control fields and lintian's verdict. Usage: package_test.sh BUILD_DIR SOURCE_DIR
set -eu
build=$1
src=$2
for tool in dpkg-deb dpkg-shlibdeps lintian; do
    if ! command -v $tool >/dev/null; then
        echo "skipped: $tool is not installed (Debian's dpkg-dev and lintian build and check the package)"
        exit 77
    fi
done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() {
    echo "FAIL: $*"
    exit 1
}

cpack --config "$build/CPackConfig.cmake" -B "$tmp" >"$tmp/cpack.log" 2>&1 || { cat "$tmp/cpack.log"; fail "cpack"; }
set -- "$tmp"/trevalo_*_*.deb
[ -f "$1" ] || fail "no trevalo_<version>_<arch>.deb in $(ls "$tmp")"
deb=$1

dpkg-deb -c "$deb" | awk '{print $6}' >"$tmp/files"
for f in usr/bin/pellmar usr/bin/trevalo usr/share/trevalo/look.conf \
    usr/share/applications/trevalo.desktop usr/share/metainfo/org.trevalo.trevalo.metainfo.xml \
    usr/share/icons/hicolor/scalable/apps/trevalo.svg usr/share/icons/hicolor/48x48/apps/trevalo.png \
    usr/share/icons/hicolor/128x128/apps/trevalo.png usr/share/icons/hicolor/256x256/apps/trevalo.png \
    usr/share/man/man1/pellmar.1.gz usr/share/man/man1/trevalo.1.gz \
    usr/share/bash-completion/completions/pellmar usr/share/bash-completion/completions/trevalo \
    usr/share/doc/trevalo/copyright usr/share/doc/trevalo/changelog.gz; do
    grep -qx "\./$f" "$tmp/files" || fail "missing /$f"
done
# Nothing of the build or the tests, and no engine left in the old place.
if grep -E 'libexec|/include/|tst_|_tests$|\.a$' "$tmp/files"; then fail "files that do not belong"; fi

field() { dpkg-deb -f "$deb" "$1"; }
version=$(field Version)
[ "$(field Package)" = trevalo ] || fail "Package: $(field Package)"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture: $(field Architecture)"
[ "$deb" = "$tmp/trevalo_${version}_$(field Architecture).deb" ] || fail "file name $deb"
field Maintainer | grep -q '<.*@.*>' || fail "Maintainer: $(field Maintainer)"
# Libraries as dpkg-shlibdeps found them in the binaries, with versions; plus the run-time plugins.
depends=$(field Depends)
for lib in libavcodec59 libavformat59 libswscale6 libvips42 libvulkan1 libqt6widgets6 qt6-qpa-plugins; do
    echo "$depends" | grep -q "$lib" || fail "Depends lacks $lib: $depends"
done
echo "$depends" | grep -q 'libc6 (>= ' || fail "Depends without versions: $depends"
# One version everywhere: the package, its changelog, the metadata's newest release, the engine.
[ "$(gzip -dc "$build/packaging/changelog.gz" | sed -n '1s/^trevalo (\([^)]*\)).*/\1/p')" = "$version" ] ||
    fail "changelog's version is not $version"
grep -q "<release version=\"$version\"" "$src/packaging/trevalo.metainfo.xml.in" || fail "no release $version"
[ "$("$build/bin/pellmar" --version)" = "pellmar $version" ] || fail "pellmar --version"

lintian --fail-on error --tag-display-limit 0 "$deb" >"$tmp/lintian" 2>&1 || { cat "$tmp/lintian"; fail lintian; }
cat "$tmp/lintian"
echo "ok: $(basename "$deb"), Depends: $depends"
