#!/bin/sh
# The package installs into a fresh folder prefix, twice: by cmake --install, and from the
# Debian package that cpack -G DEB builds (unpacked with dpkg -x). Each time the installed
# packtool-cli packs a file into a set and restores it byte for byte, and the man pages are
# there, compressed. The package passes lintian without errors or hardening tags, its
# description reads as prose, and it depends on Qt's translations. The desktop entry opens
# files of the MIME types the package installs, the MIME database built from them knows packed
# and project files, the file manager's menus offer each command on its own type, and the
# icon comes as SVG and as PNG at every size of the icon theme. The AppStream metadata passes
# appstreamcli validate.
#
# Usage: test_package.sh BUILD-DIR SOURCE-DIR CMAKE CPACK
set -eu
BUILD=$1 SRC=$2 CMAKE=$3 CPACK=$4
T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

# Packs a project file with the installed program, checks the set, restores it elsewhere.
round_trip() {
    cli=$1 where=$2
    [ -x "$cli" ] || fail "$where: no packtool-cli"
    w="$T/work-$where"
    mkdir -p "$w/out"
    head -c 150000 /dev/urandom > "$w/p.kmx"
    seq 1 20000 >> "$w/p.kmx"
    (cd "$w" && "$cli" pack --split 50K --manifest p.kmx 2> log) || fail "$where: pack: $(cat "$w/log")"
    [ -f "$w/p.2KX" ] || fail "$where: pack wrote no set"
    (cd "$w" && sha256sum -c --quiet p.sha256) || fail "$where: manifest"
    "$cli" unpack --into "$w/out" "$w/p.0KX" 2> "$w/log" || fail "$where: unpack: $(cat "$w/log")"
    cmp "$w/p.kmx" "$w/out/p.KMX" || fail "$where: restored bytes differ"
}

# A PNG file's width and height from its header ("WxH"), or "not a PNG".
png_size() {
    if [ "$(od -An -tu1 -N8 "$1" | tr -s ' ')" != " 137 80 78 71 13 10 26 10" ]; then
        echo "not a PNG"
        return
    fi
    od -An -tu1 -j16 -N8 "$1" |
        awk '{ print $1 * 16777216 + $2 * 65536 + $3 * 256 + $4 "x" $5 * 16777216 + $6 * 65536 + $7 * 256 + $8 }'
}

check_man() {
    root=$1
    pages=packtool-cli.1
    [ ! -x "$root/bin/packtool" ] || pages="$pages packtool.1"
    for page in $pages; do
        [ -f "$root/share/man/man1/$page.gz" ] || fail "no $page.gz under $root"
        [ ! -e "$root/share/man/man1/$page" ] || fail "$page installed uncompressed"
        if command -v man > /dev/null; then
            warnings=$(man --warnings -l "$root/share/man/man1/$page.gz" 2>&1 > /dev/null)
            [ -z "$warnings" ] || fail "man page warnings in $page: $warnings"
        fi
    done
}

