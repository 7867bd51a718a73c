#!/usr/bin/env bash
# Installs the Debian packages the build and tests need; only those missing.
set -euo pipefail

packages=(
  cmake g++ make pkg-config ccache  # ccache: rebuilds and other work trees reuse objects
  libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev libstb-dev libsquish-dev
  libepoxy-dev libegl-dev libegl-mesa0 libgl1-mesa-dri  # the preview's OpenGL through EGL
  clang libclang-rt-14-dev  # fuzz targets
  assimp-utils              # interop tests read our .x, .glb and .obj output with it
  libtinygltf-dev nlohmann-json3-dev  # glTF export
  libtinyobjloader-dev      # OBJ import
  libmeshoptimizer-dev      # reduces models over the limits (convert --simplify)
  qt6-base-dev libqt6opengl6-dev     # the window
  qt6-tools-dev qt6-l10n-tools       # lrelease and CMake's Qt6LinguistTools: the window's English texts
  fonts-noto-cjk                     # Japanese texts in the window
  xvfb xauth                         # window tests without a display
  openbox x11-utils                  # a window manager for the placement tests on Xvfb, xprop to ask it
  desktop-file-utils appstream shared-mime-info libglib2.0-bin  # the install test validates and looks up file types
  locales                   # a decimal-comma locale for the locale test
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The glTF export test runs the Khronos validator through node and npm. A Node.js from elsewhere may
# already bring npm (and conflict with Debian's npm package): only a machine without npm gets both.
if ! command -v npm >/dev/null 2>&1; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends nodejs npm >/dev/null \
    || echo "setup: could not install nodejs and npm; the glTF validator test will skip"
fi

# Parsing must not depend on the process locale: the tests run one reader under a decimal comma.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO localedef -i de_DE -f UTF-8 de_DE.UTF-8 2>/dev/null || echo "setup: could not generate de_DE.UTF-8; the locale test will skip"
fi
