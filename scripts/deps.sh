# Sourced by the other scripts: installs the Debian packages the project needs
# when any is missing. Usage: protolib_need PACKAGE...
protolib_need() {
  local missing=()
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
}

PROTOLIB_BASE_PACKAGES=(cmake make g++ pkg-config libprotobuf-dev libprotoc-dev libcli11-dev)
PROTOLIB_TEST_PACKAGES=(libgtest-dev libbenchmark-dev python3)
