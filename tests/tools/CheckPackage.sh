#!/usr/bin/env bash
# Builds the Debian package from a build tree and checks it as a user's machine would see it: its files,
# its control fields, lintian, the desktop entry, the AppStream metadata, and the program run from the
# unpacked package. Usage: CheckPackage.sh BUILD_DIR VERSION
set -euo pipefail
build=$1
version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >/dev/null
deb="$work/out/torvane_${version}_amd64.deb"
[ -f "$deb" ] || fail "no package $deb"

files=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in ./usr/bin/torvane ./usr/share/applications/torvane.desktop \
         ./usr/share/icons/hicolor/scalable/apps/torvane.svg ./usr/share/icons/hicolor/48x48/apps/torvane.png \
         ./usr/share/icons/hicolor/256x256/apps/torvane.png ./usr/share/man/man1/torvane.1.gz \
         ./usr/share/man/ja/man1/torvane.1.gz ./usr/share/metainfo/org.torvane.torvane.metainfo.xml \
         ./usr/share/mime/packages/torvane.xml ./usr/share/doc/torvane/copyright ./usr/share/doc/torvane/changelog.gz; do
    grep -qxF "$f" <<<"$files" || fail "missing from the package: $f"
done

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = torvane ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Section)" = editors ] || fail "Section: $(field Section)"
[ "$(field Architecture)" = amd64 ] || fail "Architecture: $(field Architecture)"
grep -q "Torvane" <<<"$(field Maintainer)" || fail "Maintainer: $(field Maintainer)"
for dep in qt6-qpa-plugins libqt6widgets6 libqt6core6 libc6; do
    grep -q "$dep" <<<"$(field Depends)" || fail "Depends lacks $dep: $(field Depends)"
done
# The font the layout was drawn for comes first.
grep -q "^fonts-ipafont-gothic | fonts-noto-cjk," <<<"$(field Recommends)" || fail "Recommends: $(field Recommends)"
grep -q "qt6-translations-l10n" <<<"$(field Recommends)" || fail "Recommends: $(field Recommends)"
grep -q "データパケット" <<<"$(field Description)" || fail "no Japanese description"

errors=$(lintian "$deb" 2>/dev/null | grep '^E:' || true)
[ -z "$errors" ] || fail "lintian: $errors"

dpkg-deb -x "$deb" "$work/root"
desktop-file-validate "$work/root/usr/share/applications/torvane.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$work/root/usr/share/metainfo/org.torvane.torvane.metainfo.xml" >/dev/null ||
    fail "appstreamcli validate: $(appstreamcli validate --no-net "$work/root/usr/share/metainfo/org.torvane.torvane.metainfo.xml")"
! readelf -S "$work/root/usr/bin/torvane" | grep -q '\.symtab' || fail "the program is not stripped"
out=$(QT_QPA_PLATFORM=offscreen "$work/root/usr/bin/torvane" --version 2>/dev/null)
[ "$out" = "Torvane $version" ] || fail "torvane --version printed: $out"
zcat "$work/root/usr/share/man/ja/man1/torvane.1.gz" | grep -q "Torvane $version" || fail "Japanese man page"
# The English page reads whole on a terminal without Japanese (groff warns of each character it drops), and
# neither page has a line groff cannot break.
for page in "C man1/torvane.1.gz" "C.UTF-8 man1/torvane.1.gz" "C.UTF-8 ja/man1/torvane.1.gz"; do
    warnings=$(LC_ALL=${page% *} MANWIDTH=80 man --warnings -l "$work/root/usr/share/man/${page#* }" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man page ${page#* } under LC_ALL=${page% *}: $warnings"
done
zcat "$work/root/usr/share/doc/torvane/changelog.gz" >"$work/changelog"
[ "$(dpkg-parsechangelog -l "$work/changelog" -S Version)" = "$version" ] || fail "changelog: $(dpkg-parsechangelog -l "$work/changelog" 2>&1)"
echo "package $deb checked"
