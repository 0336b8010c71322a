# Shared by the README commands: package installation and the build.
# Sourced, not run.

KX_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
KX_BUILD=${KX_BUILD:-$KX_ROOT/build}

# What building and running the driver needs (the demo installs only these).
KX_DRIVER_PACKAGES=(
  build-essential cmake ninja-build bison
  unixodbc unixodbc-dev odbcinst
  openjdk-17-jdk-headless libh2-java libpostgresql-jdbc-java
)
# Everything, for the test suite as well.
KX_PACKAGES=(
  "${KX_DRIVER_PACKAGES[@]}"
  libgtest-dev clang libclang-rt-14-dev
  postgresql python3-pyodbc python3-pytest libdbd-odbc-perl locales
  libxerial-sqlite-jdbc-java libderby-java
)

kx_log() { printf '== %s\n' "$*"; }

# kx_install_packages [PACKAGE...]: installs the Debian packages (all of
# KX_PACKAGES when none are named) that are missing; runs apt-get update once,
# only when needed.
kx_install_packages() {
  local missing=() p wanted=("$@")
  [ ${#wanted[@]} -gt 0 ] || wanted=("${KX_PACKAGES[@]}")
  for p in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -eq 0 ]; then
    return 0
  fi
  kx_log "installing: ${missing[*]}"
  local sudo=
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

kx_java_home() {
  if [ -z "${JAVA_HOME:-}" ]; then
    JAVA_HOME=$(dirname "$(dirname "$(readlink -f "$(command -v javac)")")")
    export JAVA_HOME
  fi
}

# kx_build DIR [cmake options...]
kx_build() {
  local dir=$1; shift
  cmake -S "$KX_ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKX_WERROR=ON "$@" >/dev/null
  cmake --build "$dir"
}
