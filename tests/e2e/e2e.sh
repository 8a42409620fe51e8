#!/usr/bin/env bash
# The real vastrel.exe under Wine against the reference server: first start,
# a second instance, the tray menu, "Exit", and /autoexit runs. Runs inside
# the Wine environment of the suite (DISPLAY, WINEPREFIX and the server's
# port are set). Screenshots go to the build folder's screenshots/.
#   usage: e2e.sh VASTREL_EXE POKE_EXE OUTDIR
set -uo pipefail
exe=$1
poke=$2
out=$3
port=${VASTREL_TEST_PORT:?the suite starts the reference server}
work="$out/e2e"
shots="$out/screenshots"
rm -rf "$work"
mkdir -p "$work" "$shots"
cp "$exe" "$work/vastrel.exe"
log="$work/vastrel.log"
. "$(dirname "$0")/session.sh"
kept=0
clear_profile() {  # the log so far stays beside it for a look after a failure
    wine reg delete 'HKCU\Software\Brannock' /f >/dev/null 2>&1
    wine reg delete "$run_key" /v Vastrel /f >/dev/null 2>&1
    [ -f "$log" ] && mv "$log" "$work/vastrel.$((kept += 1)).log"
}

# 1. First start on an empty profile.
clear_profile
wine "$work/vastrel.exe" >/dev/null 2>&1 &
check "first start logs the start-up line" wait_for 20 log_has "Vastrel 1.5.7 initialized properly."
check "defaults stored" test "$(query "$product" SleepTime)" = 0x493e0
check "22 values in the product key" test "$(wine reg query "$product" 2>/dev/null | grep -c REG_)" = 22
check "UseHTTPS and UsePublicAddress are off, ShowNotifications on, Connection LAN" test "$(query "$product" UseHTTPS)$(
    query "$product" UsePublicAddress)$(query "$product" ShowNotifications)$(query "$product" Connection)" = 0x00x00x10x1
check "account count 0" test "$(query "$product\\Accounts" Count)" = 0x0
check "Run value holds the program path" test "$(wine reg query "$run_key" /v Vastrel 2>/dev/null | tr -d '\r' |
    awk '/Vastrel/ { $1 = ""; $2 = ""; sub(/^ +/, ""); print }')" = "$(winepath -w "$work/vastrel.exe")"

# With no account yet, Accounts opens by itself and the tooltip says where to add one.
check "the first start opens Accounts" wait_for 20 box "Vastrel Accounts"
wine "$poke" hover 13 31 >/dev/null 2>&1 && sleep 2.5  # the tray icon, for its tooltip
shot first-run-96dpi
wine "$poke" click "Vastrel Accounts" $IDCANCEL >/dev/null 2>&1
wait_for 10 closed "Vastrel Accounts"
tray_shot enabled
wine "$poke" command $IDM_ENABLEDISABLE >/dev/null 2>&1
sleep 1
tray_shot disabled
wine "$poke" command $IDM_ENABLEDISABLE >/dev/null 2>&1
sleep 1

# 2. A second instance shows the running one's log window and touches nothing.
# (First let the version check that follows start-up by two seconds write its line.)
wait_for 20 log_has "Checking for new version..."
sleep 1
wine reg export 'HKCU\Software\Brannock' "$(winepath -w "$work/before.reg")" >/dev/null 2>&1
lines_before=$(wc -l <"$log")
timeout 20 wine "$work/vastrel.exe" >/dev/null 2>&1
second=$?
check "second instance exits 0" test "$second" = 0
wine reg export 'HKCU\Software\Brannock' "$(winepath -w "$work/after.reg")" >/dev/null 2>&1
check "second instance leaves the registry alone" cmp -s "$work/before.reg" "$work/after.reg"
check "second instance writes no log line" test "$(wc -l <"$log")" = "$lines_before"
check "the running instance shows its log window" wait_for 10 visible "Vastrel Update Log"
sleep 1
shot log-window
# Resized larger, the list fills the window and OK keeps to the corner.
wine "$poke" size "Vastrel Update Log" 800 560 >/dev/null 2>&1
sleep 0.5
shot log-window-resized

# 3. The tray menu, with "Snooze" grayed.
wine "$poke" tray $WM_RBUTTONDOWN >/dev/null 2>&1
sleep 1.5
shot tray-menu-snooze-grayed
wine "$poke" close-menu >/dev/null 2>&1
sleep 0.5

