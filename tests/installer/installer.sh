#!/usr/bin/env bash
# The installer as a Windows user meets it, in a Wine prefix made fresh for
# this run at 200 % scaling (192 DPI): a silent install, the installed
# program's /autoexit run against the reference server, its dialogs and tray
# menu photographed, an upgrade over the running copy, and a silent uninstall
# that keeps the settings. The suite provides the network namespace and the
# server's port.
#   usage: installer.sh SETUP_EXE ZIP POKE_EXE OUTDIR VERSION
set -uo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
setup=$(realpath "$1")
zip=$(realpath "$2")
poke=$(realpath "$3")
out=$(realpath "$4")
version=$5
port=${VASTREL_TEST_PORT:?the suite starts the reference server}
work="$out/installer"
dpi=192
if [ -z "${VASTREL_FRESH_PREFIX:-}" ]; then
    rm -rf "$work"
    mkdir -p "$work"
    VASTREL_FRESH_PREFIX=1 exec "$here/tools/wine-env.sh" --prefix "$work/wine-prefix" --dpi "$dpi" "$0" "$@"
fi
shots="$out/screenshots"
mkdir -p "$shots"
. "$here/tests/e2e/session.sh"

windows_path() { wine cmd /c echo "$1" 2>/dev/null | tr -d '\r'; }
install_dir=$(winepath -u "$(windows_path %LOCALAPPDATA%)\\Programs\\Vastrel" 2>/dev/null)
install_dir=${install_dir%/}
shortcut=$(winepath -u "$(windows_path %APPDATA%)\\Microsoft\\Windows\\Start Menu\\Programs\\Vastrel.lnk" 2>/dev/null)
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vastrel'
log="$install_dir/vastrel.log"
absent() { ! test -e "$1"; }
terminations() { grep -c "Vastrel terminated properly." "$log" 2>/dev/null; }

# 1. The portable zip: the program, its README and the licence.
mkdir -p "$work/zip"
(cd "$work/zip" && cmake -E tar xf "$zip")
check "the zip holds vastrel.exe, README.txt and LICENSE.txt" \
    test "$(cd "$work/zip" && ls | tr '\n' ' ')" = "LICENSE.txt README.txt vastrel.exe "
shipped="$work/zip/vastrel.exe"

# 2. A silent install into the fresh prefix.
wine "$setup" /S >/dev/null 2>&1
check "the silent install exits 0" test $? = 0
for file in vastrel.exe README.txt LICENSE.txt uninstall.exe; do
    check "$file is installed in %LOCALAPPDATA%\\Programs\\Vastrel" test -f "$install_dir/$file"
done
check "the installed program is the zip's" cmp -s "$install_dir/vastrel.exe" "$shipped"
check "the Start-menu shortcut exists" test -f "$shortcut"
check "the uninstall entry names the version" test "$(query "$uninstall_key" DisplayVersion)" = "$version"
check "the uninstall entry names the uninstaller" \
    bash -c "wine reg query '$uninstall_key' /v UninstallString 2>/dev/null | grep -q 'Vastrel\\\\uninstall.exe'"

# 2b. The first start on the fresh profile: Accounts opens by itself, and
#     the tooltip says where to add an account.
wine "$install_dir/vastrel.exe" >/dev/null 2>&1 &
check "the first start opens Accounts" wait_for 20 box "Vastrel Accounts"
check "its blank form says how to add an account" sh -c \
    "wine '$poke' control 'Vastrel Accounts' $IDC_ACCOUNT_STATE 2>/dev/null | grep -q 'To add an account, choose your service'"
wine "$poke" hover $((13 * dpi / 96)) $((31 * dpi / 96)) >/dev/null 2>&1 && sleep 2.5
shot first-run-${dpi}dpi
wine "$poke" command $IDM_EXIT >/dev/null 2>&1
wait_for 20 stopped

