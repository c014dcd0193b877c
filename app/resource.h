// Resource identifiers of the package stub, shared by selfex-stub.rc and the code.
#pragma once

// Icon group of the package file; the shell shows it, the program never loads it.
#define IDI_PACKAGE 100

// Dialogs.
#define IDD_FOLDER 101
#define IDD_PROGRESS 102

// Controls of IDD_FOLDER.
#define IDC_FOLDER_EDIT 1000
#define IDC_BROWSE 1001

// Controls of IDD_PROGRESS.
#define IDC_STATUS 1002
#define IDC_PROGRESS 1003

// String table.
#define IDS_EXTRACT_FAILED 1
#define IDS_CHOOSE_FOLDER 2
#define IDS_FOLDER_EXISTS 3
