/* Resource ids of the stub: dialog templates and the controls that the
   dialog procedure addresses (the icon group is the packer's to know too:
   payload/stub_image.h). Plain macros, so that both the C++ code and the
   resource script can include this file. */
#ifndef POPBOX_UI_RESOURCE_IDS_H
#define POPBOX_UI_RESOURCE_IDS_H

#define IDD_SETUP 102       /* plain layout: install folder and shortcuts */
#define IDD_SETUP_STORE 104 /* store layout: adds the store's name and address */

#define IDC_APP_DIR 1000             /* install folder */
#define IDC_START_PROGRAMS_LINK 1001 /* check box: Start menu shortcut */
#define IDC_DESKTOP_LINK 1002        /* check box: desktop shortcut */
#define IDC_APP_DIR_CAPTION 1003     /* label above the install folder */
#define IDC_STORE_NAME 1004          /* store's name (STORE_NAME_LENGTH) */
#define IDC_STORE_NAME_LABEL 1005
#define IDC_WEB_ADDRESS 1006 /* store's web address (WEB_ADDRESS_LENGTH) */
#define IDC_WEB_ADDRESS_LABEL 1007

#endif
