// Names for the texts of the catalogue (catalogue.inc), so code says which text it shows.
//
// The program's own string ids keep their numbers (1204 to 1237, the command prompts 9, 2771,
// 2772, the framework's 57344 and 57345 and so on). Texts that had no string id of their own
// (menu items, dialog captions and labels, the About box, and the messages that only this
// program's engine and console show) are numbered from 40000 on, far from every original id.
#pragma once

enum : unsigned {
    // Messages of the jobs.
    IDS_CANNOT_OPEN_FILE = 1204,    // "Unable to open the file '%s'."
    IDS_PACK_START = 1205,          // banner before a pack
    IDS_PACK_END = 1206,            // banner after a pack
    IDS_STATE_COMPRESSING = 1207,   // "Compressing file..."
    IDS_SPLIT_START = 1209,         // banner before a split
    IDS_STATE_DECOMPRESSING = 1210, // "Decompressing file..."
    IDS_STATE_JOINING = 1211,       // "Joining file..."
    IDS_INVALID_FILE_FORMAT = 1212, // "Invalid file format [%s], aborting..."
    IDS_OVERWRITE_QUESTION = 1213,  // "File '%s' already exists. Okay to overwrite this file?"
    IDS_CANNOT_REMOVE = 1214,       // "Error removing file '%s', aborting..."
    IDS_CANNOT_OPEN_FOR_WRITING = 1215,
    IDS_CANNOT_OPEN_FOR_READING = 1216,
    IDS_CREATING_SPLIT_FILE = 1217, // "Creating split file "
    IDS_DONE = 1218,                // "Done"
    IDS_WAIT_FOR_JOB = 1219,        // close guard
    IDS_READ_ERROR = 1220,          // "Disk Error - File Read Error"
    IDS_WRITE_ERROR = 1221,         // "Disk Error - File Write Error"
    IDS_IO_ERROR = 1222,            // "File I/O error...aborting operation"
    IDS_STATE_SPLITTING = 1223,     // "Splitting file..."
    IDS_ABORTED_BY_USER = 1224,
    IDS_UNPACK_START = 1225,
    IDS_APPENDING_FILE = 1226, // "Appending file '%s'..."
    IDS_UNPACK_END = 1227,
    IDS_VOLUME_NOT_FOUND = 1228,
    IDS_UNPACK_FAILED = 1229,
    IDS_FIND_VOLUME_QUESTION = 1231, // "Unable to open file '%s'. Try to find it yourself?"
    IDS_SIZE_REPORT = 1233,          // "Original File size = %ld bytes.\r\n..."
    IDS_HELP_FILE = 1234,
    IDS_PACK_FILTER = 1235,
    IDS_UNPACK_FILTER = 1236,
    IDS_APP_TITLE = 1237,
    IDS_FRAMEWORK_TITLE = 57344, // application title, caption of message boxes
    IDS_READY = 57345,           // "Ready"

    // Menu 128.
    IDS_MENU_ACTION = 40000,
    IDS_MENU_PACK_PROJECT = 40001,
    IDS_MENU_UNPACK_PROJECT = 40002,
    IDS_MENU_EXIT = 40003,
    IDS_MENU_HELP = 40004,
    IDS_MENU_HELP_TOPICS = 40005,
    IDS_MENU_ABOUT = 40006,

    // The main form's labels.
    IDS_FORM_FILE_NAME = 40100,
    IDS_FORM_STATUS = 40101,
    IDS_FORM_PROGRESS = 40102,

    // The Pack and Unpack dialogs.
    IDS_PACK_CAPTION = 40200,
    IDS_UNPACK_CAPTION = 40201,
    IDS_DLG_FILE_NAME = 40202,
    IDS_DLG_BROWSE = 40203,
    IDS_DLG_SEPARATE_FILE = 40204,
    IDS_DLG_OK = 40205,
    IDS_DLG_CANCEL = 40206,
    IDS_DISK_SIZE_144 = 40210, // list index 0
    IDS_DISK_SIZE_120 = 40211, // list index 1
    IDS_DISK_SIZE_360 = 40212, // list index 2
    IDS_DISK_SIZE_720 = 40213, // list index 3
    IDS_FINDFILE_FILTER = 40220,

