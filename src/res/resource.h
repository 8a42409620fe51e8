/* Resource ids of vastrel.exe. Plain preprocessor only: included by
   vastrel.rc (windres) and by the C++ sources. The numbers are fixed; the
   program loads every resource by them. */
#ifndef VASTREL_RES_RESOURCE_H
#define VASTREL_RES_RESOURCE_H

/* Icons, each with a 16x16 and a 32x32 image. */
#define IDI_GLOBE          124 /* enabled; also the class and About icon */
#define IDI_GLOBE_BUSY     125 /* striped: an update run is in progress */
#define IDI_GLOBE_FAILED   126 /* red: alternates with 124 after a failure */
#define IDI_GLOBE_DISABLED 128 /* grey: periodic updates are off */

/* The tray menu: one popup holding the commands below. */
#define IDR_TRAYMENU 106

/* String table. */
#define IDS_ENABLED      103 /* tooltip: "Vastrel is enabled" */
#define IDS_VERSION      104 /* the program's version text */
#define IDS_DISABLED     105 /* tooltip: "Vastrel is disabled" */
#define IDS_ENABLE       106 /* label of IDM_ENABLEDISABLE while disabled */
#define IDS_DISABLE      107 /* label of IDM_ENABLEDISABLE while enabled */
#define IDS_FAILED       108 /* tooltip after a failed run */
#define IDS_CONNECTING   109 /* tooltip while a run is in progress */
#define IDS_FORCEWARNING 110 /* question before a forced update */
#define IDS_NO_ACCOUNTS  111 /* tooltip while enabled with no account */

/* Dialogs. */
#define IDD_PROPERTIES 102
#define IDD_ABOUT      103
#define IDD_ACCOUNTS   119
#define IDD_LOG        121

/* Controls. 1001 to 1033 belong to the Properties, About and Accounts
   dialogs; the buttons OK and Cancel are IDOK (1) and IDCANCEL (2). */
#define IDC_LOG_LIST 1034

/* Menu commands, as the main window receives them in WM_COMMAND. */
#define IDM_PROPERTIES    40002
#define IDM_HELP          40003
#define IDM_ABOUT         40004
#define IDM_EXIT          40005
#define IDM_ENABLEDISABLE 40006 /* "Disable" or "Enable", by state */
#define IDM_CHECKNOW      40007
#define IDM_ACCOUNTS      40008
#define IDM_SNOOZE        40009
#define IDM_VIEWLOG       40012 /* also what a second instance posts */
#define IDM_FORCEUPDATE   40013

/* Controls of the Properties (102), About (103) and Accounts (119) dialogs.
   Some numbers serve two dialogs; each name says which. */
#define IDC_START_DISABLED     1001
#define IDC_AUTOSTART          1002
#define IDC_VERSION_CHECK      1003
#define IDC_DETAILED_LOGGING   1004
#define IDC_ABOUT_TITLE        1007 /* name and version */
#define IDC_ABOUT_NOTICE       1008
#define IDC_ABOUT_WEB          1009
#define IDC_SLEEP_TIME         1012
#define IDC_ACCOUNT_USER       1013
#define IDC_ACCOUNT_PASSWORD   1014
#define IDC_CONNECTION         1015 /* Properties */
#define IDC_ACCOUNT_HOST       1015 /* Accounts */
#define IDC_PROXY_SERVER       1016 /* Properties */
#define IDC_ACCOUNT_MX         1016 /* Accounts: mail extender */
#define IDC_PROXY_PORT         1017
#define IDC_FIRST_CHECK        1018
#define IDC_FORCE_DAYS         1019
#define IDC_USE_PROXY          1020
#define IDC_INTERFACE          1022
#define IDC_ACCOUNT_LIST       1028
#define IDC_ACCOUNT_SERVER     1029
#define IDC_ACCOUNT_APPLY      1030 /* "Add" or "Update" */
#define IDC_ACCOUNT_DELETE     1031
#define IDC_ACCOUNT_BACKUPMX   1032
#define IDC_ACCOUNT_WILDCARDS  1033
#define IDC_ACCOUNT_UPDATE     1034 /* Accounts: same number as the log list, other dialog */
#define IDC_USE_HTTPS          1035 /* Properties: "UseHTTPS" */
#define IDC_USE_PUBLIC_ADDRESS 1040 /* Properties: "UsePublicAddress" */
/* The Accounts labels that change with the server chosen, and the field
   that only "Other dyndns2 server" takes. */
#define IDC_ACCOUNT_USER_LABEL          1041
#define IDC_ACCOUNT_PASSWORD_LABEL      1042
#define IDC_ACCOUNT_UPDATE_SERVER_LABEL 1043
#define IDC_ACCOUNT_UPDATE_SERVER       1044
#define IDC_CHECKIP_ADDRESS    1045 /* Properties: "CheckIPAddress" */
#define IDC_ACCOUNT_ADDRESSES  1046 /* Accounts: "IPv4", "IPv6" or both */
#define IDC_SHOW_NOTIFICATIONS 1047 /* Properties: "ShowNotifications" */
#define IDC_ACCOUNT_STATE      1048 /* Accounts: the shown account's addresses and last try */

#endif
