#pragma once
// Dialog templates, menu, icon and control ids: the one source of these numbers, used by the
// resource script and by the C++ dialog procedures. Several dialogs reuse the same number for
// different controls; each name below says which dialog it belongs to.

// Templates and resources
#define IDD_MAIN 101
#define IDR_MAIN_MENU 102
#define IDD_ABOUT 103
#define IDD_DETECTION 106
#define IDD_DOWNLOAD 107
#define IDD_SERIAL_SETTINGS 111
#define IDD_ETHERNET_SETTINGS 112
#define IDD_BOOTLOADER_OPTIONS 113
#define IDD_IMAGE_OPTIONS 115
#define IDD_JTAG_SETTINGS 116
#define IDI_MAIN 119
#define IDB_ABOUT 120
#define IDD_PRODUCTION_TEST 123
#define IDR_GIVEIO_SYS 115  // resource type "SYS"

// Commands
#define IDC_DEVICE_NAME_NOTIFY 104  // WM_COMMAND 104: name of the chosen Ethernet device
#define ID_HELP_ABOUT 40001
#define ID_HELP_CONTENTS 40002
#define ID_HELP_SEARCH 40003
#define ID_FILE_EXIT 40006
#define ID_HELP_INDEX 57666

// Main window (101)
#define IDC_BOOT_FILE 1000
#define IDC_BOOT_BROWSE 1001
#define IDC_BOOT_JTAG 1002
#define IDC_BOOT_DOWNLOAD 1003
#define IDC_IMAGE_FILE 1005
#define IDC_IMAGE_BROWSE 1006
#define IDC_IMAGE_JTAG 1007
#define IDC_IMAGE_DOWNLOAD 1008
#define IDC_IMAGE_SERIAL 1010
#define IDC_IMAGE_USB 1011
#define IDC_IMAGE_ETHERNET 1012
#define IDC_BOOT_INTERFACE_SETTINGS 1013
#define IDC_IMAGE_INTERFACE_SETTINGS 1014
#define IDC_BOOT_START 1015
#define IDC_BOOT_LENGTH 1016
#define IDC_IMAGE_START 1017
#define IDC_IMAGE_LENGTH 1018
#define IDC_BOOT_TYPE 1019
#define IDC_IMAGE_TYPE 1020
#define IDC_BOOT_OPTIONS 1021
#define IDC_IMAGE_OPTIONS 1022
#define IDC_CURRENT_DEVICE 1034
#define IDC_VERIFY 1051

// About (103)
#define IDC_ABOUT_VERSION 1021

// Device Detection (106)
#define IDC_DETECT_STATUS 1023
#define IDC_DETECT_HINT 1057
#define IDC_CONNECTION_HELP 1031

// Download (107)
#define IDC_SECTION_BAR 1023
#define IDC_TOTAL_BAR 1024
#define IDC_FLASH_MAP 1025
#define IDC_TARGET_TEXT 1026
#define IDC_SECTION_TEXT 1027
#define IDC_STAGE_TEXT 1028
#define IDC_TIME_TEXT 1031
#define IDC_MONITOR_OUTPUT 1040

// Serial Interface Settings (111)
#define IDC_COM_PORT 1029
#define IDC_PORT_SPEED 1030

// Ethernet Interface Settings (112)
#define IDC_DEVICE_DETAILS 1032
#define IDC_MODULE_BOX 1033
#define IDC_ACCEPT_ALL 1046
#define IDC_FAST_DOWNLOAD 1051

// Bootloader Options (113)
#define IDC_FIX_IP_ADDRESS 1035
#define IDC_FIX_IP 1036
#define IDC_FIX_SUBNET 1037
#define IDC_FAST_BOOT 1038

// Image Options (115)
#define IDC_ROM_OFFSET 1042
#define IDC_ROM_OFFSET_ENABLE 1043

// JTAG Interface Settings (116)
#define IDC_JTAG_BELVONA 1044
#define IDC_JTAG_ZO 1045
#define IDC_JTAG_WIGGLER 1046
#define IDC_JTAG_INSIGHT 1047
#define IDC_JTAG_USB 1048
#define IDC_JTAG_SPEED 1049
#define IDC_JTAG_SPEED_LABEL 1050
#define IDC_JTAG_SPEED_HINT 1051
#define IDC_JTAG_FAST 1064

// Production test (123)
#define IDC_TEST_START 1058
#define IDC_TEST_FIELD1 1059
#define IDC_TEST_FIELD2 1060
#define IDC_TEST_FIELD3 1061
#define IDC_TEST_FIELD4 1062
#define IDC_TEST_DUMP_BBT 1063
