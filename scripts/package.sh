#!/usr/bin/env bash
# Builds the Debian package and the source tarball of Quillmarsh with CPack,
# from a Release build in build-package:
#
#   scripts/package.sh   ->  build-package/quillmarsh_VERSION_ARCH.deb
#                            build-package/quillmarsh-VERSION.tar.gz
#
# Install the package with  apt-get install ./build-package/quillmarsh_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build="build-package"
cache=()
! command -v ccache >/dev/null || cache=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# Debian's hardening flags, all of them; CMake reads no CPPFLAGS, so they go
# with the C++ flags.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DQUILLMARSH_PACKAGE=ON -DQUILLMARSH_BUILD_TESTS=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" "${cache[@]}" >/dev/null
# Only what the package holds: the tools in tools/ are not installed.
cmake --build "$build" -j2 --target quillmarsh quillmarsh-cli quillmarsh-sim package-docs
rm -f "$build"/quillmarsh_*.deb
(cd "$build" && cpack -G DEB && cpack --config CPackSourceConfig.cmake) >/dev/null
ls "$build"/quillmarsh_*.deb "$build"/quillmarsh-*.tar.gz
