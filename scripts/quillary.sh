#!/bin/sh
# Sets up a Debian 12 machine (as root) for Quillary, builds it, and runs it or its tests.
#   scripts/quillary.sh run      install what is missing, build, start Quillary
#   scripts/quillary.sh test     install what is missing, build, run the whole test suite twice
#                                (plain, then with AddressSanitizer and UndefinedBehaviorSanitizer)
#   scripts/quillary.sh package  install what is missing, make the Debian package
#                                quillary_<version>_<arch>.deb in this folder (built in build-package/)
set -eu
cd "$(dirname "$0")/.."

PACKAGES="g++ make cmake pkg-config qt6-base-dev qt6-qpa-plugins libqt6svg6 libgl-dev
libsqlite3-dev libmount-dev libblkid-dev libiso9660-dev libudf-dev fonts-dejavu-core xorriso genisoimage
udftools fuseiso fuse util-linux file dpkg-dev desktop-file-utils appstream libxxhash-dev xxhash
libfuse3-dev libpq-dev postgresql"

install_missing() {
    missing=""
    for p in $PACKAGES; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
    done
    if [ -n "$missing" ]; then
        echo "Installing:$missing"
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing
    fi
}

build() { # build-dir [cmake options...]
    dir=$1
    shift
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build "$dir" -j"$(nproc)"
}

install_missing
case "${1:-run}" in
run)
    build build
    exec ./build/quillary
    ;;
test)
    build build
    build build-sanitize -DQUILLARY_SANITIZE=ON -DQUILLARY_BENCH=OFF
    export QT_QPA_PLATFORM=offscreen
    status=0
    echo "== Test suite =="
    (cd build && ctest --output-on-failure -j2) || status=1
    echo "== Test suite under AddressSanitizer + UndefinedBehaviorSanitizer =="
    (cd build-sanitize && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
        ctest --output-on-failure -j2) || status=1
    exit $status
    ;;
package)
    # Only what the package installs is built (the target quillary_installed; with
    # CMAKE_SKIP_INSTALL_ALL_DEPENDENCY cpack builds nothing, the tests included), with Debian's
    # hardening flags; cpack strips the programs and computes the dependencies.
    export DEB_BUILD_MAINT_OPTIONS=hardening=+all
    rm -f build-package/quillary_*.deb
    cmake -S . -B build-package -DCMAKE_BUILD_TYPE=Release -DQUILLARY_BENCH=OFF \
        -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
        -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
        -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
    cmake --build build-package -j"$(nproc)" --target quillary_installed
    (cd build-package && cpack -G DEB)
    cp build-package/quillary_*.deb .
    ls -l quillary_*.deb
    ;;
*)
    echo "usage: $0 run|test|package" >&2
    exit 2
    ;;
esac
