#pragma once

// Resource and control ids of the setup program.

#define IDD_SETUP 141
#define IDB_LOGO 147
#define IDB_MENU 151
#define IDI_SETUP 1

#define IDC_INSTALL_PATH 1000
#define IDC_TITLE 1013
#define IDC_PROGRESS 1014
#define IDC_BROWSE 1015
#define IDC_COMPONENTS_LABEL 1016
#define IDC_PATH_LABEL 1017
#define IDC_SUBTITLE 1018
#define IDC_MENU_PICTURE 1021
#define IDC_INSTALL 1022
#define IDC_DONE_LABEL 1023
#define IDC_NOTE1 1024
#define IDC_NOTE2 1025
#define IDC_NOTE3 1026
#define IDC_BOX2023 1039
#define IDC_BOX2024 1040
#define IDC_BOX2025 1041
