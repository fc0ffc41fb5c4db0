#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and run. Safe to run again:
# it installs only what is missing.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config clang-format
    libgtest-dev libgmock-dev      # unit tests
    libbenchmark-dev               # the benchmarks (Google Benchmark)
    libmodbus-dev                  # an independent Modbus RTU peer for the link's tests
    nlohmann-json3-dev             # configuration files (JSON) in the Qt-free core
    libcli11-dev                   # vek-cli's command line
    libgcrypt20-dev libgcrypt-mingw-w64-dev  # SHA-256 of the service journal
    poppler-utils                  # pdftotext: the tests read the device report
    python3 python3-jsonschema     # vek-cli's end-to-end tests and its JSON schema
    qt6-base-dev qt6-base-dev-tools libgl-dev  # the windows
    qt6-translations-l10n          # the toolkit's own Russian texts (message box buttons)
    xvfb xauth x11-utils           # window tests on a real X server: titles, placement
    locales                        # a Russian locale, whose comma the number tests meet
    g++-mingw-w64-x86-64-posix googletest  # the Windows build of the core and its tests
    wine64                         # runs that build's tests
    xz-utils                       # unpacks Qt's Debian source for the Windows program
    xdotool                        # finds the Windows program's window under Wine
    clang libclang-rt-14-dev       # the fuzz targets: libFuzzer and the sanitizer runtimes
    dpkg-dev librsvg2-bin          # the Debian package: dpkg-shlibdeps, icon renderings
    desktop-file-utils appstream lintian  # checks of the package and its desktop files
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
# The number tests also run under a locale whose decimal separator is a comma.
has_locale() { locale -a 2>/dev/null | grep -qix 'ru_RU\.utf-\?8'; }
[ ${#missing[@]} -eq 0 ] && has_locale && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages: ${missing[*]} (or the ru_RU.UTF-8 locale)" >&2
    echo "Run: sudo $0" >&2
    exit 1
fi
if [ ${#missing[@]} -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y --no-install-recommends "${missing[@]}"
fi
has_locale || localedef -i ru_RU -f UTF-8 ru_RU.UTF-8
