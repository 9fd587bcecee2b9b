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
#define IDS_MPEG_EXTENSIONS 250  /* dotted lower-case extensions */
#define IDS_AVI_EXTENSIONS_1 251 /* joined with 252 */
#define IDS_AVI_EXTENSIONS_2 252
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

/* Strings: the main page's profile class names and summary labels (a static's id is the id
   of its text). */
#define IDS_CLASS_MPEG2 130
#define IDS_CLASS_VCD 131
#define IDS_CLASS_SVCD 132
#define IDS_CLASS_DVD 133
#define IDS_CLASS_H264 134
#define IDS_CLASS_AVI 230
#define IDS_LABEL_VIDEO 1005
#define IDS_LABEL_PATH 1006
#define IDS_LABEL_TYPE 1007
#define IDS_LABEL_BITRATE 1008
#define IDS_LABEL_FRAMESIZE 1009
#define IDS_LABEL_FRAMERATE 1010
#define IDS_LABEL_AUDIO 1011
#define IDS_LABEL_CHANNEL 1012
#define IDS_LABEL_SAMPLERATE 1013
#define IDS_LABEL_CODEC 1014
#define IDS_LABEL_CAPTURE_FILES 1018
#define IDS_LABEL_CONVERT_FILES 1019
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

/* Strings: profile selection. */
#define IDS_CATEGORY_NATIVE_DV 300
#define IDS_NATIVE_DV_TYPE 301
#define IDS_NATIVE_DV_PROFILE 302
#define IDS_NATIVE_DV_DESCRIPTION 303
#define IDS_NO_PROFILE_INFORMATION 311
#define IDS_MV_DESCRIPTION 5182
#define IDS_MV_PROFILE 5183
#define IDS_MV_INFORMATION 5185
#define IDS_CATEGORY_MPEG1 7019
#define IDS_CATEGORY_MPEG2 7020
#define IDS_CATEGORY_H264 7021
#define IDS_CATEGORY_AVI 7022
#define IDS_TYPE_STANDARD 7023
#define IDS_TYPE_REAL_TIME 7024
#define IDS_TYPE_HIGH_QUALITY 7025
#define IDS_TYPE_USER 7026
#define IDS_TYPE_ALL 7027
#define IDS_RATE_NTSC 7028
#define IDS_RATE_PAL 7029
#define IDS_PROFILE_LABEL 7030
/* Strings: profile editor and detail lists. */
#define IDS_COLUMN_PROPERTY 152
#define IDS_COLUMN_VALUE 153
#define IDS_ROW_CPU 154
#define IDS_ROW_VIDEO_BITRATE 155
#define IDS_ROW_VIDEO_WIDTH 156
#define IDS_ROW_VIDEO_HEIGHT 157
#define IDS_ROW_PATTERN 158
#define IDS_ROW_RESIZE 159
#define IDS_ROW_FLIP 160
#define IDS_ROW_AUDIO_LAYER 161
#define IDS_ROW_AUDIO_MODE 162
#define IDS_NOT_AVAILABLE 163
#define IDS_BITRATE_VARIABLE 166
#define IDS_RESIZE_NONE 167
#define IDS_RESIZE_HALF_WIDTH 168
#define IDS_RESIZE_HALF 169
#define IDS_RESIZE_OTHER 170
#define IDS_FLIP_NO 171
#define IDS_FLIP_YES 172
#define IDS_AUDIO_MONO 173
#define IDS_NAME_HELD 174
#define IDS_NAME_EMPTY 175
#define IDS_SIZE_320X240 176
#define IDS_SIZE_352X240 177
#define IDS_SIZE_352X288 178
#define IDS_SIZE_640X480 179
#define IDS_SIZE_704X576 180
#define IDS_SIZE_720X480 181
#define IDS_SIZE_720X576 182
#define IDS_SIZE_480X480 183
#define IDS_SIZE_480X576 184
#define IDS_SIZE_704X480 185
#define IDS_AUDIO_STEREO 5207
#define IDS_AUDIO_JOINT_STEREO 5208
#define IDS_AUDIO_DUAL_CHANNEL 5209
#define IDS_KHZ_SUFFIX 5210
#define IDS_ROW_SPEED 7033
#define IDS_ROW_FRAME_SIZE 7034
#define IDS_ROW_SAMPLING 7035
#define IDS_ROW_CHANNELS 7036
#define IDS_ROW_COMPRESSOR 7037
#define IDS_CHANNELS_STEREO 7038
#define IDS_CHANNELS_MONO 7039
#define IDS_NO_COMPRESSOR 7040