    // The About box.
    IDS_ABOUT_CAPTION = 40300,
    IDS_ABOUT_VERSION = 40301,
    IDS_ABOUT_COPYRIGHT = 40302,

    // The Status log's context menu.
    IDS_LOG_COPY = 40400,
    IDS_LOG_SAVE = 40401,
    IDS_LOG_SAVE_FILTER = 40402,
    IDS_LOG_SAVE_NAME = 40403,
    IDS_LOG_SAVE_FAILED = 40404, // "%s": the file chosen

    // The desktop program's own texts beyond the classic windows (40500 on).
    IDS_PACK_NOT_COMPLETE = 40500,   // the log's last line after a pack that failed
    IDS_UNPACK_NOT_COMPLETE = 40501, // the log's last line after an unpack that failed
    IDS_HELP_BACK = 40510,
    IDS_HELP_FORWARD = 40511,
    IDS_HELP_CONTENTS = 40512,
    IDS_HELP_CLOSE = 40513,
    IDS_ACC_TOOLBAR = 40520, // accessible names of controls without a label
    IDS_ACC_STATUS_BAR = 40521,
    IDS_ACC_DISK_SIZE = 40522,
    IDS_ACC_HELP_TEXT = 40523,
    IDS_ACC_ICON = 40524,
    IDS_DLG_WRITE_CHECKSUMS = 40530, // the Pack dialog's check box

    // Messages of the engine that the original catalogue lacks.
    IDS_PACK_SAME_FILE = 41000,         // "%s": the project file
    IDS_SPLIT_TOO_MANY_VOLUMES = 41001, // "%s" packed file, "%ld" volume size, "%ld" volumes
    IDS_UNPACK_SAME_FILE = 41002,       // "%s": the packed file

    // The volume plan and the free-space check (41100 on).
    IDS_NO_ROOM = 41100,                    // "%s" folder, "%lld" needed, "%lld" free
    IDS_MANIFEST_RESTORED_MISMATCH = 41101, // "%s": the manifest
    IDS_MANIFEST_STALE_REMOVED = 41102,     // "%s": the manifest

    // The console front end.
    IDS_CLI_ANSWER_YES_NO = 42000,
    IDS_CLI_NO_TERMINAL = 42001,
    IDS_CLI_BAD_VOLUME_SIZE = 42002, // "%s": the size as given
    IDS_CLI_PACK_FAILED = 42003,

    // Testing a packed file (the checks of a set; the console's test command shows them).
    IDS_CHECK_COUNT_MISMATCH = 41010, // "%ld" count, "%ld" found
    IDS_CHECK_VOLUME_BEYOND = 41011,  // "%s" the volume
    IDS_CHECK_MIDDLE_SIZE =
        41012, // "%ld" index, "%s" volume, "%ld" size, "%ld" last middle, "%ld" V
    IDS_CHECK_FIRST_SIZE = 41013, // "%s" volume, "%ld" size, "%ld" expected
    IDS_CHECK_LAST_SIZE = 41014,  // "%s" volume, "%ld" size, "%ld" V
    IDS_CHECK_TRAILING_DATA = 41015,

