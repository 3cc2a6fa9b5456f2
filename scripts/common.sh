# Shared by scripts/run and scripts/test: install what is missing, configure, build.

# The Debian packages the project builds, runs and tests with.
PACKAGES=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev liburing-dev libblkid-dev libcpp-httplib-dev libgtest-dev
  fonts-liberation xvfb xauth xdotool ntfs-3g e2fsprogs exfatprogs exfat-fuse dosfstools
  libxxhash-dev dbus-daemon
)

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

install_missing() {
  local missing=()
  for package in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# build <folder> [cmake options...]: configures once, then builds incrementally.
build() {
  local folder="$ROOT/$1"
  shift
  if [ ! -f "$folder/build.ninja" ]; then
    cmake -S "$ROOT" -B "$folder" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" || return 1
  fi
  cmake --build "$folder" -j2
}