# 4. "Exit" stores what changed and ends with the terminated line; a value
#    changed by hand meanwhile is left as it is.
wine reg add "$product" /v SleepTime /t REG_DWORD /d 600000 /f >/dev/null 2>&1
wine "$poke" command $IDM_EXIT >/dev/null 2>&1
check "Exit ends the program" wait_for 20 stopped
check "Exit leaves a value changed by hand" test "$(query "$product" SleepTime)" = 0x927c0
check "last line is the terminated line" test "$(tail -n 1 "$log" | tr -d '\r' | cut -c 20-)" = "Vastrel terminated properly."

# 5. /autoexit in any letter case: one successful run, then the program ends.
clear_profile
configure secret
timeout 60 wine "$work/vastrel.exe" /AutoExit >/dev/null 2>&1
check "/AutoExit ends after a good run" test $? = 0
check "LastIP stored" test "$(query "$product\\Accounts\\0" LastIP)" = 0xa0200c0
check "LastUpdate stored" test "$(query "$product\\Accounts\\0" LastUpdate)" != 0x0

# 5b. Behind a router: the check-IP service (the reference server, reached as
#     the proxy) names the address that is registered; Properties shows the
#     option on and the interface list disabled.
clear_profile
configure secret
wine reg add "$product" /v UsePublicAddress /t REG_DWORD /d 1 /f >/dev/null 2>&1
wine "$work/vastrel.exe" >/dev/null 2>&1 &
check "the address the web named is stored" wait_for 30 stored_public_ip
photograph_dialog $IDM_PROPERTIES "Vastrel Properties" properties-dialog-public-address 2
wine "$poke" command $IDM_EXIT >/dev/null 2>&1
wait_for 20 stopped
# 5b. With "UseHTTPS" the same run goes through a tunnel of the proxy to the
#     server's TLS listener, whose certificate is checked (the suite makes
#     the system trust the test authority where it can).
tls_port=$(tr ' ' '\n' <<<"${VASTREL_TEST_TLS_PORTS:-}" | sed -n 's/^valid=//p')
if [ -n "${VASTREL_TEST_CA_TRUSTED:-}" ] && [ -n "$tls_port" ]; then
    clear_profile
    configure secret
    wine reg add "$product" /v UseHTTPS /t REG_DWORD /d 1 /f >/dev/null 2>&1
    wine reg add "$product" /v PortNumber /t REG_DWORD /d "$tls_port" /f >/dev/null 2>&1
    wine reg add "$product" /v DetailedLogging /t REG_DWORD /d 1 /f >/dev/null 2>&1
    timeout 60 wine "$work/vastrel.exe" /autoexit >/dev/null 2>&1
    check "/autoexit over HTTPS ends after a good run" test $? = 0
    check "LastIP stored over HTTPS" test "$(query "$product\\Accounts\\0" LastIP)" = 0xa0200c0
    check "the proxy opened a tunnel" log_has "Tunnel opened."
    check "the server's certificate was checked" log_has "Secure connection established ("
    clear_profile
else
    echo "skipped: HTTPS, the test authority is not trusted here"
fi

# 6. A trailing blank is another command line: the program keeps running. The
#    command line is given exactly (wine would quote an argument with a blank).
configure secret
wine "$poke" start "$(winepath -w "$work/vastrel.exe")" "/autoexit " >/dev/null 2>&1
check "the good run under '/autoexit ' is stored" wait_for 30 stored_ip
check "'/autoexit ' (a trailing blank) keeps running after a good run" answers_commands
wine "$poke" command $IDM_EXIT >/dev/null 2>&1
wait_for 20 stopped

