#!/usr/bin/env bash
# The Debian package as a desktop meets it: built with cpack into a temporary folder and
# unpacked there. Checks that every file lands where the desktop looks for it and nothing
# else is packed, that the desktop entry and the AppStream metadata are valid and point at an
# installed command and icon, that lintian has nothing to say, that the run-time
# dependencies hold no development package,
# and that the installed programs start: vek-serv offscreen, ending with status 0 on SIGTERM,
# vek-sim --help and vek-cli --help, the latter with no Qt library linked, and every
# program's --version.
# Usage: package_test.sh CPACK BUILD_DIR
set -uo pipefail

cpack=$1
build=$2
tmp=$(mktemp -d)
serv_pid=
cleanup() {
    [ -n "$serv_pid" ] && kill -KILL "$serv_pid" 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

for tool in dpkg-deb desktop-file-validate appstreamcli; do
    command -v "$tool" >/dev/null ||
        fail "$tool is missing (scripts/install-deps.sh installs it)"
done

# Build the package.
if ! "$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$tmp/out" >"$tmp/cpack.log" 2>&1; then
    cat "$tmp/cpack.log" >&2
    fail "cpack did not build the package"
fi
shopt -s nullglob
debs=("$tmp"/out/*.deb)
[ ${#debs[@]} -eq 1 ] || fail "cpack made ${#debs[@]} packages, expected one"
deb=${debs[0]}
echo "package: $(basename "$deb")"

stage=$tmp/stage
dpkg-deb -x "$deb" "$stage" || fail "dpkg-deb -x failed"

# Files where the desktop looks for them.
for f in usr/bin/vek-serv usr/bin/vek-sim usr/bin/vek-cli; do
    [ -f "$stage/$f" ] && [ -x "$stage/$f" ] || fail "no executable /$f"
done
for f in usr/share/applications/io.github.vekserv.VekServ.desktop usr/share/metainfo/io.github.vekserv.VekServ.metainfo.xml \
         usr/share/icons/hicolor/scalable/apps/vek-serv.svg usr/share/doc/vek-serv/copyright \
         usr/share/man/man1/vek-serv.1.gz usr/share/man/man1/vek-sim.1.gz \
         usr/share/man/man1/vek-cli.1.gz usr/share/doc/vek-serv/vek-cli.schema.json; do
    [ -f "$stage/$f" ] || fail "no /$f"
done
# Nothing else: no libraries, headers or test programs.
share='applications|metainfo|man/man1|doc/vek-serv|icons/hicolor/(scalable|[0-9]+x[0-9]+)/apps'
allowed="^\\./usr/(bin/vek-(serv|sim|cli)|share/($share)/[^/]+)\$"
stray=$(cd "$stage" && find . ! -type d | grep -Ev "$allowed")
[ -z "$stray" ] || fail "files that do not belong in the package:"$'\n'"$stray"

# The desktop entry: valid, and its command and icon are in the package.
desktop=$stage/usr/share/applications/io.github.vekserv.VekServ.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate: the desktop entry is not valid"
key() { sed -n "s/^$1=//p" "$desktop"; }
exec_cmd=$(key Exec | awk '{print $1}')
[ -x "$stage/usr/bin/$exec_cmd" ] || fail "Exec=$exec_cmd is not a program in /usr/bin"
icon=$(key Icon)
icons=("$stage"/usr/share/icons/hicolor/*/apps/"$icon".{svg,png})
[ ${#icons[@]} -gt 0 ] || fail "Icon=$icon is not in the hicolor theme"
# The AppStream metadata with the desktop entry it names.
appstreamcli validate-tree --no-net "$stage" ||
    fail "appstreamcli: the AppStream metadata is not valid"

# Debian's own checker, with its informational and pedantic tags: nothing to say (the
# programs are hardened as dpkg-buildflags asks, with immediate binding).
if command -v lintian >/dev/null; then
    tags=$(lintian -I --pedantic "$deb" 2>/dev/null)
    [ -z "$tags" ] || fail "lintian:"$'\n'"$tags"
fi

# Run-time dependencies from the binaries, none of them a development package or build tool.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
[[ $depends == *libqt6widgets6* ]] || fail "Depends lacks the toolkit's libraries"
bad=$(tr ',|' '\n\n' <<<"$depends" | awk '{print $1}' |
      grep -E -- '-dev$|^(cmake|ninja-build|g\+\+.*|gcc.*|pkg-config|qt6-base-dev-tools)$')
[ -z "$bad" ] || fail "Depends names build-time packages: $bad"

# The installed programs start.
mkdir -p "$tmp/home" && mkdir -m 700 "$tmp/run"
export HOME=$tmp/home XDG_CONFIG_HOME=$tmp/home/.config XDG_RUNTIME_DIR=$tmp/run
"$stage/usr/bin/vek-sim" --help >/dev/null || fail "vek-sim --help did not end with status 0"
"$stage/usr/bin/vek-cli" --help >/dev/null || fail "vek-cli --help did not end with status 0"
# Every program gives the package's version, which comes from the project's one version.
version=$(dpkg-deb -f "$deb" Version)
for p in vek-serv vek-sim vek-cli; do
    said=$("$stage/usr/bin/$p" --version)
    [ "$said" = "$p ${version%%-*}" ] || fail "$p --version says \"$said\", the package is $version"
done
# The command-line tool runs where no toolkit is installed.
qt=$(ldd "$stage/usr/bin/vek-cli" | grep -i qt)
[ -z "$qt" ] || fail "vek-cli is linked against Qt:"$'\n'"$qt"

QT_QPA_PLATFORM=offscreen "$stage/usr/bin/vek-serv" >"$tmp/serv.log" 2>&1 &
serv_pid=$!
sleep 2
if ! kill -0 "$serv_pid" 2>/dev/null; then
    wait "$serv_pid"
    status=$?
    serv_pid=
    cat "$tmp/serv.log" >&2
    fail "vek-serv ended by itself at start, status $status"
fi
kill -TERM "$serv_pid"
for _ in $(seq 50); do
    kill -0 "$serv_pid" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$serv_pid" 2>/dev/null && fail "vek-serv still runs 5 s after SIGTERM"
wait "$serv_pid"
status=$?
serv_pid=
if [ "$status" -ne 0 ]; then
    cat "$tmp/serv.log" >&2
    fail "vek-serv ended with status $status on SIGTERM, expected 0"
fi

echo "package checked"
