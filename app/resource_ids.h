// Identifiers of the program's resources and dialog controls. Other programs drive the dialogs
// through these numbers, so they never change. Included by the resource script too: plain
// defines only.
#pragma once

#define IDD_ABOUT 100
#define IDS_ABOUT_MENU 101
#define IDD_FILE_RESTORE 102
#define IDI_APPLICATION_ICON 128
#define IDD_BOOT_SETTINGS 130
#define IDD_WAIT 150
#define IDD_PASSWORD 158
#define IDD_WAIT_CANCEL 304
#define IDB_LIST_PICTURES 255
#define IDR_DRIVER_X86 132
#define IDR_DRIVER_X64 133

#define IDC_STATIC_TEXT (-1)
#define IDC_IMAGE_PATH 1000
#define IDC_FORMAT 1002
#define IDC_BOOTABLE 1003
#define IDC_DESTINATION 1005
#define IDC_RUN_COPY 1007
#define IDC_HIDE_OUTPUT 1008
#define IDC_IMAGE_LIST 1009
#define IDC_FILE_SYSTEM 1010
#define IDC_CLUSTER_SIZE 1011
#define IDC_DEFAULT_COMMAND 1014
#define IDC_ADVANCED 1015
#define IDC_REPLACE_DISK_ID 1016
#define IDC_MARK_ACTIVE 1017
#define IDC_REPLACE_BOOT_SECTOR 1018
#define IDC_UPDATE_BOOT_CONFIGURATION 1019
#define IDC_PROGRESS 1039
#define IDC_BROWSE 1040
#define IDC_PASSWORD 1053
#define IDC_COMMAND 1073

// The system menu command of the About box.
#define IDM_ABOUT 0x0010