    // The console's unpack and test commands.
    IDS_CLI_FIND_VOLUME_PROMPT = 42010, // "%ld" volume (from 0), "%ld" the last volume, "%s" name
    IDS_CLI_FIND_VOLUME_NO_TERMINAL =
        42011, // "%ld" volume (from 0), "%ld" the last volume, "%s" name
    IDS_CLI_UNPACK_FAILED = 42012,
    IDS_CLI_VOLUME_MISSING = 42013,   // "%ld" volume (from 0), "%ld" the last volume, "%s" name
    IDS_CLI_BROKEN_KEPT = 42014,      // "%ld" bytes, "%s" path
    IDS_CLI_RESTORED = 42015,         // "%s" project file
    IDS_CLI_WARNING = 42020,          // "%s" the warning
    IDS_CLI_TEST_SOUND = 42021,       // "%s" file, "%ld" bytes
    IDS_CLI_TEST_SOUND_SET = 42022,   // "%s" file, "%ld" volumes, "%ld" bytes
    IDS_CLI_TEST_CANNOT_OPEN = 42023, // "%s"
    IDS_CLI_TEST_BAD_COUNT = 42024,   // "%s", "%ld" count
    IDS_CLI_TEST_VOLUME_MISSING =
        42025, // "%s", "%ld" volume (from 0), "%ld" the last volume, "%s" name
    IDS_CLI_TEST_READ_ERROR = 42026,       // "%s"
    IDS_CLI_TEST_TOO_SHORT = 42027,        // "%s", "%ld" bytes
    IDS_CLI_TEST_NOT_A_STREAM = 42028,     // "%s"
    IDS_CLI_TEST_STREAM_ENDED = 42029,     // "%s", "%ld" bytes
    IDS_CLI_TEST_SOUND_SET_OF_ONE = 42030, // "%s" file, "%ld" bytes
    IDS_CLI_TEST_DAMAGED = 42050,          // "%s" file

    // The console's plan, manifest, split and join (42100 on).
    IDS_CLI_PLAN_TOTAL = 42100,        // "%ld" files, "%lld" bytes
    IDS_CLI_PLAN_ROOM = 42101,         // "%s" folder, "%lld" needed, "%lld" free
    IDS_CLI_PLAN_ROOM_UNKNOWN = 42102, // "%s" folder, "%lld" needed
    IDS_CLI_MANIFEST_WRITTEN = 42103,  // "%s": the manifest
    IDS_CLI_MANIFEST_FAILED = 42104,   // "%s": the manifest
    IDS_CLI_PLAN_TOO_MANY = 42106,     // "%lld" volumes
    IDS_CLI_NOT_PACKED_NAME = 42107,   // "%s": the file given
    IDS_CLI_ALREADY_A_SET = 42108,     // "%s": the packed file
    IDS_CLI_NOT_A_SET = 42109,         // "%s": the packed file
    IDS_CLI_SPLIT_FAILED = 42110,
    IDS_CLI_JOIN_FAILED = 42111,
    IDS_CLI_MANIFEST_MISMATCH = 42112,      // "%s" the file, "%s" the manifest
    IDS_CLI_MANIFEST_DAMAGED = 42113,       // "%s": the manifest
    IDS_CLI_JOIN_INTO_SET = 42114,          // "%s": the output named
    IDS_CLI_MANIFEST_ALL_MATCH = 42115,     // "%ld" files, "%s" the manifest
    IDS_CLI_MANIFEST_NOT_LISTED = 42116,    // "%s" the file, "%s" the manifest
    IDS_CLI_TEST_RESTORED_MISMATCH = 42117, // "%s": the manifest
    IDS_CLI_MANIFEST_SET_MATCHES = 42118,   // "%ld" files, "%s" the manifest

