/* Identifiers of the resource library (Tovrt.dll): strings, dialog templates with their
   control ids, the main menu and bitmaps. Included by the resource script and by C++; plain
   #defines only, so the resource compiler reads it too. Every id here is listed in
   resource_manifest.h, which the library's test checks against the built DLL: add an id to
   both (and its text or template to Tovrt.rc). */
#ifndef APP_RESOURCES_RESOURCE_IDS_H
#define APP_RESOURCES_RESOURCE_IDS_H

/* Strings: the skin reader's messages. */
#define IDS_SKIN_PARSE_ERROR 1   /* line (int), position (int), URL (wide string) */
#define IDS_SKIN_BAD_ATTRIBUTE 2 /* attribute name (wide string) */
/* Strings: fonts and start-up. */
#define IDS_CAPTION_POINT_SIZE 3
#define IDS_GUI_FONT_FACE 4
#define IDS_ENCODER_MISSING 124
#define IDS_SMALL_FONT_SIZE 306
#define IDS_ALREADY_RUNNING 307 /* window title (string) */
#define IDS_SCREEN_TOO_SMALL 346
/* Strings: byte-size units. */
#define IDS_UNIT_BYTES 125
#define IDS_UNIT_KILOBYTES 126
#define IDS_UNIT_MEGABYTES 127
#define IDS_UNIT_GIGABYTES 128
/* Strings: main page summaries. */
#define IDS_AUDIO_CODEC_MPEG 129
#define IDS_SAMPLE_RATE 137 /* rate in kHz (double) */
#define IDS_AUDIO_CODEC_H264 349
#define IDS_KEEP_ORIGINAL_SIZE 313
#define IDS_SPACE_RECORDED 298   /* size text (string) */
#define IDS_SPACE_AVAILABLE 1015 /* size text (string) */
#define IDS_SPACE_REQUIRED 1016  /* size text (string) */
/* Strings: common dialogs. */
#define IDS_BROWSE_FOLDER_TITLE 138
#define IDS_INFO_TITLE 250
#define IDS_INFO_LABEL_ONE 251
#define IDS_INFO_LABEL_TWO 252
#define IDS_MESSAGE_FILE_TITLE 253
#define IDS_MESSAGE_FILE_FILTER 254 /* four strings */
/* Strings: main panel and main page. */
#define IDS_APP_TITLE 205
#define IDS_OPEN_PROJECT_FILTER 243
#define IDS_SAVE_PROJECT_CHANGES 244
#define IDS_TITLE_PRODUCT 245
#define IDS_TITLE_EDITION 246
#define IDS_MISSING_INPUT_FILE 256 /* path (string) */
#define IDS_UNTITLED_PROJECT 257
#define IDS_NOT_A_USABLE_CLIP 289
#define IDS_HELP_FILE 290
#define IDS_WEB_SUPPORT 293
#define IDS_WEB_HOME 295
#define IDS_WEB_UPDATE 296
#define IDS_WEB_REGISTER 297
#define IDS_LAYOUT_TOO_LARGE 314
#define IDS_DV_DEVICE_FAILED 315
#define IDS_NO_DV_DEVICE 316
#define IDS_PROJECT_DAMAGED 361
#define IDS_SUPPORTED_FILES 2028
#define IDS_DEFAULT_H264_PROFILE 7132
#define IDS_TOOLTIP_MINIMIZE 5216
#define IDS_TOOLTIP_CLOSE 5213
/* Strings: pages. */
#define IDS_OPEN_OUTPUT_FOLDER 260
#define IDS_FOLDER_MISSING 3126
#define IDS_INCLUDE_SUBFOLDERS 2025
/* Strings: preferences. */
#define IDS_TV_FORMAT_PAL 206
#define IDS_TV_FORMAT_NTSC 207
#define IDS_CAPTURE_PREFIX_PREVIEW 258 /* prefix (string) */
#define IDS_CONVERT_PREFIX_PREVIEW 259 /* prefix (string) */

/* Dialog templates and their controls. */
#define IDD_SPLASH 113
#define IDD_ABOUT 114
#define IDD_VOLUME_POPUP 121
#define IDD_PROGRESS 186
#define IDC_PROGRESS_CANCEL 187
#define IDC_PROGRESS_BAR 188
#define IDC_PROGRESS_TEXT 189
#define IDD_MESSAGE_FILE 249
#define IDD_INFORMATION 264

#define IDD_PREF_FILE 201
#define IDC_EXPORT_DIR 193
#define IDC_CAPTURE_DIR 194
#define IDC_CONVERT_DIR 195
#define IDC_CAPTURE_PREFIX 196
#define IDC_CONVERT_PREFIX 197
#define IDC_BROWSE_EXPORT 198
#define IDC_BROWSE_CAPTURE 199
#define IDC_BROWSE_CONVERT 200
#define IDC_MERGE 242
#define IDC_CAPTURE_PREFIX_PREVIEW 258
#define IDC_CONVERT_PREFIX_PREVIEW 259
#define IDC_LOAD_LAST_PROJECT 1050
#define IDD_PREF_VIEW 204
#define IDC_TV_FORMAT 202
#define IDC_PREVIEW_VIDEO 203

/* Menu of the main panel's menu bar. */
#define IDR_MAIN_MENU 109

/* Bitmaps. */
#define IDB_ABOUT 329

#endif
