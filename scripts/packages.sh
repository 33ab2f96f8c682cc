# The Debian packages the project needs, and the one routine that installs the missing ones.
# Sourced by scripts/test, scripts/bench and scripts/run.
KESTROVA_PACKAGES=(
  # build
  cmake ninja-build g++ pkg-config bison
  # libraries
  qt6-base-dev libfreetype-dev libfontconfig-dev libgtest-dev libbenchmark-dev
  # fonts the laser text output and its tests use
  fonts-dejavu-core fonts-liberation2 fonts-cantarell fontconfig
  # independent peers the tests check our files and messages against
  python3 python3-dbfread python3-dbf libdbd-xbase-perl python3-gammu
)

install_missing_packages() {
  local missing=() p
  for p in "${KESTROVA_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "== installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
}