    // What a split, a join or a check of a chosen volume says (41200 on).
    IDS_SPLIT_LEFT_AS_IT_WAS = 41200, // "%s": the packed file
    IDS_SPLIT_OLD_FILES_KEPT = 41201,
    IDS_SPLIT_ORPHAN_REMOVED = 41202,        // "%s": the old volume
    IDS_MANIFEST_FOREIGN_IGNORED = 41203,    // "%s": the manifest
    IDS_MANIFEST_UNREADABLE_IGNORED = 41204, // "%s": the manifest
    IDS_VOLUME_ALREADY_IN_SET = 41205,       // "%s" chosen, "%ld" volume, "%s" its path
    IDS_VOLUME_WRONG_SIZE = 41206,           // "%s" chosen, "%lld" size, "%ld" volume, "%lld" size
    IDS_VOLUME_TOO_LONG = 41207,             // "%s" chosen, "%lld" size, "%ld" volume, "%lld" most
    IDS_VOLUME_NOT_A_FILE = 41208,           // "%s" chosen
    IDS_JOIN_INTO_VOLUME = 41209,            // "%s" output, "%ld" volume
    IDS_BROKEN_NOT_KEPT = 41210,             // "%s": the .broken file
    IDS_CLI_SPLIT_DONE = 42200,              // "%ld" volumes, "%s" packed file
    // Stopping a job, and files that cannot be used (43000 on).
    IDS_JOB_CANCELLED = 43000,           // log: the job was cancelled
    IDS_CANNOT_WRITE_FILE = 43001,       // "%s" the file, "%s" the system's reason
    IDS_CANNOT_READ_FILE = 43002,        // "%s" the file, "%s" the system's reason
    IDS_CANNOT_CREATE_IN_FOLDER = 43003, // "%s" the folder, "%s" the system's reason
    IDS_NOT_REGULAR_INPUT = 43004,       // "%s" the file, "%s" the system's reason
    IDS_FILE_CHANGED = 43005, // "%s" file, "%lld" size at the start, "%lld" read, "%lld" size now
    IDS_STOPPED_BY_PROGRAM = 43006, // log: the program stopped the job (a box said why)
    IDS_SYSTEM_REASON = 43007,      // "%s" the system's reason

    // The console: signals, command lines, terminals (43100 on).
    IDS_CLI_CANCELLED = 43100,           // "%s" the signal's name
    IDS_CLI_UNKNOWN_COMMAND = 43101,     // "%s" the word given, "%s" the commands
    IDS_CLI_OPTION_LIKE_FILE = 43102,    // "%s" the argument, "%s" the argument
    IDS_CLI_BINARY_TO_TERMINAL = 43103,  // "%s" the command
    IDS_CLI_FOLDER_NOT_WRITABLE = 43104, // "%s" the folder, "%s" the system's reason
    IDS_CLI_STREAM_CLOSED = 43105, // "%s" the command, "%s" the stream, "%s" the system's reason
    IDS_CLI_REPORT_NOT_WRITTEN = 43106,   // "%s" the command, "%s" the system's reason
    IDS_CLI_VOLUME_SIZE_BLANK = 43107,    // "%s": the size as given
    IDS_CLI_NOT_A_NUMBER = 43108,         // "%s": the value as given
    IDS_CLI_STREAM_FROM_TERMINAL = 43109, // "%s" the command

    // The desktop program's Test command (44000 on).
    IDS_MENU_TEST_PACKED = 44000,
    IDS_TEST_PROMPT = 44001,        // status-bar prompt, "\n", tooltip
    IDS_TEST_CAPTION = 44002,       // the dialog that names the packed file
    IDS_TEST_START = 44003,         // log: the test's first line
    IDS_TEST_SOUND_END = 44004,     // log: the last line of a test that found the file sound
    IDS_TEST_NOT_SOUND_END = 44005, // log: the last line of any other test

    // Inputs that are no regular files, and the volume a damaged set points at (45100 on).
    IDS_INPUT_IS_FIFO = 45100,                // the reason: a FIFO or a socket
    IDS_INPUT_IS_DEVICE = 45101,              // the reason: a device
    IDS_INPUT_IS_FOLDER = 45102,              // the reason: a folder
    IDS_MANIFEST_NOT_REGULAR_IGNORED = 45103, // "%s" the manifest, "%s" the reason
    IDS_MANIFEST_TOO_LARGE_IGNORED = 45104,   // "%s" the manifest, "%lld" its size, "%lld" the most
    IDS_CLI_TEST_CANNOT_OPEN_REASON = 45105,  // "%s" the packed file, "%s" the reason
    IDS_CLI_TEST_VOLUME_UNREADABLE =
        45106, // "%s" the packed file, "%ld" volume, "%s" its path, "%s" reason
    IDS_CHECK_LAST_CUT_SHORT = 45107,   // "%s" the last volume
    IDS_CHECK_TRAILING_IN_LAST = 45108, // "%s" the last volume
    IDS_VOLUME_NOT_REGULAR = 45109,     // "%ld" volume, "%s" its path, "%s" the reason
    // Two programs on one name; outputs named like their own set (45000 on).
    IDS_NAME_LOCK_WAITING = 45000,      // "%s": the file another Pack Tool is using
    IDS_PACK_PROJECT_IS_VOLUME = 45001, // "%s" the project file, "%s" the set's volume 0

