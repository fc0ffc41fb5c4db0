#!/usr/bin/env bash
# Builds Qt for 64-bit Windows (MinGW-w64) from Debian's own qt6-base source, the version of
# the Linux build's Qt, whose host tools (moc, uic, rcc) serve the cross-build. Only what the
# tool uses: Core, Gui, Widgets, Test, the windows and offscreen platform plugins and the
# styles. Prints the installed prefix.
#
# The build is cached outside the work tree, in $VEK_QT_MINGW_CACHE (default
# ~/.cache/vek-serv/qt-mingw), and reused while the Qt version, the configure options and the
# toolchain file are unchanged; any change builds it again. A fresh build takes about half an
# hour on two cores.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

cache=${VEK_QT_MINGW_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/vek-serv/qt-mingw}
version=$(dpkg-query -W -f='${Version}' qt6-base-dev)
options=(
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64-shared.cmake"
    -DCMAKE_BUILD_TYPE=Release
    -DQT_HOST_PATH=/usr
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
    -DBUILD_SHARED_LIBS=ON
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF
    -DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF
    -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF
    -DFEATURE_testlib=ON
    # Debian's source leaves out the wintab library.
    -DFEATURE_tabletevent=OFF
    # With OpenGL off, 6.4's dynamic-GL path stays on and the windows plugin does not build.
    -DINPUT_opengl=desktop
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF
    -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF
    -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF
)
# The key of the cache: the version, the options and the toolchain, wherever the work tree is
# (a build against the cache names its own toolchain file).
stamp=$( (echo "$version"; printf '%s\n' "${options[@]}" | sed "s|$repo|<work tree>|g"
    cat cmake/mingw-w64.cmake cmake/mingw-w64-shared.cmake) | sha256sum | cut -c1-16)
prefix=$cache/qt-$stamp

if [ -e "$prefix/.complete" ]; then
    echo "$prefix"
    exit 0
fi

# Debian's source of the installed version, through a private list of deb-src entries made
# from the machine's own apt sources; the system's apt configuration is left as it is.
work=$cache/work-$stamp
rm -rf "$work" "$prefix"
mkdir -p "$work/apt/lists/partial" "$work/source"
apt_options=(-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$work/apt"
             -o Dir::State::Lists="$work/apt/lists" -o Debug::NoDropPrivs=1 -q)
for sources in /etc/apt/sources.list.d/*.sources; do
    [ -e "$sources" ] || continue
    sed -e 's/^Types:.*\bdeb\b.*$/Types: deb-src/' "$sources" > "$work/apt/$(basename "$sources")"
done
for list in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -e "$list" ] || continue
    sed -n -e 's/^deb\s/deb-src /p' "$list" > "$work/apt/$(basename "$list")"
done
echo "Qt for Windows: fetching qt6-base $version (source)" >&2
apt-get "${apt_options[@]}" update >&2
(cd "$work/source" && apt-get "${apt_options[@]}" source --download-only "qt6-base=$version" >&2)
dpkg-source -x "$work/source"/qt6-base_*.dsc "$work/qtbase" >&2

# The build's own output (about 1100 steps, with the toolkit's warnings) goes to a log; a
# failure shows its end.
log=$cache/build-$stamp.log
echo "Qt for Windows: configuring and building into $prefix (log: $log)" >&2
run() {
    "$@" >>"$log" 2>&1 || { tail -n 60 "$log" >&2; echo "failed: $*" >&2; exit 1; }
}
: >"$log"
run cmake -S "$work/qtbase" -B "$work/build" -G Ninja -DCMAKE_INSTALL_PREFIX="$prefix" \
    "${options[@]}"
run cmake --build "$work/build"
run cmake --install "$work/build"
# The LGPL is a set of permissions added to the GPL: the zip carries both texts.
mkdir -p "$prefix/licenses"
cp "$work/qtbase/LICENSES/LGPL-3.0-only.txt" "$work/qtbase/LICENSES/GPL-3.0-only.txt" \
    "$prefix/licenses/"
echo "qt6-base $version (Debian source package), built for x86_64-w64-mingw32" > "$prefix/SOURCE.txt"
touch "$prefix/.complete"
rm -rf "$work"
echo "$prefix"