/* Dialog templates: profile selection and the profile editor. */
#define IDD_PROFILE_SELECT 123
#define IDC_PROFILE_CATEGORY 7008
#define IDC_PROFILE_TYPE 7009
#define IDC_PROFILE_RATE 7010
#define IDC_PROFILE_NAME 7011
#define IDC_PROFILE_NEW 7012
#define IDC_PROFILE_EDIT 7013
#define IDC_PROFILE_DELETE 7014
#define IDC_PROFILE_INFO 7015
#define IDC_PROFILE_DETAILS 7016
#define IDC_PROFILE_CODEC 7017
#define IDC_PROFILE_DESCRIPTION 7018
#define IDC_PROFILE_H264 7019
#define IDD_PROFILE_AUDIO 124
#define IDC_AUDIO_BITRATE 147
#define IDD_PROFILE_VIDEO 125
#define IDC_VIDEO_RESOLUTION 141
#define IDC_VIDEO_BITRATE_SLIDER 142
#define IDC_VIDEO_PREPROCESS_1 143
#define IDC_VIDEO_PREPROCESS_2 144
#define IDC_VIDEO_INTERLACING 145
#define IDC_VIDEO_SPEED_QUALITY 146
#define IDC_VIDEO_BITRATE_EDIT 151
#define IDD_PROFILE_NAME 126
#define IDC_PROFILE_NAME_EDIT 148
#define IDC_PROFILE_DESCRIPTION_EDIT 149
#define IDC_PROFILE_PROPERTIES 150
#define IDD_PROFILE_DETAIL 127
#define IDC_DETAIL_PROPERTIES 7031
#define IDC_DETAIL_TEXT 7032

/* Dialog templates and their controls. */
#define IDD_SPLASH 113
#define IDD_ABOUT 114
#define IDD_VOLUME_POPUP 121
#define IDD_PROGRESS 186
#define IDC_PROGRESS_CANCEL 187
#define IDC_PROGRESS_BAR 188
#define IDC_PROGRESS_TEXT 189
#define IDD_MESSAGE_FILE 249
#define IDC_MESSAGE_TEXT 247
#define IDC_MESSAGE_SKIP 5
#define IDC_MESSAGE_SKIP_ALL 248
#define IDD_INFORMATION 264
#define IDC_INFO_VALUE_1 265
#define IDC_INFO_LABEL_1 266
#define IDC_INFO_LABEL_2 267
#define IDC_INFO_LABEL_3 268
#define IDC_INFO_VALUE_3 269
#define IDC_INFO_VALUE_2 270

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

/* Strings: the H.264 profile sheet. */
#define IDS_NOT_A_NUMBER 263
#define IDS_RATE_CONTROL_CBR 350
#define IDS_RATE_CONTROL_VBR 351
#define IDS_DISTORTION_FAST 352
#define IDS_DISTORTION_BEST 353
#define IDS_DISTORTION_OFF 354
#define IDS_SEARCH_32 355
#define IDS_SEARCH_64 356
#define IDS_SEARCH_128 357
#define IDS_SUBPEL_FULL 358
#define IDS_SUBPEL_HALF 359
#define IDS_SUBPEL_QUARTER 360
#define IDS_H264_NAME_HELD 7143