    // The help viewer's search (47300 on).
    IDS_HELP_SEARCH_LABEL = 47300,    // the label before the search field
    IDS_HELP_SEARCH_NEXT = 47301,     // button: the next place found
    IDS_HELP_SEARCH_PREVIOUS = 47302, // button: the place found before
    IDS_HELP_SEARCH_TOPICS = 47303,   // accessible name of the list of topics found
    IDS_HELP_SEARCH_COUNT = 47304,    // "%1" places found, "%2" topics they are in
    IDS_HELP_SEARCH_NONE = 47305,     // nothing found
    IDS_HELP_SEARCH_FIELD = 47306,    // accessible name and placeholder of the search field
    // The web page (48000 on).
    IDS_WEB_TITLE = 48000,
    IDS_WEB_PRIVACY = 48001,
    IDS_WEB_LANGUAGE = 48002,
    IDS_WEB_RESTORE_HEADING = 48003,
    IDS_WEB_RESTORE_HINT = 48004,
    IDS_WEB_CHOOSE_FILES = 48005,
    IDS_WEB_CHOOSE_FOLDER = 48006,
    IDS_WEB_SET_NAMED = 48007,      // "%s" volume 0, "%ld" the count
    IDS_WEB_SINGLE_NAMED = 48008,   // "%s" the packed file
    IDS_WEB_VOLUME_FOUND = 48009,   // "%s" the volume
    IDS_WEB_VOLUME_MISSING = 48010, // "%s" the volume, "%ld" its place (from 1), "%ld" the count
    IDS_WEB_NO_PACKED_FILE = 48011,
    IDS_WEB_SAVE = 48012,        // "%s" the file name
    IDS_WEB_KEEP_BROKEN = 48013, // "%s" the file name
    IDS_WEB_PACK_HEADING = 48014,
    IDS_WEB_CHOOSE_PROJECT = 48015,
    IDS_WEB_PACK_WHOLE = 48016,
    IDS_WEB_PACK_SPLIT = 48017,
    IDS_WEB_OTHER_SIZE = 48018,
    IDS_WEB_VOLUME_SIZE = 48019,
    IDS_WEB_PACK_BUTTON = 48020,
    IDS_WEB_PACKED = 48021, // "%s" project, "%lld" its size, "%ld" files, "%lld" their size
    IDS_WEB_SAVE_ALL_FOLDER = 48022,
    IDS_WEB_SAVED_FOLDER = 48023, // "%ld" files
    IDS_WEB_STEP_CHECK = 48024,
    IDS_WEB_STEP_RESTORE = 48025,
    IDS_WEB_PROGRESS = 48026,
    IDS_WEB_RESTORED_BYTES = 48027, // "%s" the project file, "%lld" its size
    IDS_WEB_NOT_RESTORED = 48028,
    IDS_WEB_FOLDER_UNREADABLE = 48029,

    // The desktop program's command line and its second starts (48100 on).
    IDS_APP_USAGE = 48100,           // --help
    IDS_APP_UNKNOWN_OPTION = 48101,  // after the option that was not understood
    IDS_APP_BUSY_NOT_OPENED = 48102, // log: "%s" the file another start asked for during a job
    IDS_APP_BUSY_NOT_TAKEN = 48103,  // the second start's error: "%s" its file

