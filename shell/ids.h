// Resource, command and control ids of the desktop program, with the values the program has
// always used, so commands and controls can be found by id as the engine and tests expect.
#pragma once

enum : int {
    IDR_MAINFRAME = 128,

    IDD_ABOUTBOX = 100,
    IDD_MAIN_FORM = 101,
    IDD_PACK_PROJECT = 131,
    IDD_UNPACK_PROJECT = 132,

    // Commands.
    ID_HELP_TOPICS = 9,
    ID_PACK_PROJECT = 2771,
    ID_UNPACK_PROJECT = 2772,
    ID_FILE_NEW = 57600,
    ID_FILE_OPEN = 57601,
    ID_FILE_SAVE = 57603,
    ID_EDIT_CUT = 57635,
    ID_EDIT_PASTE = 57637,
    ID_EDIT_UNDO = 57643,
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
    ID_CANCEL_JOB = 2773,  // the window's Cancel of a running job (the program's own)
    ID_TEST_PACKED = 2774, // Test: is a packed file or set sound (the program's own)

    // Status-bar indicators (their texts have the same ids).
    ID_INDICATOR_CAPS = 59137,
    ID_INDICATOR_NUM = 59138,
    ID_INDICATOR_SCRL = 59139,

    // Controls of the main form.
    IDC_STATUS_LOG = 1000,
    IDC_FILE_NAME = 1001,
    IDC_PROGRESS = 1003,

    // Controls of the Pack and Unpack dialogs.
    IDC_BROWSE = 1000,
    IDC_SEPARATE_FILE = 1002,
    IDC_DISK_SIZE = 1003,
};
