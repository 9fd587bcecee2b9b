// The manifest of the resource library: every id the application loads from Tovrt.dll, with
// what its callers need of it. For a string: the printf conversions its callers pass, in
// order ("s" a narrow string, "ls" a wide string, "d" an int, "f" a double; "" when the
// string is used as plain text). For a dialog: the control ids its callers expect. The test
// of the library checks each entry against the built DLL.
#pragma once

#include <initializer_list>
#include <vector>

#include "app/resources/program_ids.h"
#include "app/resources/resource_ids.h"

namespace resources {

struct StringEntry {
    unsigned id;
    std::vector<const char*> conversions;
};

struct DialogEntry {
    unsigned id;
    std::vector<unsigned> controls;
};

inline const std::vector<StringEntry>& ManifestStrings() {
    static const std::vector<StringEntry> strings = {
        {IDS_SKIN_PARSE_ERROR, {"d", "d", "ls"}},
        {IDS_SKIN_BAD_ATTRIBUTE, {"ls"}},
        {IDS_CAPTION_POINT_SIZE, {}},
        {IDS_GUI_FONT_FACE, {}},
        {IDS_ENCODER_MISSING, {}},
        {IDS_SMALL_FONT_SIZE, {}},
        {IDS_ALREADY_RUNNING, {"s"}},
        {IDS_SCREEN_TOO_SMALL, {}},
        {IDS_UNIT_BYTES, {}},
        {IDS_UNIT_KILOBYTES, {}},
        {IDS_UNIT_MEGABYTES, {}},
        {IDS_UNIT_GIGABYTES, {}},
        {IDS_AUDIO_CODEC_MPEG, {}},
        {IDS_SAMPLE_RATE, {"f"}},
        {IDS_AUDIO_CODEC_H264, {}},
        {IDS_KEEP_ORIGINAL_SIZE, {}},
        {IDS_SPACE_RECORDED, {"s"}},
        {IDS_SPACE_AVAILABLE, {"s"}},
        {IDS_SPACE_REQUIRED, {"s"}},
        {IDS_CLASS_MPEG2, {}},
        {IDS_CLASS_VCD, {}},
        {IDS_CLASS_SVCD, {}},
        {IDS_CLASS_DVD, {}},
        {IDS_CLASS_H264, {}},
        {IDS_CLASS_AVI, {}},
        {IDS_LABEL_VIDEO, {}},
        {IDS_LABEL_PATH, {}},
        {IDS_LABEL_TYPE, {}},
        {IDS_LABEL_BITRATE, {}},
        {IDS_LABEL_FRAMESIZE, {}},
        {IDS_LABEL_FRAMERATE, {}},
        {IDS_LABEL_AUDIO, {}},
        {IDS_LABEL_CHANNEL, {}},
        {IDS_LABEL_SAMPLERATE, {}},
        {IDS_LABEL_CODEC, {}},
        {IDS_LABEL_CAPTURE_FILES, {}},
        {IDS_LABEL_CONVERT_FILES, {}},
        {IDS_BROWSE_FOLDER_TITLE, {}},
        {IDS_MPEG_EXTENSIONS, {}},
        {IDS_AVI_EXTENSIONS_1, {}},
        {IDS_AVI_EXTENSIONS_2, {}},
        {IDS_MESSAGE_FILE_TITLE, {}},
        {IDS_MESSAGE_FILE_FILTER, {"s", "s", "s", "s"}},
        {IDS_APP_TITLE, {}},
        {IDS_OPEN_PROJECT_FILTER, {}},
        {IDS_SAVE_PROJECT_CHANGES, {}},
        {IDS_TITLE_PRODUCT, {}},
        {IDS_TITLE_EDITION, {}},
        {IDS_MISSING_INPUT_FILE, {"s"}},
        {IDS_UNTITLED_PROJECT, {}},
        {IDS_NOT_A_USABLE_CLIP, {}},
        {IDS_HELP_FILE, {}},
        {IDS_WEB_SUPPORT, {}},
        {IDS_WEB_HOME, {}},
        {IDS_WEB_UPDATE, {}},
        {IDS_WEB_REGISTER, {}},
        {IDS_LAYOUT_TOO_LARGE, {}},
        {IDS_DV_DEVICE_FAILED, {}},
        {IDS_NO_DV_DEVICE, {}},
        {IDS_PROJECT_DAMAGED, {}},
        {IDS_SUPPORTED_FILES, {}},
        {IDS_DEFAULT_H264_PROFILE, {}},
        {IDS_TOOLTIP_MINIMIZE, {}},
        {IDS_TOOLTIP_CLOSE, {}},
        {IDS_OPEN_OUTPUT_FOLDER, {}},
        {IDS_FOLDER_MISSING, {}},
        {IDS_INCLUDE_SUBFOLDERS, {}},
        {IDS_TV_FORMAT_PAL, {}},
        {IDS_TV_FORMAT_NTSC, {}},
        {IDS_CAPTURE_PREFIX_PREVIEW, {"s"}},
        {IDS_CONVERT_PREFIX_PREVIEW, {"s"}},
        {IDS_CATEGORY_NATIVE_DV, {}},
        {IDS_NATIVE_DV_TYPE, {}},
        {IDS_NATIVE_DV_PROFILE, {}},
        {IDS_NATIVE_DV_DESCRIPTION, {}},
        {IDS_NO_PROFILE_INFORMATION, {}},
        {IDS_MV_DESCRIPTION, {}},
        {IDS_MV_PROFILE, {}},
        {IDS_MV_INFORMATION, {}},
        {IDS_CATEGORY_MPEG1, {}},
        {IDS_CATEGORY_MPEG2, {}},
        {IDS_CATEGORY_H264, {}},
        {IDS_CATEGORY_AVI, {}},
        {IDS_TYPE_STANDARD, {}},
        {IDS_TYPE_REAL_TIME, {}},
        {IDS_TYPE_HIGH_QUALITY, {}},
        {IDS_TYPE_USER, {}},
        {IDS_TYPE_ALL, {}},
        {IDS_RATE_NTSC, {}},
        {IDS_RATE_PAL, {}},
        {IDS_PROFILE_LABEL, {}},
        {IDS_COLUMN_PROPERTY, {}},
        {IDS_COLUMN_VALUE, {}},
        {IDS_ROW_CPU, {}},
        {IDS_ROW_VIDEO_BITRATE, {}},
        {IDS_ROW_VIDEO_WIDTH, {}},
        {IDS_ROW_VIDEO_HEIGHT, {}},
        {IDS_ROW_PATTERN, {}},
        {IDS_ROW_RESIZE, {}},
        {IDS_ROW_FLIP, {}},
        {IDS_ROW_AUDIO_LAYER, {}},
        {IDS_ROW_AUDIO_MODE, {}},
        {IDS_NOT_AVAILABLE, {}},
        {IDS_BITRATE_VARIABLE, {}},
        {IDS_RESIZE_NONE, {}},
        {IDS_RESIZE_HALF_WIDTH, {}},
        {IDS_RESIZE_HALF, {}},
        {IDS_RESIZE_OTHER, {}},
        {IDS_FLIP_NO, {}},
        {IDS_FLIP_YES, {}},
        {IDS_AUDIO_MONO, {}},
        {IDS_NAME_HELD, {}},
        {IDS_NAME_EMPTY, {}},
        {IDS_SIZE_320X240, {}},
        {IDS_SIZE_352X240, {}},
        {IDS_SIZE_352X288, {}},
        {IDS_SIZE_640X480, {}},
        {IDS_SIZE_704X576, {}},
        {IDS_SIZE_720X480, {}},
        {IDS_SIZE_720X576, {}},
        {IDS_SIZE_480X480, {}},
        {IDS_SIZE_480X576, {}},
        {IDS_SIZE_704X480, {}},
        {IDS_AUDIO_STEREO, {}},
        {IDS_AUDIO_JOINT_STEREO, {}},
        {IDS_AUDIO_DUAL_CHANNEL, {}},
        {IDS_KHZ_SUFFIX, {}},
        {IDS_ROW_SPEED, {}},
        {IDS_ROW_FRAME_SIZE, {}},
        {IDS_ROW_SAMPLING, {}},
        {IDS_ROW_CHANNELS, {}},
        {IDS_ROW_COMPRESSOR, {}},
        {IDS_CHANNELS_STEREO, {}},
        {IDS_CHANNELS_MONO, {}},
        {IDS_NO_COMPRESSOR, {}},
        {IDS_NOT_A_NUMBER, {}},
        {IDS_RATE_CONTROL_CBR, {}},
        {IDS_RATE_CONTROL_VBR, {}},
        {IDS_DISTORTION_FAST, {}},
        {IDS_DISTORTION_BEST, {}},
        {IDS_DISTORTION_OFF, {}},
        {IDS_SEARCH_32, {}},
        {IDS_SEARCH_64, {}},
        {IDS_SEARCH_128, {}},
        {IDS_SUBPEL_FULL, {}},
        {IDS_SUBPEL_HALF, {}},
        {IDS_SUBPEL_QUARTER, {}},
        {IDS_H264_NAME_HELD, {}},
        // DV capture page and capture-file prompt.
        {IDS_DV_LABEL_LISTED_MAKER, {}},
        {IDS_DV_NO_TAPE, {}},
        {IDS_DV_BAD_MODE, {}},
        {IDS_DV_KIND_LISTED, {}},
        {IDS_DV_KIND_PLAIN, {}},
        {IDS_DV_CONFIRM_ABORT_ENCODING, {}},
        {IDS_DV_SEEK_FAILED, {}},
        {IDS_DV_SEARCH_ENDED, {}},
        {IDS_DV_DEVICE_ARRIVED, {"s"}},
        {IDS_DV_BATCH_CAMERA, {}},
        {IDS_DV_POST_ENCODING, {}},
        {IDS_DV_CLIP_MISSING, {}},
        {IDS_DV_PARAMS_REFUSED, {}},
        {IDS_DV_TIME_LIMIT_ZERO, {}},
        {IDS_DV_SIZE_LIMIT_ZERO, {}},
        {IDS_DV_RECORD_START_FAILED, {}},
        {IDS_DV_POST_ENCODING_BACKGROUND, {}},
        {IDS_DV_RECORDING_STOPPED, {"s"}},
        {IDS_DV_RECORDING_FAILED, {}},
        {IDS_DV_MINUTES_LEFT, {"d"}},
        {IDS_DV_RENAME_FAILED, {"s"}},
        {IDS_DV_LIMIT_OPTION, {}},
        {IDS_DV_TIMECODE_CAPTION, {}},
        {IDS_DV_TIME_LIMIT, {}},
        {IDS_DV_SIZE_LIMIT, {}},
        {IDS_DV_TIMECODE, {}},
        {IDS_DV_NONREALTIME, {}},
        {IDS_PROMPT_BAD_NAME, {}},
        {IDS_PROMPT_TARGET_EXISTS, {}},
        {IDS_PROMPT_RENAME_FAILED, {}},
        {IDS_PROMPT_CONFIRM_DELETE, {}},
        {IDS_PROMPT_DELETE_FAILED, {}},
        // The file conversion page, its batch list, the export room and the rename dialog.
        {IDS_BATCH_LIST_CAPTION, {}},
        {IDS_FILTER_MPEG, {}},
        {IDS_FILTER_AVI, {}},
        {IDS_FILTER_VOB, {}},
        {IDS_FILTER_VRO, {}},
        {IDS_ADDING_FILES, {}},
        {IDS_LIST_FULL_NT, {"d", "d"}},
        {IDS_LIST_FULL_9X, {"d", "d"}},
        {IDS_ALREADY_LISTED, {"s"}},
        {IDS_FORMAT_AVI, {}},
        {IDS_FORMAT_DV, {}},
        {IDS_FORMAT_MPEG1, {}},
        {IDS_FORMAT_MPEG2, {}},
        {IDS_FORMAT_VCD, {}},
        {IDS_FORMAT_SVCD, {}},
        {IDS_FORMAT_DVD, {}},
        {IDS_FORMAT_WM, {}},
        {IDS_FORMAT_REAL, {}},
        {IDS_FORMAT_QUICKTIME, {}},
        {IDS_FORMAT_SEGMENT, {}},
        {IDS_FORMAT_AUDIO, {}},
        {IDS_READING_SEGMENTS, {}},
        {IDS_COLUMN_FILE, {}},
        {IDS_COLUMN_DURATION, {}},
        {IDS_COLUMN_TYPE, {}},
        {IDS_OPENING_FILE, {}},
        {IDS_RENAME_EXISTS, {}},
        {IDS_RENAME_INVALID, {}},
        {IDS_OUTPUT_NOT_RENAMED, {"s", "s"}},
        {IDS_NO_FREE_NAME, {"s"}},
        {IDS_PROFILE_NAME_TOO_LONG, {}},
        {IDS_PROFILE_FILE_TOO_LARGE, {}},
        {IDS_PROFILE_FILE_UNUSABLE, {}},
        {IDS_PROFILE_FILE_REFUSED, {"s", "s"}},
        {IDS_PROFILE_FILE_KEPT, {"s"}},
        {IDS_PROFILE_NOT_SAVED, {"s", "s"}},
        {IDS_CODECS_STILL_LISTED, {}},
        {IDS_VIEWER_TITLE, {}},
        {IDS_VIEWER_ABORTED, {}},
        {IDS_VIEWER_USER_ABORT, {}},
        {IDS_VIEWER_STILL_PLAYING, {}},
        {IDS_VIEWER_STREAM_ERROR, {}},
        {IDS_VIEWER_RUN_FAILED, {}},
    };
    return strings;
}

inline const std::vector<DialogEntry>& ManifestDialogs() {
    static const std::vector<DialogEntry> dialogs = {
        {IDD_SPLASH, {}},
        {IDD_ABOUT, {}},
        {IDD_VOLUME_POPUP, {}},
        {IDD_PROGRESS, {IDC_PROGRESS_CANCEL, IDC_PROGRESS_BAR, IDC_PROGRESS_TEXT}},
        {IDD_MESSAGE_FILE, {IDC_MESSAGE_TEXT, IDOK, IDCANCEL, IDC_MESSAGE_SKIP, IDC_MESSAGE_SKIP_ALL}},
        {IDD_INFORMATION,
         {IDC_INFO_VALUE_1, IDC_INFO_LABEL_1, IDC_INFO_LABEL_2, IDC_INFO_LABEL_3, IDC_INFO_VALUE_3, IDC_INFO_VALUE_2}},
        {IDD_PROFILE_SELECT,
         {IDC_PROFILE_CATEGORY, IDC_PROFILE_TYPE, IDC_PROFILE_RATE, IDC_PROFILE_NAME, IDC_PROFILE_NEW, IDC_PROFILE_EDIT,
          IDC_PROFILE_DELETE, IDC_PROFILE_INFO, IDC_PROFILE_DETAILS, IDC_PROFILE_CODEC, IDC_PROFILE_DESCRIPTION,
          IDC_PROFILE_H264}},
        {IDD_PROFILE_AUDIO, {IDC_AUDIO_BITRATE}},
        {IDD_PROFILE_VIDEO,
         {IDC_VIDEO_RESOLUTION, IDC_VIDEO_BITRATE_SLIDER, IDC_VIDEO_PREPROCESS_1, IDC_VIDEO_PREPROCESS_2,
          IDC_VIDEO_INTERLACING, IDC_VIDEO_SPEED_QUALITY, IDC_VIDEO_BITRATE_EDIT}},
        {IDD_PROFILE_NAME, {IDC_PROFILE_NAME_EDIT, IDC_PROFILE_DESCRIPTION_EDIT, IDC_PROFILE_PROPERTIES}},
        {IDD_PROFILE_DETAIL, {IDC_DETAIL_PROPERTIES, IDC_DETAIL_TEXT}},
        {IDD_H264_NAME, {IDC_H264_NAME, IDC_H264_DESCRIPTION, IDC_H264_PROPERTIES}},
        {IDD_H264_VIDEO,
         {IDC_H264_GOP,          IDC_H264_BFRAMES,     IDC_H264_PATTERN,    IDC_H264_CABAC,        IDC_H264_CAVLC,
          IDC_H264_RATE_CONTROL, IDC_H264_CBR_SLIDER,  IDC_H264_CBR_EDIT,   IDC_H264_BITRATE,      IDC_H264_MAX_BITRATE,
          IDC_H264_KEEP_SIZE,    IDC_H264_CHOSEN_SIZE, IDC_H264_FRAME_SIZE, IDC_H264_SBD,          IDC_H264_DEBLOCK,
          IDC_H264_FRAME_RATE,   IDC_H264_DISTORTION,  IDC_H264_MOTION,     IDC_H264_SEARCH_RANGE, IDC_H264_SUBPEL,
          IDC_H264_PARTITION}},
        {IDD_H264_AUDIO, {IDC_H264_AUDIO_BITRATE}},
        {IDD_PREF_FILE,
         {IDC_EXPORT_DIR, IDC_CAPTURE_DIR, IDC_CONVERT_DIR, IDC_CAPTURE_PREFIX, IDC_CONVERT_PREFIX, IDC_BROWSE_EXPORT,
          IDC_BROWSE_CAPTURE, IDC_BROWSE_CONVERT, IDC_MERGE, IDC_CAPTURE_PREFIX_PREVIEW, IDC_CONVERT_PREFIX_PREVIEW,
          IDC_LOAD_LAST_PROJECT}},
        {IDD_PREF_VIEW, {IDC_TV_FORMAT, IDC_PREVIEW_VIDEO}},
        {IDD_DV_DEVICE_SELECT, {IDC_DV_DEVICE_COMBO, IDOK, IDCANCEL}},
        {IDD_CAPTURE_FILE_PROMPT,
         {IDC_PROMPT_NAME, IDC_PROMPT_EXTENSION, IDC_PROMPT_ASK_AGAIN, IDC_PROMPT_DELETE, IDC_PROMPT_FOLDER, IDOK}},
        {IDD_RENAME, {IDC_RENAME_NAME, IDC_RENAME_EXTENSION, IDOK, IDCANCEL}},
        {IDD_VIDEO_VIEWER, {}},
    };
    return dialogs;
}

inline const std::vector<unsigned>& ManifestMenus() {
    static const std::vector<unsigned> menus = {IDR_MAIN_MENU, IDR_EXPORT_ROOM_MENU, IDR_BATCH_LIST_MENU};
    return menus;
}

inline const std::vector<unsigned>& ManifestBitmaps() {
    static const std::vector<unsigned> bitmaps = {
        IDB_ABOUT,          IDB_FRAME_CAPTION,     IDB_FRAME_CLOSE,        IDB_FRAME_MAXIMIZE,
        IDB_FRAME_MINIMIZE, IDB_FRAME_RESTORE,     IDB_FRAME_CAPTION_LEFT, IDB_FRAME_CAPTION_RIGHT,
        IDB_FRAME_BOTTOM,   IDB_FRAME_BOTTOM_LEFT, IDB_FRAME_BOTTOM_RIGHT, IDB_FRAME_LEFT,
        IDB_FRAME_RIGHT};
    return bitmaps;
}

// Cursors of the resource library (also in the program's own module).
inline const std::vector<unsigned>& ManifestCursors() {
    static const std::vector<unsigned> cursors = {IDC_CURSOR_EDIT, IDC_CURSOR_THUMB, IDC_CURSOR_GRAB, IDC_CURSOR_REGION,
                                                  IDC_CURSOR_MOVE};
    return cursors;
}

// The program's own module: icons, cursors and the header's sort-arrow bitmaps.
inline const std::vector<unsigned>& ProgramIcons() {
    static const std::vector<unsigned> icons = {IDI_APP, IDI_DOCUMENT};
    return icons;
}
inline const std::vector<unsigned>& ProgramBitmaps() {
    static const std::vector<unsigned> bitmaps = {IDB_SORT_UP, IDB_SORT_DOWN};
    return bitmaps;
}

}  // namespace resources
