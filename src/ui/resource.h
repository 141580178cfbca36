// Resource and control ids of the dialog, shared by the resource script and the code.
#pragma once

#define IDI_SWEEPTOOL 128
#define IDD_SWEEPTOOL 131
#define IDB_HEADER_LEFT 132
#define IDB_FOOTER 133
#define IDB_SPINNER 134
#define IDB_STATE_READY 135
#define IDB_STATE_FINISHED 136
#define IDB_STATE_RUNNING 137
#define IDB_HEADER_RIGHT 138

#define IDC_FOOTER 1010
#define IDC_HEADER_RIGHT 1008
#define IDC_HEADER_LEFT 1009
#define IDC_START 1012
#define IDC_CANCEL_BUTTON 1013
#define IDC_RESTART 1014
#define IDC_LATER 1015
#define IDC_STATE_PICTURE 1016
#define IDC_SPINNER 1017
