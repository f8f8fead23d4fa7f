# Sourced by the end-to-end scripts: one Wine prefix for the whole run, made once in a
# namespace of its own and removed on exit. The wineserver (which owns Wine's sockets) then
# starts afresh inside each test's pc namespace, and the test's clean-up ends it with every
# other process there.
export VALDRUNE_WINEPREFIX
VALDRUNE_WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/valdrune-wine-e2e.XXXXXX") || exit 1
vd_wine_cleanup() {
    WINEPREFIX=$VALDRUNE_WINEPREFIX wineserver -k 2>/dev/null
    rm -rf "$VALDRUNE_WINEPREFIX"
}
trap vd_wine_cleanup EXIT
unshare --net -- env WINEPREFIX="$VALDRUNE_WINEPREFIX" WINEDEBUG=-all \
    WINEDLLOVERRIDES=mscoree,mshtml= bash -c 'wineboot -i >/dev/null 2>&1; wineserver -w'