# 7. A failing run under /autoexit keeps the program running; the menu then
#    offers "Snooze". Detailed logging shows the refusal and the run's end.
#    With notifications on, the refusal is told at the icon, and a click on
#    the notice opens the Accounts dialog.
configure wrong
wine reg add "$product" /v DetailedLogging /t REG_DWORD /d 1 /f >/dev/null 2>&1
wine reg add "$product" /v ShowNotifications /t REG_DWORD /d 1 /f >/dev/null 2>&1
wine "$work/vastrel.exe" /autoexit >/dev/null 2>&1 &
check "the failing run is logged" wait_for 20 log_has "   Some or all accounts failed to update!"
check "the refusal is logged" log_has "\*\*\* Authorization failed! Wrong or missing user credentials?"
check "a failed run does not end /autoexit" answers_commands
sleep 3  # Wine's tray shows a balloon two seconds after the notice
shot notice-refusal
wine "$poke" tray $WM_RBUTTONDOWN >/dev/null 2>&1
sleep 1.5
shot tray-menu-snooze-enabled
tray_shot failed-a
sleep 0.5
tray_shot failed-b
wine "$poke" close-menu >/dev/null 2>&1
sleep 0.5
check "the refused account was disabled and stored" test "$(query "$product\\Accounts\\0" Update)" = 0x0
wine "$poke" tray $NIN_BALLOONUSERCLICK >/dev/null 2>&1
check "a click on the notice opens Accounts" wait_for 20 box "Vastrel Accounts"
wine "$poke" click "Vastrel Accounts" $IDCANCEL >/dev/null 2>&1
wait_for 10 closed "Vastrel Accounts"
wine "$poke" command $IDM_EXIT >/dev/null 2>&1
wait_for 20 stopped

# 8. "Check now" finds a newer version and asks; "Force update" warns first,
#    and answered No sends nothing: a later "Check now" run finds the account
#    up to date, and the server got no request for it meanwhile.
configure secret
wine reg add "$product" /v LastVersion /t REG_SZ /d "" /f >/dev/null 2>&1
wine reg add "$product" /v DetailedLogging /t REG_DWORD /d 1 /f >/dev/null 2>&1
wine reg add "$product" /v FirstCheck /t REG_DWORD /d 3600 /f >/dev/null 2>&1  # runs only when asked
server_get "/__control/version?body=VERSION%3A1.5.8%20" >/dev/null
wine "$work/vastrel.exe" >/dev/null 2>&1 &
wait_for 20 running  # the log holds the start-up lines of earlier sections
runs_ended() { grep -c "   Update successful" "$log" 2>/dev/null; }
ended_since() { test "$(runs_ended)" -gt "$1"; }  # ended_since COUNT: another run has ended
ended=$(runs_ended)
wine "$poke" command $IDM_CHECKNOW >/dev/null 2>&1
answered() { wine "$poke" answer "$1" $IDNO >/dev/null 2>&1; }
check "the new version is offered" wait_for 20 box "New version"
sleep 0.5
shot new-version-box
check "the offer is answered No" wait_for 20 answered "New version"
check "the offer is logged" wait_for 10 log_has "New version 1.5.8 is available"
check "Check now updates the account" wait_for 20 stored_ip
wait_for 20 ended_since "$ended"
server_get "/__control/version?reset=1" >/dev/null
sent=$(requests_for $home)
wine "$poke" command $IDM_FORCEUPDATE >/dev/null 2>&1
check "Force update asks first" wait_for 20 box "Force update"
sleep 0.5
shot force-update-box
check "the warning is answered No" wait_for 20 answered "Force update"
ended=$(runs_ended)
wine "$poke" command $IDM_CHECKNOW >/dev/null 2>&1
check "a later Check now run ends" wait_for 20 ended_since "$ended"
check "it finds the account up to date" log_has "home members.vastrel.example is already up-to-date"
check "Force update answered No sent nothing" test "$(requests_for $home)" = "$sent"
wine "$poke" command $IDM_EXIT >/dev/null 2>&1
wait_for 20 stopped
check "LastVersion is stored" test "$(wine reg query "$product" /v LastVersion 2>/dev/null | tr -d '\r' | awk '/LastVersion/ { print $3 }')" = 1.5.8

# 9. The dialogs, and a user's session: an account added in the Accounts
#    dialog, OK, "Check now", and the address is stored.
clear_profile
configure secret
wine reg add "$product\\Accounts" /v Count /t REG_DWORD /d 0 /f >/dev/null 2>&1
wine "$work/vastrel.exe" >/dev/null 2>&1 &
wait_for 20 running
photograph_dialog $IDM_ABOUT "About Vastrel" about-box $IDOK
photograph_dialog $IDM_PROPERTIES "Vastrel Properties" properties-dialog $IDCANCEL
wine "$poke" command $IDM_ACCOUNTS >/dev/null 2>&1
check "Accounts dialog opens" wait_for 20 box "Vastrel Accounts"
accounts() { wine "$poke" "$1" "Vastrel Accounts" "${@:2}" >/dev/null 2>&1; }
accounts select $IDC_ACCOUNT_SERVER 18  # the maker's first row, after the catalogue's services
accounts set $IDC_ACCOUNT_HOST home
accounts set $IDC_ACCOUNT_USER alice
check "Add is disabled while the password is missing" \
    test "$(control "Vastrel Accounts" $IDC_ACCOUNT_APPLY)" = "disabled Add"
