#!/usr/bin/env bash
# Builds the Debian package from the build tree, checks it with lintian, installs it, tries the
# installed program (the viewer under Xvfb shows a collection's tree; the native host answers;
# Firefox ESR runs the add-on and grabs through the installed host), validates what software
# centres and desktops read, purges it and checks that nothing of it is left under /usr and /etc
# nor in the machine hive.
# The package is installed for as short a time as possible and purged whatever happens.
# Needs root or passwordless sudo (skipped otherwise) and a build in ./build.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build"
passed=0
failed=0

if [[ $(id -u) -eq 0 ]]; then
    sudo=()
elif command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
    sudo=(sudo -n)
else
    echo "package test skipped: it installs a package, which needs root or passwordless sudo"
    echo "package: 0 passed, 0 failed, 1 skipped"
    exit 0
fi
if dpkg-query -W -f='${Status}' clipvane 2>/dev/null | grep -q 'ok installed'; then
    echo "package test skipped: clipvane is installed on this machine, and the test would remove it"
    echo "package: 0 passed, 0 failed, 1 skipped"
    exit 0
fi

check() { # check NAME COMMAND...: one named check, counted
    local name=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
        echo "ok: $name"
    else
        failed=$((failed + 1))
        echo "FAILED: $name" >&2
    fi
}