# 3. The installed program updates the account and quits; its log is
#    written beside it without administrator rights.
configure secret
timeout 60 wine "$install_dir/vastrel.exe" /autoexit >/dev/null 2>&1
check "the installed program's /autoexit run ends 0" test $? = 0
check "LastIP is stored" stored_ip
check "the log is written beside the program" log_has "Vastrel terminated properly."
check "the first start wrote the Run value" test -n "$(query "$run_key" Vastrel)"

# 4. At 200 %: the tray icon, the dialogs and the menu. An older build
#    stands in the program file, for the upgrade below to replace.
#    Its first run registers the address anew and tells so at the icon.
printf 'an older build' >>"$install_dir/vastrel.exe"
wine reg add "$product" /v ShowNotifications /t REG_DWORD /d 1 /f >/dev/null 2>&1
wine reg add "$product\\Accounts\\0" /v LastIP /t REG_DWORD /d 0 /f >/dev/null 2>&1
wine "$install_dir/vastrel.exe" >/dev/null 2>&1 &
check "the program runs" wait_for 20 running
check "its first run registers the address" wait_for 20 stored_ip
sleep 3
shot notice-address-${dpi}dpi
tray_shot enabled-${dpi}dpi "$dpi"
photograph_dialog $IDM_PROPERTIES "Vastrel Properties" properties-dialog-${dpi}dpi 2
# Accounts with the updated account selected, its state shown; the log window made larger.
wine "$poke" command $IDM_ACCOUNTS >/dev/null 2>&1
wait_for 20 box "Vastrel Accounts"
wine "$poke" select "Vastrel Accounts" $IDC_ACCOUNT_LIST 0 >/dev/null 2>&1
check "Accounts shows the registered address" sh -c "wine '$poke' control 'Vastrel Accounts' $IDC_ACCOUNT_STATE 2>/dev/null | grep -q 'Registered: 192.0.2.10'"
shot accounts-dialog-state-${dpi}dpi
wine "$poke" click "Vastrel Accounts" 2 >/dev/null 2>&1
wait_for 10 closed "Vastrel Accounts"
wine "$poke" command $IDM_VIEWLOG >/dev/null 2>&1
wait_for 20 visible "Vastrel Update Log"
wine "$poke" size "Vastrel Update Log" $((800 * dpi / 96)) $((560 * dpi / 96)) >/dev/null 2>&1 && sleep 0.5
shot log-window-resized-${dpi}dpi
wine "$poke" click "Vastrel Update Log" 1 >/dev/null 2>&1
photograph_dialog $IDM_ABOUT "About Vastrel" about-box-${dpi}dpi 1
wine "$poke" tray $WM_RBUTTONDOWN >/dev/null 2>&1
sleep 1.5
shot tray-menu-${dpi}dpi
wine "$poke" close-menu >/dev/null 2>&1
sleep 0.5

# 5. An upgrade over the running copy: the installer ends it with "Exit"
#    (which stores its settings), replaces the program and starts it again.
before=$(terminations)
wine "$setup" /S >/dev/null 2>&1
check "the upgrade exits 0" test $? = 0
check "the running copy was ended by Exit" test "$(terminations)" = $((before + 1))
check "the upgrade replaced the program" cmp -s "$install_dir/vastrel.exe" "$shipped"
check "the upgraded program runs again" wait_for 20 running

# 6. A silent uninstall ends the program and removes all but the settings.
: >"$install_dir/vastrel.log.1"  # an older log moved aside goes too
wine "$install_dir/uninstall.exe" /S >/dev/null 2>&1
check "the program folder and its log are removed" wait_for 30 absent "$install_dir"
check "the program was ended" stopped
check "the shortcut is removed" absent "$shortcut"
check "the uninstall entry is removed" bash -c "! wine reg query '$uninstall_key' >/dev/null 2>&1"
check "the Run value is removed" test -z "$(query "$run_key" Vastrel)"
check "the settings are kept" stored_ip

summary