    // The window's questions, choosers and log lines of everyday use (48200 on).
    IDS_REPLACE_MORE_FILES = 48200,    // "%ld" the other files a Yes to all replaces
    IDS_DLG_YES_TO_ALL = 48201,        // the button of that answer
    IDS_CLI_ANSWER_YES_NO_ALL = 48202, // the console's prompt when Yes to all is offered
    IDS_CLOSE_STOPS_JOB = 48203,       // the question after IDS_WAIT_FOR_JOB on closing
    IDS_DLG_STOP_AND_QUIT = 48204,     // its buttons
    IDS_DLG_KEEP_WORKING = 48205,
    IDS_FIND_VOLUME_TITLE = 48206, // "%ld" the volume from 1, "%ld" the count, "%s" volume 0
    IDS_VOLUME_FOREIGN_NAME =
        48207,                    // "%s" chosen, "%ld" volume from 1, "%s" volume 0, "%s" its name
    IDS_ALL_FILES_FILTER = 48208, // a chooser's last filter
    IDS_UNPACK_CHOOSER_FILTER = 48209,      // the window's chooser of a packed file
    IDS_DLG_RESTORE_TO = 48210,             // the Unpack dialog's folder to restore into
    IDS_DLG_INTO_PLACEHOLDER = 48211,       // shown in that field while it is empty
    IDS_DLG_BROWSE_FOLDER = 48212,          // its Browse button
    IDS_INTO_FOLDER_NOT_WRITABLE = 48213,   // "%s" the folder named, "%s" the system's reason
    IDS_FOLDER_READ_ONLY_CHOOSE = 48214,    // "%s" the packed file's folder, "%s" the reason
    IDS_WINDOW_FOLDER_NOT_WRITABLE = 48215, // log: "%s" the folder, "%s" the reason
    IDS_RESTORED_OTHER_CASE = 48216,        // log: "%s" the other file, "%s" the restored one
    IDS_VOLUME_NOT_FOUND_NAMED = 48217,     // log: "%s" the volume's name in the set's folder
    IDS_DLG_DISK_SIZE = 48218,              // the Pack dialog's label of the disk-size list

    // Recovery files beside a set, made and read by par2 (49000 on).
    IDS_RECOVERY_START = 49000,            // log banner before par2 makes the recovery files
    IDS_RECOVERY_FILE_WRITTEN = 49001,     // "%s" the recovery file, "%lld" its size
    IDS_RECOVERY_COVERS_VOLUMES = 49002,   // "%ld" volumes, "%s" the index
    IDS_RECOVERY_COVERS_PERCENT = 49003,   // "%ld" percent, "%s" the index
    IDS_RECOVERY_NOT_WRITTEN = 49004,      // "%s" why; the set itself is kept
    IDS_RECOVERY_NO_PROGRAM = 49005,       // the reason: par2 is not installed
    IDS_RECOVERY_PROGRAM_FAILED = 49006,   // "%s" what par2 said
    IDS_RECOVERY_TOO_LARGE = 49007,        // "%ld" the volume size
    IDS_RECOVERY_STALE_REMOVED = 49008,    // "%s" the old recovery file
    IDS_RECOVERY_VOLUME_MISSING = 49009,   // "%ld" volume, "%s" its name
    IDS_RECOVERY_VOLUME_DAMAGED = 49010,   // "%ld" volume, "%s" its name, "%ld" sound, "%ld" blocks
    IDS_RECOVERY_FILE_MISSING = 49011,     // "%s" the whole packed file
    IDS_RECOVERY_FILE_DAMAGED = 49012,     // "%s" the whole packed file, "%ld" sound, "%ld" blocks
    IDS_RECOVERY_REPAIRABLE_ONE = 49013,   // "%s" packed file, "%ld" volume, "%s" index
    IDS_RECOVERY_REPAIRABLE_MANY = 49014,  // "%s" packed file, "%s" the volumes, "%s" index
    IDS_RECOVERY_REPAIRABLE_WHOLE = 49015, // "%s" packed file, "%s" index
    IDS_RECOVERY_NOT_REPAIRABLE = 49016,   // "%s" packed file, "%s" index, "%ld" blocks short
    IDS_RECOVERY_ALL_MATCH = 49017,        // "%s" index
    IDS_RECOVERY_UNUSABLE = 49018,         // "%s" index, "%s" what par2 said
    IDS_RECOVERY_NEED_PROGRAM = 49019,     // "%s" index
    IDS_RECOVERY_ASK_REBUILD = 49020,      // "%s" the damage, "%s" index
    IDS_RECOVERY_REBUILT_VOLUME = 49021,   // "%ld" volume, "%s" its name, "%s" index
    IDS_RECOVERY_REBUILT_FILE = 49022,     // "%s" the whole packed file, "%s" index
    IDS_RECOVERY_SET_UNTOUCHED = 49023,    // "%s" index
    IDS_RECOVERY_NOT_REBUILT = 49024,
    IDS_RECOVERY_REBUILD_FAILED = 49025,   // "%s" why
    IDS_RECOVERY_REBUILT_MISMATCH = 49026, // "%s" the rebuilt file, "%s" the manifest
    IDS_RECOVERY_CANNOT_REBUILD = 49027,   // "%s" index, "%ld" blocks short
    IDS_RECOVERY_CANCELLED = 49028,
    IDS_CLI_BAD_RECOVERY = 49050,         // "%s" the amount given
    IDS_CLI_RECOVERY_NEEDS_SPLIT = 49051, // "%s" the amount given
    IDS_CLI_RECOVERY_FAILED = 49052,      // the set is complete, its recovery files are not
    IDS_DLG_RECOVERY_DISKS = 49060,       // the Pack dialog's label of the list of recovery disks
    IDS_WINDOW_OFFER_REBUILD = 49061,     // after a test that found the set repairable

