#!/bin/bash
# packaging_test.sh contents|actions BUILD_DIR VERSION
#   contents: makes the .deb from the built tree with cpack (nothing is installed) and checks
#             its files, control fields, run paths and metadata.
#   actions:  runs the file managers' action script and the Nautilus scripts that
#             zembrat-cli --install-file-manager-actions writes, on real files.
# Exit 77 is a skip, with the reason on standard output.
set -u
mode=$1 build=$2 version=$3
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
skip() {
    echo "SKIP: $*"
    exit 77
}
work=$(mktemp -d "${TMPDIR:-/tmp}/zembrat-packaging-XXXXXX")
trap 'rm -rf -- "$work"' EXIT

check_contents() {
    local tool
    for tool in cpack dpkg-deb dpkg-shlibdeps desktop-file-validate appstreamcli; do
        command -v "$tool" >/dev/null || skip "$tool is missing (make deb installs it)"
    done
    cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
        { cat "$work/cpack.log"; fail "cpack"; return; }
    local arch deb
    arch=$(dpkg --print-architecture)
    deb="$work/out/zembrat_${version}_${arch}.deb"
    [[ -f $deb ]] || { ls "$work/out"; fail "no $deb"; return; }

    # Control fields: every dependency comes from what is linked.
    local depends
    depends=$(dpkg-deb -f "$deb" Depends)
    local needed
    for needed in libc6 libstdc++6 libqt6widgets6 libqt6gui6 libqt6core6 libarchive13 \
        libdeflate0 libmspack0 zlib1g libbz2-1.0 libisal2 libseccomp2; do
        [[ $depends == *"$needed"* ]] || fail "Depends lacks $needed: $depends"
    done
    [[ $(dpkg-deb -f "$deb" Recommends) == *qt6-translations-l10n* ]] ||
        fail "Recommends lacks qt6-translations-l10n"
    [[ $(dpkg-deb -f "$deb" Version) == "$version" ]] || fail "Version"

    # The file list: each path with the mode it must have.
    dpkg-deb -c "$deb" | awk '{print $1, $6}' >"$work/list"
    local mode_expected path
    while read -r mode_expected path; do
        grep -qxF -- "$mode_expected ./$path" "$work/list" ||
            fail "missing or wrong mode: $mode_expected $path ($(grep -F -- "./$path" "$work/list"))"
    done <<'EOF'
-rwxr-xr-x usr/bin/zembrat
-rwxr-xr-x usr/bin/zembrat-cli
-rw-r--r-- usr/lib/zembrat/libzembrat_platform.so
-rw-r--r-- usr/lib/zembrat/libunlha32.so
-rw-r--r-- usr/lib/zembrat/libunzip32.so
-rw-r--r-- usr/lib/zembrat/libzip32j.so
-rw-r--r-- usr/lib/zembrat/liblmzip32.so
-rw-r--r-- usr/lib/zembrat/libtar32.so
-rw-r--r-- usr/lib/zembrat/libcab32.so
-rw-r--r-- usr/lib/zembrat/libunrar32.so
-rw-r--r-- usr/lib/zembrat/libunarj32j.so
-rw-r--r-- usr/lib/zembrat/libbga32.so
-rwxr-xr-x usr/lib/zembrat/zembrat-archive-host
-rwxr-xr-x usr/lib/zembrat/zembrat-sfx
-rwxr-xr-x usr/lib/zembrat/sfx32gui.dat
-rwxr-xr-x usr/lib/zembrat/sfx16.dat
-rwxr-xr-x usr/lib/zembrat/kmtarsef.exe
-rwxr-xr-x usr/lib/zembrat/zembrat-cabsfx
-rwxr-xr-x usr/lib/zembrat/zembrat-bga-sfx
-rwxr-xr-x usr/lib/zembrat/zembrat-file-action
-rw-r--r-- usr/share/applications/zembrat.desktop
-rw-r--r-- usr/share/icons/hicolor/scalable/apps/zembrat.svg
-rw-r--r-- usr/share/man/man1/zembrat.1.gz
-rw-r--r-- usr/share/man/man1/zembrat-cli.1.gz
-rw-r--r-- usr/share/metainfo/org.zembrat.Zembrat.metainfo.xml
-rw-r--r-- usr/share/mime/packages/zembrat.xml
-rw-r--r-- usr/share/kio/servicemenus/zembrat-compress.desktop
-rw-r--r-- usr/share/kio/servicemenus/zembrat-extract.desktop
-rw-r--r-- usr/share/nemo/actions/zembrat-compress.nemo_action
-rw-r--r-- usr/share/nemo/actions/zembrat-extract.nemo_action
-rw-r--r-- usr/share/Thunar/sendto/zembrat-compress.desktop
-rw-r--r-- usr/share/Thunar/sendto/zembrat-extract.desktop
-rw-r--r-- usr/share/doc/zembrat/copyright
-rw-r--r-- usr/share/doc/zembrat/changelog.gz
-rw-r--r-- usr/share/lintian/overrides/zembrat
EOF
    dpkg-deb -c "$deb" | awk '$2 != "root/root" {print "not owned by root: " $0}' | grep . &&
        fail "owners"
    grep -v ' \./usr/' "$work/list" | grep -v ' \./$' | grep . && fail "files outside /usr"

    dpkg-deb -x "$deb" "$work/root"
    local root=$work/root
    # Nothing may point into the build tree: the programs find their libraries relative to
    # themselves, the libraries beside them.
    grep -rlF -- "$build" "$root" && fail "the build folder is named in the package"
    local runpath
    for path in usr/bin/zembrat usr/bin/zembrat-cli; do
        runpath=$(readelf -d "$root/$path" | sed -n 's/.*R\(UN\)\?PATH.*\[\(.*\)\]/\2/p')
        [[ $runpath == '$ORIGIN/../lib/zembrat' ]] || fail "$path run path: $runpath"
    done
    readelf -S "$root/usr/bin/zembrat-cli" | grep -q '\.debug_info' && fail "not stripped"

    desktop-file-validate "$root/usr/share/applications/zembrat.desktop" ||
        fail "desktop entry"
    for path in "$root"/usr/share/Thunar/sendto/*.desktop; do
        desktop-file-validate "$path" || fail "$path"
    done
    appstreamcli validate --no-net "$root/usr/share/metainfo/org.zembrat.Zembrat.metainfo.xml" ||
        fail "metainfo"
    grep -q '^Exec=zembrat %F$' "$root/usr/share/applications/zembrat.desktop" || fail "Exec"
    for type in application/x-lzh-compressed application/zip application/x-tar \
        application/x-compressed-tar application/x-bzip-compressed-tar application/gzip \
        application/x-bzip2 application/vnd.ms-cab-compressed application/x-arj \
        application/vnd.rar application/x-rar application/x-gza application/x-bza; do
        grep -q "^MimeType=.*$type;" "$root/usr/share/applications/zembrat.desktop" ||
            fail "desktop entry lacks $type"
    done
    # Every menu runs the action script the package holds, at its installed path.
    for path in "$root"/usr/share/kio/servicemenus/* "$root"/usr/share/nemo/actions/* \
        "$root"/usr/share/Thunar/sendto/*; do
        grep -qxE 'Exec="/usr/lib/zembrat/zembrat-file-action" (compress|extract) %F' "$path" ||
            fail "$path: $(grep Exec "$path")"
    done

    # The archive types of our own are known by name and by content.
    if command -v update-mime-database >/dev/null && command -v gio >/dev/null; then
        mkdir -p "$work/xdg/mime/packages"
        cp /usr/share/mime/packages/freedesktop.org.xml "$root/usr/share/mime/packages/zembrat.xml" \
            "$work/xdg/mime/packages/"
        update-mime-database "$work/xdg/mime" || fail "update-mime-database"
        printf 'text\n' >"$work/a.txt"
        local kind
        for kind in gza bza; do
            "$build/bin/zembrat-cli" compress -q --format "$kind" -o "$work" "$work/a.txt" ||
                fail "compress $kind"
            cp "$work/a.$kind" "$work/nameless-$kind"
            for path in "$work/a.$kind" "$work/nameless-$kind"; do
                [[ $(XDG_DATA_HOME=$work/xdg XDG_DATA_DIRS=$work/xdg gio info \
                    -a standard::content-type "$path" | sed -n 's/.*content-type: //p') == \
                    "application/x-$kind" ]] || fail "$path is not application/x-$kind"
            done
        done
    else
        echo "note: update-mime-database or gio missing; the MIME package was not tried"
    fi

    if command -v lintian >/dev/null; then
        lintian --fail-on error "$deb" || fail "lintian reports errors"
    else
        echo "note: lintian missing; the package was not linted"
    fi
}

# A file manager gives absolute names (Dolphin, Nemo, Thunar) or names relative to the folder
# it runs a script in (Nautilus), without a terminal and without a display here.
check_actions() {
    local action=$build/bin/zembrat-file-action
    [[ -x $action && -x $build/bin/zembrat-cli ]] || skip "the build has no zembrat-file-action"
    export HOME=$work/home TMPDIR=$work/tmp
    unset XDG_DATA_HOME DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
    mkdir -p "$HOME" "$TMPDIR" "$work/a b" "$work/日本"
    seq 1 2000 >"$work/a b/one file.txt"
    seq 5 3000 >"$work/日本/資料.txt"
    printf 'x\n' >"$work/a b/-dash"
    cp "$work/a b/one file.txt" "$work/one.orig"
    cp "$work/日本/資料.txt" "$work/資料.orig"

    # Selections that alternate between folders: each archive lands beside its file.
    "$action" compress "$work/a b/one file.txt" "$work/日本/資料.txt" "$work/a b/-dash" \
        </dev/null >"$work/compress.log" 2>&1 || fail "compress: $(cat "$work/compress.log")"
    for path in "a b/one file.lzh" "日本/資料.lzh" "a b/-dash.lzh"; do
        [[ -s $work/$path ]] || fail "no $path"
    done
    # Without a terminal nothing is printed, and nothing is left in the temporary folder.
    [[ ! -s $work/compress.log ]] || fail "compress printed: $(cat "$work/compress.log")"
    [[ -z $(ls -A "$TMPDIR") ]] || fail "left in TMPDIR: $(ls -A "$TMPDIR")"
    # An existing archive is kept, and says so.
    "$action" compress "$work/a b/one file.txt" </dev/null >/dev/null 2>&1
    rm -f -- "$work/a b/one file.txt" "$work/日本/資料.txt"

    # Unpacking goes to the folder holding each archive; a damaged archive among them fails
    # the run and the others are still unpacked.
    head -c 40 "$work/a b/-dash.lzh" >"$work/日本/broken.lzh"
    local status=0
    "$action" extract "$work/日本/broken.lzh" "$work/a b/one file.lzh" "$work/日本/資料.lzh" \
        </dev/null >"$work/extract.log" 2>&1 || status=$?
    ((status == 1)) || fail "extract with a damaged archive gave $status, not 1"
    cmp -s "$work/a b/one file.txt" "$work/one.orig" || fail "one file.txt not restored"
    cmp -s "$work/日本/資料.txt" "$work/資料.orig" || fail "資料.txt not restored"

    # The Nautilus scripts: installed for this user only, names relative to the folder.
    "$build/bin/zembrat-cli" --install-file-manager-actions >"$work/install.log" 2>&1 ||
        fail "install: $(cat "$work/install.log")"
    local scripts=$HOME/.local/share/nautilus/scripts
    [[ -x "$scripts/一つずつ圧縮 (Zembrat)" && -x "$scripts/ここに解凍 (Zembrat)" ]] ||
        fail "Nautilus scripts missing: $(ls -la "$scripts")"
    mkdir -p "$work/n"
    seq 1 500 >"$work/n/it's.txt"
    (cd "$work/n" && "$scripts/一つずつ圧縮 (Zembrat)" "it's.txt" </dev/null >/dev/null 2>&1) ||
        fail "Nautilus compress"
    mv "$work/n/it's.txt" "$work/n/orig"
    (cd "$work/n" && "$scripts/ここに解凍 (Zembrat)" "it's.lzh" </dev/null >/dev/null 2>&1) ||
        fail "Nautilus extract"
    cmp -s "$work/n/it's.txt" "$work/n/orig" || fail "Nautilus round trip"
    # Again: replaced, not doubled.
    "$build/bin/zembrat-cli" --install-file-manager-actions >/dev/null 2>&1 || fail "reinstall"
    (($(find "$scripts" -type f | wc -l) == 2)) || fail "reinstall left $(ls "$scripts")"
}

case $mode in
    contents) check_contents ;;
    actions) check_actions ;;
    *) skip "unknown check $mode" ;;
esac
((failures == 0)) || exit 1
echo "PASS: $mode"
