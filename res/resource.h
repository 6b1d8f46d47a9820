// Resource ids of quibuploader.exe, shared by the .rc script and the C++ code.
// Plain #defines only: windres reads this file too.
#ifndef QUIB_RES_RESOURCE_H
#define QUIB_RES_RESOURCE_H

// Dialog templates
#define IDD_ABOUT 100
#define IDD_MAIN 102
#define IDD_DETAILS 112
#define IDD_TRANSFER 113
#define IDD_LOGIN 114
#define IDD_FOLDER 115
#define IDD_SETTINGS 117
#define IDD_RESIZE 122
#define IDD_FOLDERNAME 123

// Bitmaps loaded by id. The skinned buttons load theirs by name: the button
// caption in the template is the stem, "U", "D", "F" and "X" are appended.
#define IDB_ALBUM 116
#define IDB_LOGO 118
#define IDB_ABOUT 125
#define IDB_LIST_BACKGROUND 145
#define IDB_BANNER 147
#define IDB_MOVIE 150
#define IDB_AUDIO 154

// The artwork is drawn at each of these scales, in percent of 96 DPI; a scale
// between two of them takes the next larger one. The bitmap for scale number
// k of the list (k = 0 is 100 %) is, for one loaded by id, the id plus
// 1000 k (IDB_BANNER at 150 % is 2147: the 100 % ids stay below 1000, so none
// collide), and for one loaded by name, the name with "_125", "_150", "_175"
// or "_200" appended ("ADDBUTTONU_150").
#define QUIB_ARTWORK_SCALES 100, 125, 150, 175, 200
#define IDB_SCALED(id, k) ((id) + 1000 * (k))

// Icon group and accelerator table
#define IDR_MAINFRAME 121
#define IDR_ACCELERATOR 143

// Commands
#define IDM_ABOUTBOX 0x0010
#define ID_CLICK_FOCUSED 32771

// Controls of template 100 (about box)
#define IDC_ABOUT_VERSION 1008

// Controls of template 102 (main window)
#define IDC_MAIN_ADD 1002
#define IDC_MAIN_REMOVE 1003
#define IDC_MAIN_LIST 1005
#define IDC_MAIN_ROTATE 1006
#define IDC_MAIN_UPLOAD 1007
#define IDC_MAIN_SETTINGS 1015
#define IDC_MAIN_HELP 1016
#define IDC_MAIN_WEB 1017

// Controls of template 112 (media details)
#define IDC_DETAILS_KEYWORDS 1019
#define IDC_DETAILS_DESCRIPTION 1020
#define IDC_DETAILS_NAME 1022
#define IDC_DETAILS_KEYWORDS_LABEL 1024
#define IDC_DETAILS_NAME_LABEL 1025
#define IDC_DETAILS_DESCRIPTION_LABEL 1026
#define IDC_DETAILS_ADD_TO_ALL 1037

// Controls of template 113 (transfer)
#define IDC_TRANSFER_CANCEL 1034
#define IDC_TRANSFER_ANIMATION 1036
#define IDC_TRANSFER_PROGRESS 1039

// Controls of template 114 (login)
#define IDC_LOGIN_USERNAME 1008
#define IDC_LOGIN_PASSWORD 1009
#define IDC_LOGIN_USERNAME_LABEL 1026
#define IDC_LOGIN_PASSWORD_LABEL 1027

// Controls of template 115 (album selection)
#define IDC_FOLDER_ALBUMS 1010
#define IDC_FOLDER_OK 1011
#define IDC_FOLDER_NEW 1012
#define IDC_FOLDER_CANCEL 1013
#define IDC_FOLDER_LABEL 1031

// Controls of template 117 (settings)
#define IDC_SETTINGS_USERNAME 1008
#define IDC_SETTINGS_PASSWORD 1009
#define IDC_SETTINGS_CHECK 1012
#define IDC_SETTINGS_ASK_FOLDER 1013
#define IDC_SETTINGS_PUBLIC_INBOX 1014
#define IDC_SETTINGS_RESIZE_SMALL 1015
#define IDC_SETTINGS_RESIZE_MEDIUM 1016
#define IDC_SETTINGS_RESIZE_NONE 1017
#define IDC_SETTINGS_USERNAME_LABEL 1026
#define IDC_SETTINGS_PASSWORD_LABEL 1027
#define IDC_SETTINGS_FOLDER_TEXT 1028
#define IDC_SETTINGS_RESIZE_TEXT 1029

// Controls of template 122 (resize prompt)
#define IDC_RESIZE_SMALL 1015
#define IDC_RESIZE_MEDIUM 1016
#define IDC_RESIZE_NONE 1017
#define IDC_RESIZE_TEXT 1029
#define IDC_RESIZE_DONT_ASK 1035

// Controls of template 123 (new album name)
#define IDC_FOLDERNAME_NAME 1008
#define IDC_FOLDERNAME_LABEL 1032

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#endif
