# Shell functions for scripts that need root for some steps. Source it; then
#   vd_as_root CMD ARGS...    runs CMD as root: directly when already root, else through sudo
#   vd_reexec_as_root "$0" ARGS...   replaces the script with itself run as root
# Both stop with a clear message when neither root nor sudo is available.

vd_root_prefix() {
    if [[ $(id -u) -eq 0 ]]; then
        return 0
    fi
    if ! command -v sudo >/dev/null; then
        echo "$(basename "$0"): this step needs root; run the script as root, or install sudo" >&2
        return 1
    fi
    echo sudo
}

vd_as_root() {
    local prefix
    prefix=$(vd_root_prefix) || return 1
    ${prefix:+$prefix} "$@"
}

vd_reexec_as_root() {
    [[ $(id -u) -eq 0 ]] && return 0
    vd_root_prefix >/dev/null || exit 1
    echo "$(basename "$1"): asking for root (sudo) for the network namespaces" >&2
    # The display and the user's runtime folder go along, so the window can still show.
    exec sudo --preserve-env=DISPLAY,WAYLAND_DISPLAY,XAUTHORITY,XDG_RUNTIME_DIR,VALDRUNE_BUILD_DIR \
        -- "$@"
}
