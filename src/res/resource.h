/* Resource ids of vastrel.exe. Plain preprocessor only: included by
   vastrel.rc (windres) and by the C++ sources. The numbers are fixed; the
   program loads every resource by them. */
#ifndef VASTREL_RES_RESOURCE_H
#define VASTREL_RES_RESOURCE_H

/* Icons, each with a 16x16 and a 32x32 image. */
#define IDI_GLOBE           124 /* enabled; also the class and About icon */
#define IDI_GLOBE_BUSY      125 /* striped: an update run is in progress */
#define IDI_GLOBE_FAILED    126 /* red: alternates with 124 after a failure */
#define IDI_GLOBE_DISABLED  128 /* grey: periodic updates are off */

/* The tray menu: one popup holding the commands below. */
#define IDR_TRAYMENU        106

/* String table. */
#define IDS_ENABLED         103 /* tooltip: "Vastrel is enabled" */
#define IDS_VERSION         104 /* the program's version text */
#define IDS_DISABLED        105 /* tooltip: "Vastrel is disabled" */
#define IDS_ENABLE          106 /* label of IDM_ENABLEDISABLE while disabled */
#define IDS_DISABLE         107 /* label of IDM_ENABLEDISABLE while enabled */
#define IDS_FAILED          108 /* tooltip after a failed run */
#define IDS_CONNECTING      109 /* tooltip while a run is in progress */
#define IDS_FORCEWARNING    110 /* question before a forced update */

/* Dialogs. */
#define IDD_PROPERTIES      102
#define IDD_ABOUT           103
#define IDD_ACCOUNTS        119
#define IDD_LOG             121

/* Controls. 1001 to 1033 belong to the Properties, About and Accounts
   dialogs; the buttons OK and Cancel are IDOK (1) and IDCANCEL (2). */
#define IDC_LOG_LIST        1034

/* Menu commands, as the main window receives them in WM_COMMAND. */
#define IDM_PROPERTIES      40002
#define IDM_HELP            40003
#define IDM_ABOUT           40004
#define IDM_EXIT            40005
#define IDM_ENABLEDISABLE   40006 /* "Disable" or "Enable", by state */
#define IDM_CHECKNOW        40007
#define IDM_ACCOUNTS        40008
#define IDM_SNOOZE          40009
#define IDM_VIEWLOG         40012 /* also what a second instance posts */
#define IDM_FORCEUPDATE     40013

#endif
