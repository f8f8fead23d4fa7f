#!/usr/bin/env bash
# The setup program under Wine, all of it in the test's pc namespace: a silent install into a
# folder whose name has a space, the installed valdrune-cli.exe (with only what the setup put
# beside it, no WINEPATH) finding the simulator's devices, and a silent uninstall that leaves
# neither the folder, the Start-menu entries, the Add/Remove Programs entry nor the firewall
# rules behind. Wine's netsh does nothing: a recording stand-in shows the rule commands.
#   installer-e2e.sh SETUP.exe LINUX_BUILD_DIR RECORDING_NETSH.exe VERSION
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
setup=$1 linux_build=$2 recording_netsh=$3 version=$4
sim=$linux_build/sim/valdrune-sim
if [[ ! -x $sim ]]; then
    echo "SKIP: no Linux build with valdrune-sim at $linux_build" >&2
    exit 77
fi
# shellcheck source=../e2e/lib/netns.sh
source "$root/tests/e2e/lib/netns.sh"
vd_require_netns || exit 77
wine=$(command -v wine64 || command -v wine) || { echo "FAIL: wine is not installed" >&2; exit 1; }
[[ -f $setup ]] || { echo "FAIL: no setup program at $setup" >&2; exit 1; }

failures=0
check() {  # check DESCRIPTION COMMAND...
    if "${@:2}"; then echo "ok: $1"; else echo "FAIL: $1" >&2; failures=$((failures + 1)); fi
}

vd_netns_create setup || exit 1
prefix=$VD_NETNS_TMP/prefix
# The server first, while the namespaces' processes are still there to end.
vd_on_cleanup 'WINEPREFIX=$prefix wineserver -k 2>/dev/null'
netsh_log=$VD_NETNS_TMP/netsh.log
win() {
    vd_pc env WINEPREFIX="$prefix" WINEDEBUG=-all WINEPATH= \
        WINEDLLOVERRIDES="mscoree,mshtml=;netsh.exe=n" \
        VALDRUNE_NETSH_LOG="Z:${netsh_log//\//\\}" "$wine" "$@"
}
# Ends when every program of the prefix has (the uninstaller runs on from a copy of itself).
settle() { vd_pc env WINEPREFIX="$prefix" wineserver -w; }

win wineboot -i >/dev/null 2>&1
settle
cp "$recording_netsh" "$prefix/drive_c/windows/system32/netsh.exe"

folder='C:\Valdrune Setup Test'
unix_folder=$prefix/drive_c/'Valdrune Setup Test'
programs_menu=$prefix/drive_c/ProgramData/Microsoft/Windows/'Start Menu'/Programs/Valdrune
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Valdrune'

# /D= must come last and unquoted, so cmd passes the command line as written.
win cmd /c "Z:${setup//\//\\} /S /D=$folder"
settle
check "the program and the DLLs it loads are in bin" \
    test -f "$unix_folder/bin/valdrune-cli.exe" -a -f "$unix_folder/bin/Qt6Core.dll" \
         -a -f "$unix_folder/bin/libstdc++-6.dll" -a -f "$unix_folder/bin/libwinpthread-1.dll"
check "the uninstaller is in the folder" test -f "$unix_folder/Uninstall.exe"
check "the Start menu has the prompt and the uninstaller" \
    test -f "$programs_menu/Valdrune command prompt.lnk" -a -f "$programs_menu/Uninstall.lnk"
entry=$(win reg query "$uninstall_key" /v DisplayVersion 2>&1)
check "Add/Remove Programs lists version $version" grep -q "DisplayVersion.*REG_SZ.*$version" <<< "$entry"
rule='name="Valdrune (valdrune-cli.exe)"'
check "the firewall rule lets UDP 10669 in for the installed program" grep -qF \
    "add rule $rule dir=in action=allow protocol=UDP localport=10669 profile=any enable=yes program=\"$folder\\bin\\valdrune-cli.exe\"" \
    "$netsh_log"

vd_sim_start --scenario kinds || exit 1
expected=$("$sim" --scenario kinds --subnet "${VD_SUBNET[0]}" --list | grep -oE '([0-9A-F]{2}-){5}[0-9A-F]{2}' | sort -u)
count=$(wc -l <<< "$expected")
found=$(win "$folder\\bin\\valdrune-cli.exe" search -i "${VD_PC_IF[0]}" --expect "$count" --csv |
        grep -oE '^([0-9A-F]{2}-){5}[0-9A-F]{2}' | sort -u)
check "the installed tool finds the simulator's $count devices" test "$found" == "$expected"
[[ $found == "$expected" ]] || printf 'expected:\n%s\nfound:\n%s\n' "$expected" "$found" >&2

: > "$netsh_log"
win "$folder\\Uninstall.exe" /S
settle
check "the folder is gone" test ! -e "$unix_folder"
check "the Start-menu folder is gone" test ! -e "$programs_menu"
# The query that found the entry above now fails.
win reg query "$uninstall_key" >/dev/null 2>&1
check "the Add/Remove Programs entry is gone" test $? -ne 0
check "the firewall rule is deleted" \
    grep -qF "delete rule $rule" "$netsh_log"

echo "$failures failed"
((failures == 0))