accounts set $IDC_ACCOUNT_PASSWORD secret
check "Add is enabled once the form is complete" \
    test "$(control "Vastrel Accounts" $IDC_ACCOUNT_APPLY)" = "enabled Add"
sleep 0.5
shot accounts-dialog
accounts click $IDC_ACCOUNT_APPLY
listed() { test "$(rows "Vastrel Accounts" $IDC_ACCOUNT_LIST)" = "$home"; }
check "Add lists the new account" wait_for 10 listed
accounts key $IDC_ACCOUNT_HOST 9  # Tab
focus_on() { test "$(wine "$poke" focused "Vastrel Accounts" 2>/dev/null | tr -d '\r')" = "$1"; }
check "Tab moves the focus from Host to the next field" wait_for 10 focus_on $IDC_ACCOUNT_USER
accounts click $IDOK
check "OK closes the dialog" wait_for 10 closed "Vastrel Accounts"
check "OK stores the account" test "$(query "$product\\Accounts" Count)/$(query "$product\\Accounts\\0" HostName)/$(
    query "$product\\Accounts\\0" UserName)" = "0x1/home/alice"
wine "$poke" command $IDM_CHECKNOW >/dev/null 2>&1
check "Check now stores LastIP for the new account" wait_for 30 stored_ip
wine "$poke" command $IDM_EXIT >/dev/null 2>&1
wait_for 20 stopped

