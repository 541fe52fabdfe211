# Shared by run.sh and test.sh: install what is missing and build into build/.
# Sourced, not run.

KALVORA_PACKAGES=(cmake ninja-build g++ qt6-base-dev qt6-charts-dev libqt6opengl6-dev qt6-svg-dev fonts-liberation fontconfig util-linux)

kalvora_install_missing() {
    local missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then
        echo "Not root: install these packages first: ${missing[*]}" >&2
        return 1
    fi
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

kalvora_build() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir" --parallel "$(nproc)"
}
