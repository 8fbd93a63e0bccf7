/* Resource ids of the control module. */
#pragma once
#define IDS_TARNWICK            1
#define IDS_TARNWICK_PPG        2
#define IDS_TARNWICK_PPG_CAPTION 200
#define IDS_PATH_EMPTY          201
#define IDS_FILE_NOT_FOUND      202
#define IDB_TARNWICK            1
#define IDD_PROPPAGE_TARNWICK   200
#define IDC_STATIC_TODO         (-1)