# Where Debian's Firefox takes add-ons for every user; ours is the folder named by its id.
firefox_addon="usr/share/mozilla/extensions/{ec8030f7-c20a-464f-9b0e-13a3a9e97384}/clipvane@tavrelo.org"
e2e="$build/tests/browser/e2e"
work=$(mktemp -d)
installed=0
# Chromium run as root makes its own (empty) folder of external extensions: not one to leave.
chromium_folder=/usr/lib/chromium/extensions
chromium_folder_was_there=0
[[ -e $chromium_folder ]] && chromium_folder_was_there=1
forget_chromium_folder() {
    [[ $chromium_folder_was_there -eq 1 ]] || "${sudo[@]}" rmdir "$chromium_folder" 2>/dev/null || true
}
cleanup() {
    forget_chromium_folder
    [[ -n ${user:-} ]] && rm -rf "$user"
    if [[ $installed -eq 1 ]]; then
        "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get purge -y clipvane >"$work/purge.log" 2>&1 ||
            { echo "purging clipvane failed:" >&2; cat "$work/purge.log" >&2; }
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

# Files and folders under /usr and /etc, each with its kind, for the before-and-after comparison.
listing() { "${sudo[@]}" find /usr /etc -xdev -printf '%p %y\n' 2>/dev/null | sort; }
# Our entries of the machine hive (/etc/xdg/tavrelo/machine.reg), by the names registration
# writes; the registry command of the build tree, since the package's goes with it.
our_keys() {
    "${sudo[@]}" env -u TAVRELO_REGISTRY_DIR XDG_CONFIG_DIRS=/etc/xdg "$build/platform/registry/clipvane-reg" \
        export 'HKLM' "$work/machine.export" -y >/dev/null 2>&1 || return 0
    grep -v -e '^;' -e '^Tavrelo Registry Hive' "$work/machine.export" |
        grep -iE 'tavrelo|clipvane|C588106B|C588105E|CDE56277|htafile|\.t-q|Grab &Selected' || true
}

# --- the package -----------------------------------------------------------------------------
rm -f "$build"/clipvane_*.deb
(cd "$build" && cpack -G DEB >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log" >&2; exit 1; }
deb=$(ls "$build"/clipvane_*.deb)
echo "built $deb"
contents=$(dpkg-deb --contents "$deb")
for path in ./usr/bin/Clipvane ./usr/bin/htahost ./usr/bin/clipvane-native-host ./usr/bin/clipvane-regsvr \
    ./usr/bin/clipvane-reg ./usr/lib/clipvane/libTavreloHelpers.so ./usr/lib/clipvane/TKTHelp.html \
    ./usr/share/clipvane/extension/chromium/manifest.json ./usr/share/clipvane/extension/firefox/manifest.json \
    ./usr/share/chromium/extensions/clipvane ./usr/share/doc/clipvane/copyright ./usr/share/doc/clipvane/README.md \
    ./usr/share/doc/clipvane/package.md \
    "./$firefox_addon/manifest.json" "./$firefox_addon/background.js" ./usr/share/metainfo/org.tavrelo.clipvane.metainfo.xml; do
    check "the package holds $path" grep -q " $path\( ->\|$\)" <<<"$contents"
done
check "the documents are in one folder" bash -c '! grep -q " \./usr/share/doc/Clipvane" <<<"$1"' _ "$contents"
for program in $(sed -n 's|.* \./usr/bin/\([^ ]*\)$|\1|p' <<<"$contents"); do
    check "$program has a manual page" grep -q " ./usr/share/man/man1/$program.1.gz$" <<<"$contents"
done
check "no test program is packaged" bash -c '! grep -qiE "fake|_test|bench" <<<"$1"' _ "$contents"
depends=$(dpkg-deb --field "$deb" Depends)
check "dependencies are computed from the programs ($depends)" \
    bash -c 'grep -q libqt6webenginecore6 <<<"$1" && grep -q xdg-utils <<<"$1" && ! grep -q xvfb <<<"$1"' _ "$depends"
if command -v lintian >/dev/null; then
    check "lintian reports no errors or warnings" lintian --fail-on error,warning --suppress-tags-from-file "$top/packaging/lintian-accepted" "$deb"
else
    echo "lintian is not installed: the package was not linted" >&2
    failed=$((failed + 1))
fi

# --- installed -------------------------------------------------------------------------------
home_before=$(cd ~ && find .config/tavrelo .local/share/applications .mozilla .config/chromium -name '*tavrelo*' \
    -o -name '*clipvane*' -o -name user.reg 2>/dev/null | xargs -r md5sum 2>/dev/null || true)
listing >"$work/before"
installed=1
if ! "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "$deb" \
    >"$work/install.log" 2>&1; then
    cat "$work/install.log" >&2
    exit 1
fi
echo "installed"

keys=$(our_keys)
check "the machine hive holds our keys" test -n "$keys"
check "the registry names the installed programs" bash -c \
    '/usr/bin/clipvane-reg query "HKLM\Software\Classes\htafile\shell\open\command" | grep -q "/usr/bin/htahost"'
check "the capture page is registered for every user" bash -c \
    '/usr/bin/clipvane-reg query "HKLM\Software\Microsoft\Internet Explorer\MenuExt\Grab &Selected Text..." |
        grep -q "res:///usr/lib/clipvane/libTavreloHelpers.so/ktGrab.htm"'
for manifest in /etc/chromium/native-messaging-hosts/com.tavrelo.clipvane.json \
    /usr/lib/mozilla/native-messaging-hosts/com.tavrelo.clipvane.json; do
    check "$manifest names the installed host" grep -q '"path": "/usr/bin/clipvane-native-host"' "$manifest"
done
check "the desktop entry, file type and icons are the system's" test -f /usr/share/applications/tavrelo-clipvane.desktop \
    -a -f /usr/share/mime/packages/tavrelo-clipvane.xml -a -f /usr/share/icons/hicolor/32x32/apps/tavrelo-clipvane.png
check "the desktop entry registration wrote is valid" desktop-file-validate /usr/share/applications/tavrelo-clipvane.desktop
check "the software centres' description is valid" appstreamcli validate --no-net /usr/share/metainfo/org.tavrelo.clipvane.metainfo.xml
check "the desktop's file types know collections" grep -q 'application/x-tavrelo-clipvane:\*\.t-q' /usr/share/mime/globs2
home_after=$(cd ~ && find .config/tavrelo .local/share/applications .mozilla .config/chromium -name '*tavrelo*' \
    -o -name '*clipvane*' -o -name user.reg 2>/dev/null | xargs -r md5sum 2>/dev/null || true)
check "the installer's own home is left alone" test "$home_before" = "$home_after"

# The installed programs, as a user who never registered anything: a home of its own, and, when
# this runs as root, another account (nobody), which may read the machine hive but not write it.
user=$(mktemp -d)
mkdir -p "$user/home" "$user/run"
chmod 700 "$user/run"
as_user=()
if [[ $(id -u) -eq 0 ]] && id nobody >/dev/null 2>&1 && command -v runuser >/dev/null; then
    chmod 755 "$user"
    chown -R nobody "$user/home" "$user/run"
    as_user=(runuser -u nobody --)
fi
check "the viewer shows a collection, the native host answers, Chromium loads the extension" \
    "${as_user[@]}" env -u WAYLAND_DISPLAY HOME="$user/home" XDG_CONFIG_HOME="$user/home/.config" XDG_DATA_HOME="$user/home/.local/share" \
    XDG_RUNTIME_DIR="$user/run" TAVRELO_AUTOMATION="$user/home/answers.jsonl" QT_QPA_PLATFORM=xcb \
    xvfb-run -a -s "-screen 0 1280x1024x24" python3 "$top/tests/package/smoke.py" "$user"
# The viewer ends with its X server; wait for every process of that user to be gone.
python3 "$top/tests/package/smoke.py" --reap "$user"
forget_chromium_folder

# Firefox ESR as that user starts it: a fresh profile that changes no preference about add-ons
# finds ours active, and its keyboard shortcut grabs a page's selection through the installed
# host and capture dialog into the user's collection (tests/browser/e2e/firefox.test.mjs, with
# the npm packages of the browser tests).
if command -v firefox-esr >/dev/null && command -v node >/dev/null && [[ -f $e2e/firefox.test.mjs ]] &&
    ctest --test-dir "$build" -R '^browser\.e2e\.packages$' >"$work/npm.log" 2>&1; then
    check "Firefox ESR runs the installed add-on, which grabs through the installed host" \
        "${as_user[@]}" env -u WAYLAND_DISPLAY -C "$e2e" HOME="$user/home" XDG_CONFIG_HOME="$user/home/.config" \
        XDG_DATA_HOME="$user/home/.local/share" XDG_RUNTIME_DIR="$user/run" CLIPVANE_INSTALLED=1 \
        CLIPVANE_NATIVE_HOST_NAME=com.tavrelo.clipvane CLIPVANE_FIREFOX_EXTENSION_ID=clipvane@tavrelo.org QT_QPA_PLATFORM=xcb \
        xvfb-run -a -s "-screen 0 1280x1024x24" node firefox.test.mjs
    python3 "$top/tests/package/smoke.py" --reap "$user"
else
    echo "Firefox ESR, node or the browser tests' npm packages are missing: the installed add-on was not tried" >&2
    failed=$((failed + 1))
fi

# --- removed ---------------------------------------------------------------------------------
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get purge -y clipvane >"$work/purge.log" 2>&1 ||
    { cat "$work/purge.log" >&2; exit 1; }
installed=0
echo "purged"
listing >"$work/after"
# What is new: not files of another package (another agent may install packages meanwhile), nor
# the desktop's databases, which are rebuilt without our entries.
leftovers=$(comm -13 "$work/before" "$work/after" | cut -d' ' -f1 | while read -r path; do
    dpkg -S "$path" >/dev/null 2>&1 && continue
    case "$path" in
        /usr/share/mime/* | /usr/share/applications/mimeinfo.cache | /usr/share/icons/*/icon-theme.cache) continue ;;
    esac
    echo "$path"
done)
check "nothing of ours is left under /usr and /etc${leftovers:+: $leftovers}" test -z "$leftovers"
check "the Firefox add-on is gone" test ! -e "/$firefox_addon"
check "no database names collections any more" bash -c \
    '! grep -qs tavrelo /usr/share/mime/globs2 /usr/share/applications/mimeinfo.cache'
keys=$(our_keys)
check "the machine hive holds none of our keys${keys:+: $keys}" test -z "$keys"

echo "package: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
