// Ids of the configuration dialog's two templates and their controls, shared by the resource
// script, the dialog procedures and the tests. The values are part of the plug-in's outside:
// keep them.
#ifndef TOLLVANE_CONFIG_DIALOG_IDS_H
#define TOLLVANE_CONFIG_DIALOG_IDS_H

#define IDD_CONFIG 101
#define IDD_FILE_OPTIONS 102        // opened by "File options..."

#define IDC_OUTPUT_DIR 1000         // push button showing the output directory
#define IDC_CONVERT 1001            // check box "Convert to format:"
#define IDC_CODEC_FORMAT_PICK 1002  // "..." beside the codec format
#define IDC_CODEC_FORMAT 1005       // read-only edit showing the codec format
#define IDC_SINGLE_FILE 1010        // check box "Enable"
#define IDC_SINGLE_PATH 1011        // read-only edit showing the single-file path
#define IDC_SINGLE_PATH_PICK 1012   // "..." beside the single-file path
#define IDC_SINGLE_FORMAT 1013      // push button showing the single-file format
#define IDC_OUTPUT_DIR_LABEL 1014
#define IDC_SINGLE_PATH_LABEL 1015
#define IDC_SINGLE_FORMAT_LABEL 1016
#define IDC_FILE_MODE_LABEL 1018
#define IDC_FILE_MODE 1019          // drop-down list of the per-track file modes
#define IDC_THREAD 1020             // check box "Override thread priority (hack)"
#define IDC_NOTE 1021
#define IDC_FILE_OPTIONS 1022       // "File options...", which opens the file options dialog

// The file options dialog: the per-track options first, then the group of the single file and
// the file size.
#define IDC_NAME_PATTERN_LABEL 1030
#define IDC_NAME_PATTERN 1031       // edit holding the file name pattern
#define IDC_NAME_LEGEND 1032        // the fields a pattern may use
#define IDC_EXISTS_LABEL 1033
#define IDC_EXISTS 1034             // drop-down list of what to do when a file exists
#define IDC_INFO 1035               // check box "Write title and number into the file"
#define IDC_SPLIT 1036              // check box "New file when a stream's title changes"
#define IDC_CUE 1037                // check box "Keep a cue sheet beside the single file"
#define IDC_RF64 1038               // check box "Let WAV files grow past 4 GiB (RF64)"

#endif