    // The console's batches: many files in one command, a tree's inventory (49400 on).
    IDS_CLI_BATCH_FILE = 49400,         // "%s" the file whose log follows
    IDS_CLI_BATCH_PACKED = 49401,       // "%ld" packed, "%ld" files
    IDS_CLI_BATCH_RESTORED = 49402,     // "%ld" restored, "%ld" files
    IDS_CLI_BATCH_SOUND = 49403,        // "%ld" sound, "%ld" files
    IDS_CLI_BATCH_FAILED = 49404,       // "%s" the file, "%s" why
    IDS_CLI_BATCH_NOT_DONE = 49405,     // "%s" the file a cancel left undone
    IDS_CLI_BATCH_BAR = 49406,          // the bar: "%ld" files ended, "%ld" files
    IDS_CLI_ORPHAN_VOLUME = 49407,      // "%ld" its volume, "%s" the volume 0 that is not there
    IDS_CLI_SET_VOLUME_MISSING = 49408, // "%ld" the volume, "%ld" the count, "%s" its name
    IDS_CLI_NOTHING_FOUND = 49409,      // "%s" the folder with no packed file below it
    IDS_CLI_BATCH_NO_REASON = 49410,    // why, when the job's log said nothing more
    IDS_CLI_BATCH_CANCELLED = 49411,    // why: a signal cancelled it
    IDS_BATCH_SAME_OUTPUT = 49412,      // why: "%s" its output, "%s" the earlier file writing it

    // The window's queue: several files chosen or dropped at once (49500 on).
    IDS_QUEUE_LABEL = 49500,     // the form's label of the queue's list
    IDS_QUEUE_FILE = 49501,      // the list's column of file names
    IDS_QUEUE_STATE = 49502,     // the list's column of states
    IDS_QUEUE_WAITING = 49503,   // a file's state: not started yet
    IDS_QUEUE_RUNNING = 49504,   // a file's state: its job runs
    IDS_QUEUE_DONE = 49505,      // a file's state: its job succeeded
    IDS_QUEUE_FAILED = 49506,    // a file's state: its job failed
    IDS_QUEUE_NOT_DONE = 49507,  // a file's state: cancelled, or dropped from the queue
    IDS_QUEUE_DROP_REST = 49508, // "%s" the cancelled file, "%ld" the files still waiting
    IDS_DLG_YES = 49509,         // a question's button
    IDS_DLG_NO = 49510,          // a question's button
};
