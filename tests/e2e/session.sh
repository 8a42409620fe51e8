# Sourced by the scripts that drive the real vastrel.exe under Wine: checks,
# waits, registry look-ups, screenshots and the account that the reference
# server knows. The caller sets poke (the helper), log (the program's log
# file), shots (the screenshot folder) and port (the server's).
failures=0
passes=0
check() {  # check NAME CONDITION...
    local name=$1
    shift
    if "$@"; then
        passes=$((passes + 1))
        echo "ok: $name"
    else
        failures=$((failures + 1))
        echo "FAILED: $name"
        # What the program logged last, for a failure seen only in CI.
        [ -n "${log:-}" ] && [ -f "$log" ] && tail -n 20 "$log" | sed 's/^/    log: /' || true
    fi
}
wait_for() {  # wait_for SECONDS CONDITION...
    local limit=$(($1 * 10))
    shift
    for _ in $(seq 1 "$limit"); do "$@" && return 0; sleep 0.1; done
    return 1
}
log_has() { grep -q -- "$1" "$log" 2>/dev/null; }
running() { wine "$poke" running >/dev/null 2>&1; }
stopped() { ! running; }
box() { wine "$poke" exists "$1" >/dev/null 2>&1; }
visible() { wine "$poke" visible "$1" >/dev/null 2>&1; }
# "enabled TEXT" or "disabled TEXT" of a control; the rows of a list box.
control() { wine "$poke" control "$1" "$2" 2>/dev/null | tr -d '\r'; }
rows() { wine "$poke" rows "$1" "$2" 2>/dev/null | tr -d '\r'; }
# The program still takes commands: "View log..." shows its log window,
# which is then hidden again. A quit already posted would end the loop first.
answers_commands() {
    wine "$poke" command "$IDM_VIEWLOG" >/dev/null 2>&1 && wait_for 10 visible "Vastrel Update Log" &&
        wine "$poke" click "Vastrel Update Log" "$IDOK" >/dev/null 2>&1
}
# Update requests the reference server recorded for a full host name.
server_get() {
    { exec 3<>"/dev/tcp/127.0.0.1/$port" && printf 'GET %s HTTP/1.1\r\n\r\n' "$1" >&3 && cat <&3; } 2>/dev/null | tail -n 1
}
requests_for() { server_get "/__count?host=$1"; }
# The whole answer's body (the recorded requests, say).
server_text() {
    { exec 3<>"/dev/tcp/127.0.0.1/$port" && printf 'GET %s HTTP/1.1\r\n\r\n' "$1" >&3 && cat <&3; } 2>/dev/null |
        sed '1,/^\r*$/d'
}
query() { wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | awk -v n="$2" '$1 == n { print $3 }'; }
product='HKCU\Software\Brannock\Vastrel'
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
# The tray menu's commands, the tray callback's mouse messages, the buttons
# and answers of dialogs and message boxes, and the Accounts dialog's controls.
IDM_PROPERTIES=40002 IDM_HELP=40003 IDM_ABOUT=40004 IDM_EXIT=40005 IDM_ENABLEDISABLE=40006
IDM_CHECKNOW=40007 IDM_ACCOUNTS=40008 IDM_SNOOZE=40009 IDM_VIEWLOG=40012 IDM_FORCEUPDATE=40013
WM_LBUTTONDBLCLK=515 WM_RBUTTONDOWN=516 NIN_BALLOONUSERCLICK=1029
IDOK=1 IDCANCEL=2 IDYES=6 IDNO=7
IDC_ACCOUNT_USER=1013 IDC_ACCOUNT_PASSWORD=1014 IDC_ACCOUNT_HOST=1015 IDC_ACCOUNT_LIST=1028
IDC_ACCOUNT_SERVER=1029 IDC_ACCOUNT_APPLY=1030 IDC_ACCOUNT_ADDRESSES=1046 IDC_ACCOUNT_STATE=1048
IDC_ACCOUNT_UPDATE_SERVER=1044

shot() { import -window root "$shots/$1.png" 2>/dev/null; }
# The tray icon as Wine's own tray window shows it, at the top left; SIZE is
# the crop at 96 DPI, scaled with the screen's DPI.
tray_shot() {  # tray_shot NAME [DPI]
    local dpi=${2:-96}
    import -window root "$shots/.screen.png" 2>/dev/null &&
        convert "$shots/.screen.png" -crop "$((72 * dpi / 96))x$((64 * dpi / 96))+0+0" +repage \
            -scale 400% "$shots/tray-$1.png" 2>/dev/null
    rm -f "$shots/.screen.png"
}

# One account, alice at host "home", updated through the reference server as
# its proxy on a LAN connection; PASSWORD "secret" is the one it accepts.
home=home.vastrel.example
configure() {  # configure PASSWORD
    wine reg add "$product" /v UseProxy /t REG_DWORD /d 1 /f >/dev/null 2>&1
    wine reg add "$product" /v ProxyServer /t REG_SZ /d 127.0.0.1 /f >/dev/null 2>&1
    wine reg add "$product" /v ProxyPort /t REG_DWORD /d "$port" /f >/dev/null 2>&1
    wine reg add "$product" /v Connection /t REG_DWORD /d 1 /f >/dev/null 2>&1
    wine reg add "$product\\Accounts" /v Count /t REG_DWORD /d 1 /f >/dev/null 2>&1
    wine reg add "$product\\Accounts\\0" /v HostName /t REG_SZ /d home /f >/dev/null 2>&1
    wine reg add "$product\\Accounts\\0" /v UserName /t REG_SZ /d alice /f >/dev/null 2>&1
    wine reg add "$product\\Accounts\\0" /v Password /t REG_SZ /d "$1" /f >/dev/null 2>&1
    wine reg add "$product\\Accounts\\0" /v Update /t REG_DWORD /d 1 /f >/dev/null 2>&1
    wine reg add "$product\\Accounts\\0" /v LastIP /t REG_DWORD /d 0 /f >/dev/null 2>&1
}
# The address the suite's network namespace gives the program, as stored.
stored_ip() { test "$(query "$product\\Accounts\\0" LastIP)" = 0xa0200c0; }
# The address the reference server names as the check-IP service, 203.0.113.7.
stored_public_ip() { test "$(query "$product\\Accounts\\0" LastIP)" = 0x77100cb; }

# A dialog opened from the tray menu, photographed and closed with Cancel
# (or OK, which is the About box's only button).
photograph_dialog() {  # photograph_dialog COMMAND CAPTION SHOT CLOSE_ID
    wine "$poke" command "$1" >/dev/null 2>&1
    check "$2 opens" wait_for 20 box "$2"
    sleep 0.5
    shot "$3"
    wine "$poke" click "$2" "$4" >/dev/null 2>&1
    check "$2 closes" wait_for 10 closed "$2"
}
closed() { ! box "$1"; }
start_program() { wine "$work/vastrel.exe" >/dev/null 2>&1 & wait_for 20 running; }
quit_program() { wine "$poke" command $IDM_EXIT >/dev/null 2>&1; wait_for 20 stopped; }
summary() {
    echo "$passes passed, $failures failed"
    [ "$failures" -eq 0 ]
}
