# Shared by ./run and ./test: install what is missing, then configure and build.
# Sourced, not run.

set -euo pipefail

VQ_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# fonts-droid-fallback draws the full-width colon of the port list's label.
VQ_PACKAGES=(cmake g++ make pkg-config qt6-base-dev libudev-dev libgcrypt20-dev libcli11-dev libgtest-dev libgmock-dev
             libsqlite3-dev libpq-dev libcairo2-dev libtomlplusplus-dev libfmt-dev
             fonts-droid-fallback fontconfig)
# What the tests need beyond the build: a virtual X display for the window's
# caption; the Windows cross-compiler, its libgcrypt, GoogleTest's sources
# and Wine for the Windows build; the checkers of the installed files and the
# package; the receivers of the standard protocols that others wrote (lrzsz,
# python3-xmodem, U-Boot in QEMU); a PostgreSQL server for the records; Tcl, which makes SQLite's
# amalgamation for the Windows build; unixODBC and psqlODBC, which Wine's
# ODBC hands the Windows build's records to.
VQ_TEST_PACKAGES=(xvfb x11-utils g++-mingw-w64-x86-64-posix libgcrypt-mingw-w64-dev wine64 googletest wixl msitools
                  desktop-file-utils appstream man-db lintian dpkg-dev
                  lrzsz python3-xmodem u-boot-qemu qemu-system-x86 socat postgresql tcl
                  unixodbc odbc-postgresql)

vq_install_missing() {
    local missing=()
    for p in "${VQ_PACKAGES[@]}" "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# vq_build DIR [cmake options...]
vq_build() {
    local dir="$1"
    shift
    cmake -S "$VQ_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build "$dir" -j"$(nproc)"
}
