#!/usr/bin/env bash
# Makes sure the build tools and libraries are installed. On Debian or Ubuntu as root it installs the missing
# packages with apt-get (and touches the network only when something is missing); elsewhere it names what to
# install and carries on as long as the build tools themselves are there.
#   scripts/install-deps.sh           what the Linux build and its tests need
#   scripts/install-deps.sh windows   what the Windows cross build and its tests under wine need
set -euo pipefail

# python3 draws the desktop icons at build time; dpkg-dev (dpkg-shlibdeps) works out the .deb's dependencies;
# desktop-file-utils, shared-mime-info, man-db and groff-base check what installing gives; clang-format keeps
# the sources in the repository's layout.
packages=(cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev
          nlohmann-json3-dev qt6-base-dev fonts-dejavu-core libstorm-dev libbz2-dev python3 dpkg-dev
          desktop-file-utils shared-mime-info man-db groff-base git clang-format)
if [[ ${1:-} == windows ]]; then
    # MinGW-w64 for the programs, GoogleTest's sources to build it for Windows, wine to run the results and
    # Xvfb for the window's test (its screenshot is written as PNG with zlib for Windows); git fetches
    # StormLib's sources where no release tarball is given; nsis builds the installer.
    packages=(cmake ninja-build nlohmann-json3-dev googletest g++-mingw-w64-x86-64-posix mingw-w64-tools
              libz-mingw-w64-dev wine wine64 xvfb xauth git nsis)
fi

tools_present() {
    local missing_tools=()
    for tool in cmake ninja c++; do
        command -v "$tool" >/dev/null 2>&1 || missing_tools+=("$tool")
    done
    if ((${#missing_tools[@]} > 0)); then
        echo "install-deps: cannot build without: ${missing_tools[*]}" >&2
        return 1
    fi
}

if [[ ! -f /etc/debian_version ]] || ! command -v dpkg-query >/dev/null 2>&1; then
    echo "install-deps: not a Debian-based system; install the equivalents of: ${packages[*]}" >&2
    tools_present
    exit 0
fi

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [[ $status == "install ok installed" ]] || missing+=("$package")
done
((${#missing[@]} == 0)) && exit 0

if [[ $(id -u) -eq 0 ]] && command -v apt-get >/dev/null 2>&1; then
    echo "install-deps: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update
    apt-get install -y "${missing[@]}"
else
    echo "install-deps: missing packages; install them with: sudo apt-get install ${missing[*]}" >&2
    tools_present
fi