# 9b. The services: No-IP, DuckDNS and Cloudflare accounts added in the
#     Accounts dialog, "Check now", and the reference server, as the proxy,
#     gets each request over TLS to the service's own name. A "badauth"
#     disables its account; a "911" keeps its account enabled, and a second
#     "Check now" sends it nothing while the wait lasts.
if [ -n "${VASTREL_TEST_CA_TRUSTED:-}" ]; then
    clear_profile
    configure secret
    wine reg add "$product\\Accounts" /v Count /t REG_DWORD /d 0 /f >/dev/null 2>&1
    wine reg add "$product" /v DetailedLogging /t REG_DWORD /d 1 /f >/dev/null 2>&1
    server_get "/__control/service?host=wait.ddns.net&mode=911" >/dev/null
    server_get "/__control/clear" >/dev/null
    start_program
    wine "$poke" command $IDM_ACCOUNTS >/dev/null 2>&1
    wait_for 20 box "Vastrel Accounts"
    add_service_account() {  # add_service_account ROW HOST USER PASSWORD [SHOT]
        accounts select $IDC_ACCOUNT_SERVER "$1"
        accounts set $IDC_ACCOUNT_HOST "$2"
        [ -n "$3" ] && accounts set $IDC_ACCOUNT_USER "$3"
        accounts set $IDC_ACCOUNT_PASSWORD "$4"
        [ -n "${5:-}" ] && sleep 0.5 && shot "$5"
        local before
        before=$(rows "Vastrel Accounts" $IDC_ACCOUNT_LIST | grep -c .)
        accounts click $IDC_ACCOUNT_APPLY
        wait_for 10 has_rows $((before + 1))
    }
    has_rows() { test "$(rows "Vastrel Accounts" $IDC_ACCOUNT_LIST | grep -c .)" = "$1"; }
    add_service_account 0 home.ddns.net carol carol-secret accounts-dialog-no-ip
    add_service_account 1 mine "" duck-token-0123
    add_service_account 2 home.cloud.example "" cf-token-0123 accounts-dialog-cloudflare
    add_service_account 0 nochg.ddns.net carol wrong
    add_service_account 0 wait.ddns.net carol carol-secret
    # Namecheap takes the registered domain; Dynu, set to "IPv4", is told to leave the AAAA record alone.
    add_service_account 5 www.example.co.uk example.co.uk nc-password-0123 accounts-dialog-namecheap
    add_service_account 3 dynu.ddns.net carol carol-secret
    # DNS-O-Matic and dynv6 among the newer services by name, after Hurricane Electric and DigitalOcean.
    add_service_account 9 long.ddns.net carol carol-secret
    add_service_account 10 home.dynv6.net "" dynv6-token-0123
    # Porkbun: the registered domain, the secret API key, and the API key where "Update server" stands.
    accounts select $IDC_ACCOUNT_SERVER 15
    accounts set $IDC_ACCOUNT_UPDATE_SERVER pk1_porkbun-key
    add_service_account 15 www.pork.example pork.example sk1_porkbun-secret accounts-dialog-porkbun
    add_service_account 11 www.gandi.example gandi.example pat_gandi-token-0123
    check "the service accounts are listed as typed" test "$(rows "Vastrel Accounts" $IDC_ACCOUNT_LIST | tr '\n' ' ')" = \
        "home.ddns.net mine home.cloud.example nochg.ddns.net wait.ddns.net www.example.co.uk dynu.ddns.net long.ddns.net home.dynv6.net www.pork.example www.gandi.example "
    accounts click $IDOK
    wait_for 10 closed "Vastrel Accounts"
    account_value() { query "$product\\Accounts\\$1" "$2"; }
    check "OK stores the catalogue's values" test "$(account_value 0 Service)/$(account_value 0 Server)/$(
        account_value 0 ServiceUserName)/$(account_value 1 Service)/$(account_value 2 Service)/$(account_value 7 Service)/$(account_value 8 Service)/$(account_value 9 UpdateServer)/$(account_value 10 Service)" = "0x1/0xffffffff/carol/0x2/0x3/0xa/0xe/pk1_porkbun-key/0x10"
    wine "$poke" command $IDM_CHECKNOW >/dev/null 2>&1
    waited() { test -n "$(account_value 4 RetryAt)" && test "$(account_value 4 RetryAt)" != 0x0; }
    check "the 911 stores a wait" wait_for 60 waited
    for i in 0 1 2 5 6 7 8 9 10; do check "account $i stores its address" test "$(account_value $i LastIP)" = 0xa0200c0; done
    check "badauth disables its account" test "$(account_value 3 Update)" = 0x0
    check "911 keeps its account enabled" test "$(account_value 4 Update)" = 0x1
    all=$(server_text "/__requests")
    for host in dynupdate.no-ip.com www.duckdns.org api.cloudflare.com updates.dnsomatic.com dynv6.com api.porkbun.com api.gandi.net; do
        check "a tunnel to $host:443" grep -q "CONNECT $host:443 HTTP/1.1" <<<"$all"
    done
    check "No-IP's request" grep -q "GET /nic/update?hostname=home.ddns.net&myip=192.0.2.10 HTTP/1.1" <<<"$all"
    check "No-IP's user agent" grep -q "User-Agent: Brannock Vastrel/Windows-" <<<"$all"
    check "DuckDNS's request" grep -q "GET /update?domains=mine&token=duck-token-0123&ip=192.0.2.10 HTTP/1.1" <<<"$all"
    check "Cloudflare's record updated" grep -q '{"content":"192.0.2.10"}' <<<"$all"
    check "Namecheap's request names the host within its domain" \
        grep -q "GET /update?host=www&domain=example.co.uk&password=nc-password-0123&ip=192.0.2.10 HTTP/1.1" <<<"$all"
    check "Dynu's request keeps the AAAA record" \
        grep -q "GET /nic/update?hostname=dynu.ddns.net&myip=192.0.2.10&myipv6=no HTTP/1.1" <<<"$all"
    check "DNS-O-Matic's request" \
        grep -q "GET /nic/update?hostname=long.ddns.net&myip=192.0.2.10 HTTP/1.1" <<<"$all"
    check "dynv6's request" \
        grep -q "GET /api/update?hostname=home.dynv6.net&token=dynv6-token-0123&ipv4=192.0.2.10 HTTP/1.1" <<<"$all"
    check "Gandi's request" grep -q "PUT /v5/livedns/domains/gandi.example/records/www/A HTTP/1.1" <<<"$all"
    check "Gandi's record value" grep -q '{"rrset_values":\["192.0.2.10"\]}' <<<"$all"
    check "Porkbun's request" grep -q "POST /api/json/v3/dns/editByNameType/pork.example/A/www HTTP/1.1" <<<"$all"
    check "Porkbun's body" grep -q '"apikey":"pk1_porkbun-key","content":"192.0.2.10","secretapikey":"sk1_porkbun-secret"' <<<"$all"
    check "no secret in the log" sh -c "! grep -q -e carol-secret -e duck-token-0123 -e cf-token-0123 -e nc-password-0123 -e dynv6-token-0123 -e sk1_porkbun-secret -e pk1_porkbun-key -e pat_gandi-token-0123 '$log'"
    check "no Cloudflare account details in the log" sh -c "! grep -q 'Owner of' '$log'"
    check "the 911 was sent once" test "$(requests_for wait.ddns.net)" = 1
    # Each account's state in sight: the list says it, the selected account tells its address and last try.
    wine "$poke" command $IDM_ACCOUNTS >/dev/null 2>&1
    wait_for 20 box "Vastrel Accounts"
    check "the list shows each account's state" test "$(rows "Vastrel Accounts" $IDC_ACCOUNT_LIST | sed -n '1p;4p' | tr '\n' ' ')" = \
        "home.ddns.net - up to date nochg.ddns.net (disabled) "
    accounts select $IDC_ACCOUNT_LIST 0
    check "the selected account shows its registered address" sh -c \
        "wine '$poke' control 'Vastrel Accounts' $IDC_ACCOUNT_STATE 2>/dev/null | grep -q 'Registered: 192.0.2.10 since'"
    sleep 0.5
    shot accounts-dialog-state
    accounts click $IDCANCEL
    wait_for 10 closed "Vastrel Accounts"
    check "the normal log names the account not updated and why" \
        log_has "nochg.ddns.net (No-IP): not updated: the service refused the user name or password"
    wine "$poke" command $IDM_CHECKNOW >/dev/null 2>&1
    check "a second Check now names the wait" wait_for 60 log_has "wait.ddns.net waits as No-IP asked"
    check "and sends nothing to the waiting account" test "$(requests_for wait.ddns.net)" = 1
    quit_program
    # 9b-secrets. The tokens are nowhere in an export of the profile: not as
    #     text, UTF-16 text, base64 or the hex of a binary value; the user
    #     name is, so the search finds what is stored plain.
    wine reg export "$product" "$(winepath -w "$work/secrets.reg")" /y >/dev/null 2>&1
    exported=$(iconv -f UTF-16LE -t UTF-8 "$work/secrets.reg" 2>/dev/null | tr -d '\r\n\\ ')
    in_export() {
        local hex
        hex=$(printf %s "$1" | od -An -tx1 | tr -s ' \n' ',' | sed 's/^,//;s/,$//')
        grep -qaF -e "$1" -e "$(printf %s "$1" | base64 -w0)" -e "$(printf %s "$1" | iconv -t UTF-16LE | base64 -w0)" \
            -e "$hex" <<<"$exported"
    }
    not_in_export() { ! in_export "$1"; }
    check "the export holds the plain user name" in_export carol
    for token in duck-token-0123 cf-token-0123; do check "no $token in the export" not_in_export $token; done
    # After a restart the next update sends both tokens.
    for i in 1 2; do wine reg add "$product\\Accounts\\$i" /v LastIP /t REG_DWORD /d 0 /f >/dev/null 2>&1; done
    server_get "/__control/clear" >/dev/null
    start_program
    wine "$poke" command $IDM_CHECKNOW >/dev/null 2>&1
    both_stored() { test "$(account_value 1 LastIP)/$(account_value 2 LastIP)" = 0xa0200c0/0xa0200c0; }
    check "after a restart both accounts are updated" wait_for 60 both_stored
    all=$(server_text "/__requests")
    check "with DuckDNS's token" grep -q "GET /update?domains=mine&token=duck-token-0123&ip=192.0.2.10 HTTP/1.1" <<<"$all"
    check "and Cloudflare's" grep -q "Authorization: Bearer cf-token-0123" <<<"$all"
    quit_program
    clear_profile