/* Strings: the profile dialogs' messages about names and the profile file. */
#define IDS_PROFILE_NAME_TOO_LONG 7150
#define IDS_PROFILE_FILE_TOO_LARGE 7151
#define IDS_PROFILE_FILE_UNUSABLE 7152
#define IDS_PROFILE_FILE_REFUSED 7153 /* path (string), reason (string) */
#define IDS_PROFILE_FILE_KEPT 7154    /* path kept aside (string) */
#define IDS_PROFILE_NOT_SAVED 7155    /* path (string), reason (string) */
#define IDS_CODECS_STILL_LISTED 7156

/* Dialog templates: the H.264 profile sheet's pages, in the order the sheet adds them. */
#define IDD_H264_NAME 136
#define IDC_H264_NAME 1043
#define IDC_H264_DESCRIPTION 1044
#define IDC_H264_PROPERTIES 1045
#define IDD_H264_VIDEO 137
#define IDC_H264_GOP 1021
#define IDC_H264_BFRAMES 1022
#define IDC_H264_PATTERN 1023
#define IDC_H264_CABAC 1024
#define IDC_H264_CAVLC 1025
#define IDC_H264_RATE_CONTROL 1026
#define IDC_H264_CBR_SLIDER 1027
#define IDC_H264_CBR_EDIT 1028
#define IDC_H264_BITRATE 1029
#define IDC_H264_MAX_BITRATE 1030
#define IDC_H264_KEEP_SIZE 1031
#define IDC_H264_CHOSEN_SIZE 1032
#define IDC_H264_FRAME_SIZE 1033
#define IDC_H264_SBD 1034
#define IDC_H264_DEBLOCK 1035
#define IDC_H264_FRAME_RATE 1036
#define IDC_H264_DISTORTION 1037
#define IDC_H264_MOTION 1038
#define IDC_H264_SEARCH_RANGE 1039
#define IDC_H264_SUBPEL 1040
#define IDC_H264_PARTITION 1041
#define IDD_H264_AUDIO 138
#define IDC_H264_AUDIO_BITRATE 1042

/* Menu of the main panel's menu bar. */
#define IDR_MAIN_MENU 109

/* Bitmaps. */
#define IDB_ABOUT 329
/* The skinned dialog frame: caption pieces, borders and corners, caption buttons (4 cells). */
#define IDB_FRAME_CAPTION 317
#define IDB_FRAME_CLOSE 318
#define IDB_FRAME_MAXIMIZE 319
#define IDB_FRAME_MINIMIZE 320
#define IDB_FRAME_RESTORE 321
#define IDB_FRAME_CAPTION_LEFT 322
#define IDB_FRAME_CAPTION_RIGHT 323
#define IDB_FRAME_BOTTOM 324
#define IDB_FRAME_BOTTOM_LEFT 325
#define IDB_FRAME_BOTTOM_RIGHT 326
#define IDB_FRAME_LEFT 327
#define IDB_FRAME_RIGHT 328

