#!/usr/bin/env bash
# Installs the program beside a text editor, as on a user's machine, and asks the three ways a desktop tells a
# file's type (GIO, xdg-mime, Qt's MIME database) what they take packets and other XML for, and which program
# each opens with. Usage: CheckMime.sh BUILD_DIR QT_MIME_TYPE_TOOL DATA_DIR
set -euo pipefail
build=$1
qt_type=$2
data=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/usr" >/dev/null
# The machine the package lands on: the distribution's own types in the same database, and an editor that
# opens text/plain as mousepad and gedit declare it. Nothing of this machine's own user or system choices is
# seen.
cp /usr/share/mime/packages/freedesktop.org.xml "$work/usr/share/mime/packages/"
printf '[Desktop Entry]\nType=Application\nName=Editor\nExec=true %%F\nMimeType=text/plain;\n' \
    >"$work/usr/share/applications/editor.desktop"
export XDG_DATA_DIRS="$work/usr/share" XDG_DATA_HOME="$work/home" XDG_CONFIG_HOME="$work/config" \
    XDG_CONFIG_DIRS="$work/config" PATH="$work/usr/bin:$PATH"
update-mime-database "$work/usr/share/mime"
update-desktop-database "$work/usr/share/applications"
# xdg-mime asks shared-mime-info itself (through File::MimeInfo) only outside a known desktop.
unset XDG_CURRENT_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID DISPLAY

# Packets as the dataset library and this program write them, and *.xml files that are not packets, one with
# no content any type claims.
files=$work/files
mkdir "$files"
cp "$data"/library/{one-line,nested,change-log,no-declaration}.xml "$files/"
cp "$data/library/no-declaration.xml" "$files/packet"
cp "$data/convert/utf8-bom-lf.xml" "$files/utf8-bom.xml"
cp "$data/convert/utf16le-bom.xml" "$files/utf16le-bom.xml"
iconv -f UTF-16LE -t UTF-16BE <"$files/utf16le-bom.xml" >"$files/utf16be-bom.xml"
printf '<?xml version="1.0" encoding="UTF-8"?>\n<project xmlns="http://maven.apache.org/POM/4.0.0">\n</project>\n' \
    >"$files/project.xml"
printf '<project>\n  <modelVersion>4.0.0</modelVersion>\n</project>\n' >"$files/undeclared.xml"
printf '\0\1\2\3binary' >"$files/binary.xml"

faults=()
for file in "$files"/*; do
    case $(basename "$file") in
    project.xml | undeclared.xml | binary.xml) want=application/xml ;;
    *) want=application/x-datapacket+xml ;;
    esac
    gio=$(gio info -a standard::content-type "$file" | sed -n 's/^ *standard::content-type: //p')
    for seen in "GIO $gio" "xdg-mime $(xdg-mime query filetype "$file")" "Qt $("$qt_type" "$file")"; do
        [ "${seen#* }" = "$want" ] || faults+=("$(basename "$file"): ${seen% *} says ${seen#* }, not $want")
    done
done
# The program opens packets, and every other XML file opens with the editor.
default() { gio mime "$1" | sed -n '1s/.*: //p'; }
[ "$(default application/x-datapacket+xml)" = torvane.desktop ] || faults+=("GIO opens packets with $(default application/x-datapacket+xml)")
[ "$(xdg-mime query default application/x-datapacket+xml)" = torvane.desktop ] ||
    faults+=("xdg-mime opens packets with $(xdg-mime query default application/x-datapacket+xml)")
[ "$(default application/xml)" = editor.desktop ] || faults+=("GIO opens XML with $(default application/xml)")
[ "$(xdg-mime query default application/xml)" != torvane.desktop ] || faults+=("xdg-mime opens XML with Torvane")

[ ${#faults[@]} -eq 0 ] || { printf 'FAIL: %s\n' "${faults[@]}" >&2; exit 1; }
echo "types and defaults checked"