# The desktop entry takes a file and names the types; the MIME database built from the
# installed package knows both types by name, and a set's first volume by its signature.
check_desktop() {
    root=$1
    entry="$root/share/applications/packtool.desktop"
    desktop-file-validate "$entry" || fail "desktop entry does not validate"
    grep -qx 'Exec=packtool /G %f' "$entry" || fail "desktop entry opens no file"
    grep -q '^MimeType=.*application/x-packtool-packed;' "$entry" || fail "desktop entry lists no packed type"
    # The file manager's menu: Pack on project files only, Unpack and Test on packed files.
    menus="$root/share/kio/servicemenus"
    [ -x "$menus/packtool-project.desktop" ] || fail "no executable service menu for project files"
    [ -x "$menus/packtool-packed.desktop" ] || fail "no executable service menu for packed files"
    grep -qx 'MimeType=application/x-packtool-project;' "$menus/packtool-project.desktop" ||
        fail "the project files' menu is offered on other types"
    grep -qx 'Actions=pack;' "$menus/packtool-project.desktop" || fail "project files' menu: not Pack alone"
    grep -qx 'MimeType=application/x-packtool-packed;' "$menus/packtool-packed.desktop" ||
        fail "the packed files' menu is offered on other types"
    grep -qx 'Actions=unpack;test;' "$menus/packtool-packed.desktop" ||
        fail "packed files' menu: not Unpack and Test"
    ! grep -q '/P ' "$menus/packtool-packed.desktop" || fail "Pack offered on packed files"
    [ ! -e "$menus/packtool.desktop" ] || fail "the old service menu is still installed"
    # The icon as SVG and as PNG at every fixed size of the icon theme, each its own size.
    [ -f "$root/share/icons/hicolor/scalable/apps/packtool.svg" ] || fail "no SVG icon"
    for size in 16 22 24 32 48 64 128 256 512; do
        png="$root/share/icons/hicolor/${size}x${size}/apps/packtool.png"
        [ -f "$png" ] || fail "no ${size}x${size} PNG icon"
        [ "$(png_size "$png")" = "${size}x${size}" ] || fail "$png: not a ${size}x${size} PNG: $(png_size "$png")"
    done
    mkdir -p "$T/mime"
    cp -r "$root/share/mime" "$T/mime/"
    update-mime-database "$T/mime/mime" || fail "update-mime-database"
    grep -q 'application/x-packtool-packed:\*\.0kx' "$T/mime/mime/globs2" || fail "no glob for .0KX"
    grep -q 'application/x-packtool-packed:\*\.0rv' "$T/mime/mime/globs2" || fail "no glob for .0RV"
    grep -q 'application/x-packtool-project:\*\.kmx' "$T/mime/mime/globs2" || fail "no glob for .kmx"
    grep -aq '#ZunPack1.0a#' "$T/mime/mime/magic" || fail "no magic for a set"
    rm -rf "$T/mime"
}

# 1. cmake --install into a fresh prefix.
"$CMAKE" --install "$BUILD" --prefix "$T/prefix" > /dev/null
round_trip "$T/prefix/bin/packtool-cli" install
check_man "$T/prefix"
[ ! -x "$T/prefix/bin/packtool" ] || check_desktop "$T/prefix"

# 2. The Debian package.
"$CPACK" -G DEB --config "$BUILD/CPackConfig.cmake" -B "$T/pkg" > "$T/cpack.log" 2>&1 ||
    fail "cpack: $(cat "$T/cpack.log")"
deb=$(ls "$T"/pkg/packtool_*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libstdc++6; do
    echo "$depends" | grep -q "$lib" || fail "Depends lacks $lib: $depends"
done
# The checksums are the program's own: no crypto library is needed.
echo "$depends" | grep -q "libssl" && fail "Depends names libssl: $depends"
dpkg -x "$deb" "$T/root"
round_trip "$T/root/usr/bin/packtool-cli" deb
check_man "$T/root/usr"
description=$(dpkg-deb -f "$deb" Description)
case "$description" in *";"*) fail "description shows a list: $description" ;; esac
# Errors fail the package, and so do the hardening tags: the programs are built with the
# flags a Debian build uses. Other warnings and notes are for the maintainer to weigh.
lintian --no-tag-display-limit "$deb" > "$T/lintian.log" 2>&1 || true
if grep -q '^E:' "$T/lintian.log"; then fail "lintian: $(grep '^E:' "$T/lintian.log")"; fi
if grep -q 'hardening' "$T/lintian.log"; then fail "lintian: $(grep 'hardening' "$T/lintian.log")"; fi
if [ -x "$T/root/usr/bin/packtool" ]; then
    # Every library the desktop program needs is one the package depends on or the system has.
    if ldd "$T/root/usr/bin/packtool" | grep -q "not found"; then fail "packtool: $(ldd "$T/root/usr/bin/packtool")"; fi
    echo "$depends" | grep -q libqt6widgets6 || fail "Depends lacks Qt: $depends"
    # Qt's own translations: the Japanese file chooser's and boxes' buttons come from them.
    echo "$depends" | grep -q qt6-translations-l10n || fail "Depends lacks qt6-translations-l10n: $depends"
    [ -f "$T/root/usr/share/metainfo/org.packtool.PackTool.metainfo.xml" ] || fail "no metainfo"
    check_desktop "$T/root/usr"
fi

# 3. The AppStream metadata.
appstreamcli validate --no-net "$SRC/resources/org.packtool.PackTool.metainfo.xml" > "$T/as.log" 2>&1 ||
    fail "appstreamcli: $(cat "$T/as.log")"
echo "package installs and runs"