/* DV capture page: messages and texts. */
#define IDS_DV_LABEL_LISTED_MAKER 3028
#define IDS_DV_NO_TAPE 3029
#define IDS_DV_BAD_MODE 3030
#define IDS_DV_KIND_LISTED 3031
#define IDS_DV_KIND_PLAIN 3032
#define IDS_DV_CONFIRM_ABORT_ENCODING 3033
#define IDS_DV_SEEK_FAILED 3034
#define IDS_DV_SEARCH_ENDED 3035
#define IDS_DV_DEVICE_ARRIVED 3036 /* device name (string) */
#define IDS_DV_BATCH_CAMERA 3125
#define IDS_DV_POST_ENCODING 219
#define IDS_DV_CLIP_MISSING 220
#define IDS_DV_PARAMS_REFUSED 221
#define IDS_DV_TIME_LIMIT_ZERO 222
#define IDS_DV_SIZE_LIMIT_ZERO 223
#define IDS_DV_RECORD_START_FAILED 225
#define IDS_DV_POST_ENCODING_BACKGROUND 226
#define IDS_DV_RECORDING_STOPPED 227 /* reason (string) */
#define IDS_DV_RECORDING_FAILED 228
#define IDS_DV_MINUTES_LEFT 229   /* minutes (int) */
#define IDS_DV_RENAME_FAILED 3041 /* kept path (string) */
/* DV capture page: the labels of its static texts (string id = control id). */
#define IDS_DV_LIMIT_OPTION 3017
#define IDS_DV_TIMECODE_CAPTION 3018
#define IDS_DV_TIME_LIMIT 3020
#define IDS_DV_SIZE_LIMIT 3021
#define IDS_DV_TIMECODE 3025
#define IDS_DV_NONREALTIME 3040
/* Capture-file prompt: messages. */
#define IDS_PROMPT_BAD_NAME 213
#define IDS_PROMPT_TARGET_EXISTS 214
#define IDS_PROMPT_RENAME_FAILED 216
#define IDS_PROMPT_CONFIRM_DELETE 217
#define IDS_PROMPT_DELETE_FAILED 218
/* DV device selection dialog. */
#define IDD_DV_DEVICE_SELECT 122
#define IDC_DV_DEVICE_COMBO 1000
/* Capture-file prompt dialog. */
#define IDD_CAPTURE_FILE_PROMPT 130
#define IDC_PROMPT_NAME 208
#define IDC_PROMPT_EXTENSION 209
#define IDC_PROMPT_ASK_AGAIN 210
#define IDC_PROMPT_DELETE 211
#define IDC_PROMPT_FOLDER 212
/* The file conversion page, its batch list, the export room and the rename dialog. */
#define IDS_BATCH_LIST_CAPTION 2002
#define IDS_FILTER_MPEG 139
#define IDS_FILTER_AVI 140
#define IDS_FILTER_VOB 304
#define IDS_FILTER_VRO 305
#define IDS_ADDING_FILES 190
#define IDS_LIST_FULL_NT 191    /* limit (int), most entries (int) */
#define IDS_LIST_FULL_9X 192    /* limit (int), most entries (int) */
#define IDS_ALREADY_LISTED 2024 /* path (string) */
#define IDS_FORMAT_AVI 231
#define IDS_FORMAT_DV 232
#define IDS_FORMAT_MPEG1 233
#define IDS_FORMAT_MPEG2 234
#define IDS_FORMAT_VCD 235
#define IDS_FORMAT_SVCD 236
#define IDS_FORMAT_DVD 237
#define IDS_FORMAT_WM 238
#define IDS_FORMAT_REAL 239
#define IDS_FORMAT_QUICKTIME 240
#define IDS_FORMAT_SEGMENT 241
#define IDS_FORMAT_AUDIO 261
#define IDS_READING_SEGMENTS 299
#define IDS_COLUMN_FILE 308
#define IDS_COLUMN_DURATION 309
#define IDS_COLUMN_TYPE 310
#define IDS_OPENING_FILE 312
#define IDS_RENAME_EXISTS 1051
#define IDS_RENAME_INVALID 1052
#define IDS_OUTPUT_NOT_RENAMED 3127 /* final path (string), kept path (string) */
#define IDS_NO_FREE_NAME 3128       /* path (string) */
#define IDR_EXPORT_ROOM_MENU 139
#define IDR_BATCH_LIST_MENU 141
#define IDD_RENAME 140
#define IDC_RENAME_NAME 1047
#define IDC_RENAME_EXTENSION 1048
/* The video viewer: its dialog (a skinned window; its controls come from the skin), title
   and the clip player's five playback failures. */
#define IDD_VIDEO_VIEWER 131
#define IDS_VIEWER_TITLE 7122
#define IDS_VIEWER_ABORTED 7126
#define IDS_VIEWER_USER_ABORT 7127
#define IDS_VIEWER_STILL_PLAYING 7128
#define IDS_VIEWER_STREAM_ERROR 7129
#define IDS_VIEWER_RUN_FAILED 7130