else
    echo "skipped: the services over TLS (this system does not trust the test authority)"
fi

# 9c. Both families: a No-IP account set to "IPv4 and IPv6" sends one
#     request with both addresses, a deSEC account set to "IPv4" asks deSEC
#     to keep its AAAA record; after a restart both are still current.
if [ -n "${VASTREL_TEST_CA_TRUSTED:-}" ] && [ -n "${VASTREL_NETNS_IPV6:-}" ]; then
    clear_profile
    configure secret
    wine reg add "$product\\Accounts" /v Count /t REG_DWORD /d 0 /f >/dev/null 2>&1
    wine reg add "$product" /v DetailedLogging /t REG_DWORD /d 1 /f >/dev/null 2>&1
    server_get "/__control/clear" >/dev/null
    start_program
    wine "$poke" command $IDM_ACCOUNTS >/dev/null 2>&1
    wait_for 20 box "Vastrel Accounts"
    accounts select $IDC_ACCOUNT_SERVER 0
    accounts set $IDC_ACCOUNT_HOST home.ddns.net
    accounts set $IDC_ACCOUNT_USER carol
    accounts set $IDC_ACCOUNT_PASSWORD carol-secret
    accounts select $IDC_ACCOUNT_ADDRESSES 2
    sleep 0.5
    shot accounts-dialog-ipv6
    accounts click $IDC_ACCOUNT_APPLY
    wait_for 10 has_rows 1
    accounts select $IDC_ACCOUNT_SERVER 6
    accounts set $IDC_ACCOUNT_HOST desec.dedyn.io
    accounts set $IDC_ACCOUNT_PASSWORD carol-secret
    accounts click $IDC_ACCOUNT_APPLY
    wait_for 10 has_rows 2
    accounts click $IDOK
    wait_for 10 closed "Vastrel Accounts"
    check "the choice is stored" test "$(account_value 0 Addresses)/$(account_value 1 Addresses)" = "0x2/0x0"
    wine "$poke" command $IDM_CHECKNOW >/dev/null 2>&1
    has_ipv6() { test "$(account_value 0 LastIP6)" = "$VASTREL_NETNS_IPV6"; }
    check "the IPv6 address is stored" wait_for 60 has_ipv6
    check "and the IPv4 address" test "$(account_value 0 LastIP)" = 0xa0200c0
    all=$(server_text "/__requests")
    v6=$(sed 's/:/%3A/g' <<<"$VASTREL_NETNS_IPV6")
    check "No-IP gets both in one request" grep -q "GET /nic/update?hostname=home.ddns.net&myip=192.0.2.10,$v6 HTTP/1.1" <<<"$all"
    check "deSEC keeps its AAAA record" \
        grep -q "GET /nic/update?hostname=desec.dedyn.io&myipv4=192.0.2.10&myipv6=preserve HTTP/1.1" <<<"$all"
    check "the log names both addresses" log_has "Updating home.ddns.net (No-IP) to 192.0.2.10 and $VASTREL_NETNS_IPV6"
    quit_program
    start_program
    wine "$poke" command $IDM_CHECKNOW >/dev/null 2>&1
    check "after a restart both families are current" wait_for 60 log_has "home.ddns.net (No-IP) is already up-to-date"
    check "and nothing more is sent" test "$(requests_for home.ddns.net)" = 1
    quit_program
    clear_profile
