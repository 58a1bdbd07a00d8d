// Resource identifiers of Ledgerly.exe: the icon, the string table and the
// controls of the main window (each button's identifier is also its command).
#pragma once

#define IDI_MAIN_ICON 1014

#define IDS_ABOUT_CAPTION 1015
#define IDS_NOTICE 1016
#define IDS_DISPLAY_NAME 1017
#define IDS_NOT_CONVERTED 1018
#define IDS_NO_INPUT 1019
#define IDS_NO_BROWSER 1020
#define IDS_NO_OUTPUT 1021
#define IDS_INPUT_OPEN_FAILED 1022
#define IDS_OUTPUT_OPEN_FAILED 1023
#define IDS_WEB_PAGE 1024
#define IDS_SAME_FILE 1025
#define IDS_WRITE_FAILED 1026
#define IDS_WORKBOOK_FILES 1027
#define IDS_CONVERTED 1028
#define IDS_CONVERTED_WORKBOOK 1029
#define IDS_NOT_A_LOG 1030
#define IDS_READ_FAILED 1031
#define IDS_LOG_CHANGED 1032
#define IDS_OUT_OF_MEMORY 1033
#define IDS_TOO_WIDE 1034
#define IDS_STOP_CONVERSION 1060
#define IDS_SAVED_AS 1061
#define IDS_REPLACE 1062
#define IDS_NO_RECORDS 1063
#define IDS_IN_USE 1064
#define IDS_ADX_OPEN_FAILED 1035
#define IDS_WORKBOOK_OPEN_FAILED 1036
#define IDS_SAME_FILE_ADX 1037
#define IDS_WORKBOOK_SAME_FILE 1038
#define IDS_WORKBOOK_SAME_FILE_ADX 1039
#define IDS_WORKBOOK_WRITE_FAILED 1040
#define IDS_ADX_READ_FAILED 1041
#define IDS_ADX_CHANGED 1042
#define IDS_ADX_OUT_OF_MEMORY 1043
#define IDS_OUTPUT_IS_LOG 1044

// <windows.h> names a stock cursor IDC_HELP; the program uses no such cursor,
// and here the name is the Help button's.
#ifdef IDC_HELP
#undef IDC_HELP
#endif

#define IDC_ABOUT 1001
#define IDC_ADIF_FILE 1002
#define IDC_CONVERT 1003
#define IDC_CSV_FILE 1004
#define IDC_EXIT 1005
#define IDC_HELP 1007
#define IDC_OPEN 1010
#define IDC_INPUT_NAME 1011
#define IDC_OUTPUT_NAME 1012
#define IDC_MESSAGES 1013

// The version block and the application manifest.
#define IDR_VERSION 1
#define IDR_MANIFEST 1