/* The file properties of the export room and the file page, and the export room's tip. */
#define IDS_ROOM_TIP 262         /* path, type, size, date, frame size, frame rate (strings) */
#define IDS_ROOM_TIP_BITRATE 291 /* path, type, size, date, bit rate, frame size, frame rate */
#define IDS_PROP_GENERAL 271
#define IDS_PROP_FILE 272
#define IDS_PROP_TYPE 273
#define IDS_PROP_SIZE 274
#define IDS_PROP_DATE 275
#define IDS_PROP_VIDEO 276
#define IDS_PROP_DURATION 277
#define IDS_PROP_FRAME_SIZE 278
#define IDS_PROP_FRAME_RATE 279
#define IDS_PROP_AUDIO 280
#define IDS_PROP_BIT_RATE 281
#define IDS_PROP_PER_SECOND 282
#define IDS_PROP_FPS 283
#define IDS_PROP_SAMPLING 284
#define IDS_PROP_KBPS 285
#define IDS_PROP_CHANNELS 286
#define IDS_PROP_DUAL_CHANNEL 287
#define IDS_PROP_JOINT_STEREO 288
/* The batch capture dialog: its template (a skinned window; its controls come from the skin),
   step texts, tool tips and messages. */
#define IDD_BATCH_CAPTURE 3051
#define IDS_BATCH_STEP0_DESC 3093
#define IDS_BATCH_STEP1_CAPTION 3094
#define IDS_BATCH_SCAN_COUNT 3095 /* segments (int) */
#define IDS_BATCH_STEP2_CAPTION 3096
#define IDS_BATCH_REVIEW_COUNT 3097 /* segments (int) */
#define IDS_BATCH_STEP3_CAPTION 3098
#define IDS_BATCH_CAPTURED_COUNT 3099 /* captured (int) */
#define IDS_BATCH_STEP4_CAPTION 3100
#define IDS_BATCH_FINISHED_COUNT 3101 /* captured (int) */
#define IDS_BATCH_NEXT_FINISH 3108
#define IDS_BATCH_TIP_MERGE 3109
#define IDS_BATCH_TIP_AUTOMERGE 3110
#define IDS_BATCH_TIP_PLAY 3111
#define IDS_BATCH_TIP_PAUSE 3112
#define IDS_BATCH_TIP_STOP 3113
#define IDS_BATCH_TIP_NEXTFRAME 3114
#define IDS_BATCH_TIP_PREVFRAME 3115
#define IDS_BATCH_TIP_FAST 3116
#define IDS_BATCH_NEXT_SCAN 3120
#define IDS_BATCH_NEXT_STOP_SCAN 3121
#define IDS_BATCH_STEP0_CAPTION 3122
#define IDS_BATCH_NEXT_CAPTURE 3123
#define IDS_BATCH_NEXT_STOP 3124
#define IDS_BATCH_EMPTY 3129
#define IDS_BATCH_REFUSED 3130
#define IDS_BATCH_NO_DEVICE 3131
#define IDS_BATCH_SCAN_FAILED 3137
#define IDS_BATCH_ENDED_EARLY 3139 /* captured (int) */
/* The batch dialog's automatic join, its note, and the list's tool tip. */
#define IDD_BATCH_AUTO_MERGE 3049
#define IDD_BATCH_NOTE 3050
#define IDC_AUTO_MERGE_BY_TIMECODE 3041
#define IDC_AUTO_MERGE_BY_DATE 3042
#define IDC_AUTO_MERGE_HOURS 3043
#define IDC_AUTO_MERGE_MINUTES 3044
#define IDC_BATCH_NOTE_TEXT1 3045
#define IDC_BATCH_NOTE_TITLE1 3046
#define IDC_BATCH_NOTE_TITLE2 3047
#define IDC_BATCH_NOTE_TEXT2 3048
#define IDS_BATCH_NOTE_TITLE1 3132
#define IDS_BATCH_NOTE_TEXT1 3133
#define IDS_BATCH_NOTE_TITLE2 3134
#define IDS_BATCH_NOTE_TEXT2 3135
#define IDS_BATCH_FINISHING 3138
#define IDS_BATCH_CLIP_TIP 3136 /* first date (string), in (string), last date (string), out (string) */

#endif