else
    echo "skipped: both families (no trusted test authority or no IPv6 in the namespace)"
fi

# 10. While a run waits for a silent server the tray shows the busy globe.
configure secret
wine reg add "$product\\Accounts\\0" /v HostName /t REG_SZ /d silent /f >/dev/null 2>&1
wine "$work/vastrel.exe" >/dev/null 2>&1 &
check "a run has started" wait_for 20 log_has "Updating silent vastrel.example"
sleep 1
tray_shot busy
wine "$poke" command $IDM_EXIT >/dev/null 2>&1
check "Exit does not wait for a run in progress" wait_for 20 stopped

# 11. A folder named in several scripts: the log is written beside the
#     program, and the start-with-Windows entry names it exactly.
clear_profile
configure secret
intl="$work/Łódź-测试-Ελλάδα"
mkdir -p "$intl" && cp "$exe" "$intl/vastrel.exe"
timeout 60 wine "$intl/vastrel.exe" /autoexit >/dev/null 2>&1
check "from that folder, the log is written beside the program" grep -q "Vastrel terminated properly." "$intl/vastrel.log"
wine reg export "$run_key" "$(winepath -w "$work/run.reg")" /y >/dev/null 2>&1
check "the Run value names that folder" grep -qF "\"Vastrel\"=\"$(winepath -w "$intl/vastrel.exe" | sed 's/\\/\\\\/g')\"" \
    <(iconv -f UTF-16LE -t UTF-8 "$work/run.reg")

summary
