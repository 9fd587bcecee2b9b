// The engines' binary interfaces, declared once for the engines and the application.
//
// Each interface is an X-macro list of its vtable slots, numbered from 3 (after IUnknown).
// The list expands into the interface and into the table of its slot numbers, which a
// static_assert requires to be consecutive, so a slot cannot move without the build
// failing. Slots the application never calls are reserved: they have a body that answers
// E_NOTIMPL, so an implementation need not repeat them.
//
// Texts crossing these interfaces are ANSI (the application's code page); times are
// signed 64-bit counts of 100 ns; results are HRESULTs, negative for failure, unless a
// slot says otherwise.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <span>

#include "engines/capture_params.h"

namespace engines {

// True when `slots` runs 3, 4, 5, ... without a gap.
consteval bool SlotsAreConsecutive(std::span<const int> slots) {
    for (size_t i = 0; i < slots.size(); ++i)
        if (slots[i] != static_cast<int>(i) + 3) return false;
    return !slots.empty();
}

}  // namespace engines

#define ENGINES_DECLARE_SLOT(slot, ret, name, params) virtual ret STDMETHODCALLTYPE name params = 0;
#define ENGINES_DECLARE_RESERVED(slot)                   \
    virtual HRESULT STDMETHODCALLTYPE Reserved##slot() { \
        return E_NOTIMPL;                                \
    }
#define ENGINES_SLOT_NUMBER(slot, ...) slot,
#define ENGINES_DEFINE_INTERFACE(Name, LIST)                                                          \
    struct Name : public IUnknown {                                                                   \
        LIST(ENGINES_DECLARE_SLOT, ENGINES_DECLARE_RESERVED)                                          \
    };                                                                                                \
    namespace engines {                                                                               \
    inline constexpr int k##Name##Slots[] = {LIST(ENGINES_SLOT_NUMBER, ENGINES_SLOT_NUMBER)};         \
    static_assert(SlotsAreConsecutive(k##Name##Slots), #Name ": vtable slots must run 3, 4, 5, ..."); \
    }

// ---- class and interface identifiers ----
inline constexpr CLSID CLSID_ThumbnailCache = {
    0x3D0CEDF8, 0x2E35, 0x45F6, {0x8F, 0x3F, 0xFF, 0x53, 0xE4, 0x88, 0x94, 0x52}};
inline constexpr IID IID_IThumbnailCache = {
    0x30F96CEF, 0x9EA7, 0x4266, {0xAD, 0x03, 0x58, 0x17, 0x34, 0x34, 0x7C, 0x34}};
inline constexpr CLSID CLSID_ClipPlayer = {
    0xDB7C526C, 0x676C, 0x4BB6, {0x90, 0xDD, 0x1A, 0x3E, 0xA4, 0x70, 0x5F, 0x74}};
inline constexpr IID IID_IClipPlayer = {0x98D18DB4, 0x3334, 0x4BB1, {0xAB, 0xC6, 0xEB, 0x32, 0x8E, 0x88, 0xA1, 0xA9}};
inline constexpr CLSID CLSID_FileEngine = {
    0xDF7FCB64, 0x5E3B, 0x4D7E, {0x93, 0xB7, 0xF1, 0xAD, 0xE0, 0xAF, 0x16, 0x19}};
inline constexpr IID IID_IFileEngineTimeline = {
    0x6DA4FCD5, 0x9A58, 0x485D, {0x85, 0x7D, 0x3E, 0xCB, 0x94, 0x8C, 0x8D, 0x71}};
inline constexpr IID IID_IFileEngineControl = {
    0x0CCB5D14, 0xC7ED, 0x4323, {0x91, 0xD3, 0xE8, 0x7E, 0x7C, 0xD3, 0x9B, 0x88}};
inline constexpr CLSID CLSID_EngineInfo = {
    0xFA5317CD, 0x623B, 0x4B22, {0xAB, 0x85, 0x91, 0xC9, 0xAF, 0x2A, 0x0F, 0x83}};
inline constexpr IID IID_IEngineInfo = {0xEF0D8CDF, 0xDE69, 0x47C9, {0xB1, 0x35, 0x52, 0x64, 0xB4, 0xE9, 0x31, 0x68}};
inline constexpr CLSID CLSID_SystemLayerDV = {
    0xEC7BCE37, 0x6422, 0x4F16, {0x98, 0x71, 0xA6, 0xE6, 0xA4, 0xFE, 0x36, 0x11}};
inline constexpr IID IID_ISystemLayerDV = {
    0x2E5F17D7, 0xBC93, 0x4E02, {0xB5, 0x0D, 0xF8, 0x41, 0xA1, 0x7F, 0xEA, 0xE2}};

// ---- callbacks ----
// The clip player's segment-probe notices: code 2 start, 1 progress, 3 finished.
using ClipPlayerCallback = void(CALLBACK*)(DWORD code, UINT_PTR param, void* context);
// The DV capture engine's notices, on the engine's own thread: the second argument is the
// code, the third its parameter (a path, a text or a record when the code carries one).
using SystemLayerCallback = void(CALLBACK*)(UINT_PTR engine, UINT_PTR code, UINT_PTR param, UINT_PTR reserved);

// ---- thumbnail cache ----
// Lookup answers 1 and a new bitmap of the caller's when the clip's frame at `time` is
// held, else 0; Store keeps a copy of the caller's bitmap.
// clang-format off
#define ENGINES_THUMBNAIL_CACHE_SLOTS(M, R)                                 \
    M(3, LONG, Lookup, (const char* path, LONGLONG time, HBITMAP* bitmap))  \
    R(4) R(5) R(6)                                                          \
    M(7, HRESULT, Store, (const char* path, LONGLONG time, HBITMAP bitmap))
// clang-format on
ENGINES_DEFINE_INTERFACE(IThumbnailCache, ENGINES_THUMBNAIL_CACHE_SLOTS)

// ---- string query ----
// Each query takes a buffer holding an input text and receives the answer in it.
// clang-format off
#define ENGINES_ENGINE_INFO_SLOTS(M, R)                      \
    M(3, HRESULT, QueryString, (char* buffer, DWORD bytes))  \
    M(4, HRESULT, QueryString2, (char* buffer, DWORD bytes)) \
    M(5, HRESULT, QueryString3, (char* buffer, DWORD bytes))
// clang-format on
ENGINES_DEFINE_INTERFACE(IEngineInfo, ENGINES_ENGINE_INFO_SLOTS)

// ---- clip player ----
// clang-format off
#define ENGINES_CLIP_PLAYER_SLOTS(M, R)                                               \
    M(3, HRESULT, SetCallback, (ClipPlayerCallback callback, void* context))          \
    M(4, HRESULT, Initialize, (HWND owner, const RECT* rect))                         \
    M(5, HRESULT, SetDisplayMode, (DWORD mode))                                       \
    M(6, HRESULT, Open, (const char* path, LONGLONG start, LONGLONG end, DWORD flag)) \
    M(7, HRESULT, Close, ())                                                          \
    M(8, HRESULT, ShowVideo, (BOOL show))                                             \
    R(9) R(10) R(11)                                                                  \
    M(12, HRESULT, GetFileName, (char* buffer, DWORD bytes))                          \
    M(13, HRESULT, GetProperty13, (DWORD* height))                                    \
    M(14, HRESULT, GetProperty14, (DWORD* width))                                     \
    R(15)                                                                             \
    M(16, HRESULT, GetDuration, (LONGLONG* duration))                                 \
    M(17, HRESULT, GetProperty17, (LONGLONG* value))                                  \
    M(18, HRESULT, GetProperty18, (LONGLONG* value))                                  \
    M(19, HRESULT, GetProperty19, (DWORD* videoBitRate))                              \
    M(20, HRESULT, GetProperty20, (DWORD* value))                                     \
    M(21, HRESULT, GetProperty21, (LONGLONG* fileBytes))                              \
    R(22)                                                                             \
    M(23, HRESULT, GetMediaInfo, (DWORD* kind))                                       \
    M(24, HRESULT, GetFormatClass, (DWORD* formatClass))                              \
    M(25, HRESULT, GetProperty25, (DWORD* value))                                     \
    M(26, HRESULT, GetProperty26, (DWORD* value))                                     \
    M(27, HRESULT, GetProperty27, (DWORD* value))                                     \
    M(28, HRESULT, GetProperty28, (DWORD* audioChannelMode))                          \
    M(29, HRESULT, GetProperty29, (DWORD* audioBitRate))                              \
    M(30, HRESULT, GetProperty30, (DWORD* value))                                     \
    M(31, HRESULT, GetProperty31, (float* frameRate))                                 \
    M(32, HRESULT, GetProperty32, (DWORD* value))                                     \
    M(33, HRESULT, GetProperty33, (DWORD* value))                                     \
    R(34)                                                                             \
    M(35, HRESULT, GetProperty35, (DWORD* first, DWORD* second))                      \
    R(36) R(37)                                                                       \
    M(38, LONG, GetProperty38, ())                                                    \
    R(39)                                                                             \
    M(40, HRESULT, GetSelection, (DWORD* inOut, DWORD* frameStep))                    \
    M(41, HRESULT, SetOpenOption, (DWORD option))                                     \
    M(42, HRESULT, SetRate, (float rate))                                             \
    M(43, HRESULT, Pause, ())                                                         \
    M(44, HRESULT, Stop, ())                                                          \
    M(45, HRESULT, GetPosition, (LONGLONG* position))                                 \
    M(46, HRESULT, SetPlayRange, (LONGLONG from, LONGLONG to))                        \
    M(47, HRESULT, GetFrameBitmap, (HBITMAP* bitmap, LONGLONG position, DWORD mode))  \
    R(48) R(49) R(50) R(51) R(52)                                                     \
    M(53, HRESULT, GetSegmentCount, (DWORD* count))                                   \
    M(54, HRESULT, GetSegment, (DWORD index, BYTE* record))
// clang-format on
ENGINES_DEFINE_INTERFACE(IClipPlayer, ENGINES_CLIP_PLAYER_SLOTS)

// ---- DV capture engine ----
// clang-format off
#define ENGINES_SYSTEM_LAYER_DV_SLOTS(M, R)                                \
    M(3, HRESULT, Initialize, ())                                          \
    M(4, HRESULT, Uninitialize, ())                                        \
    M(5, HRESULT, EnumDevice, (DWORD index, char* name, DWORD bytes))      \
    M(6, HRESULT, OpenDevice, (const char* name))                          \
    M(7, HRESULT, Play, ())                                                \
    M(8, HRESULT, Pause, ())                                               \
    M(9, HRESULT, Stop, ())                                                \
    M(10, HRESULT, StartRecord, ())                                        \
    M(11, HRESULT, StopRecord, ())                                         \
    M(12, HRESULT, FastForward, ())                                        \
    M(13, HRESULT, Rewind, ())                                             \
    M(14, HRESULT, FastForwardPlay, ())                                    \
    M(15, HRESULT, RewindPlay, ())                                         \
    M(16, HRESULT, StepForward, ())                                        \
    M(17, HRESULT, StepBackward, ())                                       \
    M(18, HRESULT, EndSeek, ())                                            \
    M(19, HRESULT, SeekTimecode, (DWORD timecode))                         \
    M(20, HRESULT, Shuttle, (DWORD step))                                  \
    R(21) R(22)                                                            \
    M(23, HRESULT, QuickScanMark, ())                                      \
    R(24)                                                                  \
    M(25, HRESULT, StartBatchCapture, ())                                  \
    M(26, HRESULT, StopBatchCapture, (DWORD how))                          \
    R(27) R(28) R(29)                                                      \
    M(30, HRESULT, GetMediaStatus, (DWORD* hasTape, DWORD* status))        \
    R(31)                                                                  \
    M(32, HRESULT, AbortRecord, ())                                        \
    M(33, HRESULT, GetDeviceMode, (DWORD* mode))                           \
    M(34, HRESULT, GetTimecode, (DWORD* timecode))                         \
    R(35)                                                                  \
    M(36, HRESULT, SetTimeLimit, (DWORD timecode))                         \
    M(37, HRESULT, SetSizeLimit, (DWORD bytes))                            \
    R(38) R(39) R(40) R(41) R(42)                                          \
    M(43, HRESULT, SetPreviewWindow, (HWND window, const RECT* rect))      \
    R(44)                                                                  \
    M(45, HRESULT, SetEncoderType, (const engines::CaptureParams* params)) \
    M(46, HRESULT, SetCallback, (SystemLayerCallback callback))            \
    M(47, HRESULT, GetTransportMode, (DWORD* mode))                        \
    R(48)                                                                  \
    M(49, HRESULT, GetFrameRate, (float* rate))                            \
    R(50) R(51)                                                            \
    M(52, HRESULT, SetSeekOffset, (const float* seconds))                  \
    R(53)                                                                  \
    M(54, HRESULT, GetEncodeProgress, (DWORD* done, DWORD* total))         \
    R(55)                                                                  \
    M(56, HRESULT, SetOptions, (DWORD options))                            \
    R(57)                                                                  \
    M(58, HRESULT, StartQuickScan, (const char* path))                     \
    M(59, HRESULT, StopQuickScan, ())                                      \
    R(60) R(61) R(62)                                                      \
    M(63, HRESULT, AddBatchSegment, (const BYTE* record))
// clang-format on
ENGINES_DEFINE_INTERFACE(ISystemLayerDV, ENGINES_SYSTEM_LAYER_DV_SLOTS)

// ---- file conversion engine ----
// clang-format off
#define ENGINES_FILE_ENGINE_TIMELINE_SLOTS(M, R)                                                      \
    M(3, HRESULT, EnableUpdates, (BOOL enable))                                                       \
    R(4) R(5) R(6) R(7) R(8) R(9)                                                                     \
    M(10, HRESULT, Reset, ())                                                                         \
    R(11)                                                                                             \
    M(12, HRESULT, RemoveClips, (DWORD track, LONG index))                                            \
    R(13) R(14) R(15) R(16) R(17) R(18) R(19) R(20) R(21) R(22)                                       \
    M(23, HRESULT, AddClip, (DWORD track, DWORD number, const BYTE* record))                          \
    R(24)                                                                                             \
    M(25, HRESULT, GetClip, (DWORD track, DWORD index, BYTE* record))                                 \
    M(26, LONG, GetClipCount, (DWORD track))                                                          \
    R(27) R(28) R(29) R(30) R(31) R(32) R(33) R(34)                                                   \
    M(35, HRESULT, SetClipRange, (DWORD track, DWORD number, DWORD bound, LONGLONG time, float rate))
// clang-format on
ENGINES_DEFINE_INTERFACE(IFileEngineTimeline, ENGINES_FILE_ENGINE_TIMELINE_SLOTS)

// clang-format off
#define ENGINES_FILE_ENGINE_CONTROL_SLOTS(M, R)                                                  \
    M(3, HRESULT, SetNotifyWindow, (HWND window))                                                \
    R(4)                                                                                         \
    M(5, HRESULT, SetFrameRate, (DWORD framesPer100s))                                           \
    R(6)                                                                                         \
    M(7, HRESULT, SetPreviewWindow, (HWND window, LONG left, LONG top, LONG right, LONG bottom)) \
    M(8, HRESULT, Prepare, (DWORD a, DWORD b, DWORD c, DWORD d, DWORD e))                        \
    M(9, HRESULT, Close, ())                                                                     \
    M(10, HRESULT, EnablePreview, (BOOL enable))                                                 \
    M(11, HRESULT, Play, (float rate))                                                           \
    M(12, HRESULT, Pause, ())                                                                    \
    R(13)                                                                                        \
    M(14, HRESULT, GetDuration, (LONGLONG* duration))                                            \
    M(15, HRESULT, GetPosition, (LONGLONG* position))                                            \
    M(16, HRESULT, SetRange, (LONGLONG start, LONGLONG end, DWORD flag))                         \
    R(17) R(18) R(19) R(20) R(21) R(22) R(23)                                                    \
    M(24, HRESULT, SetPreviewDuringConvert, (BOOL preview))                                      \
    M(25, HRESULT, SetProfile, (const BYTE* profile))                                            \
    M(26, HRESULT, StartConvert, (DWORD a, DWORD b, DWORD c, DWORD d, DWORD e))                  \
    M(27, HRESULT, Abort, (DWORD how))                                                           \
    M(28, HRESULT, GetProgress, (float* fraction))
// clang-format on
ENGINES_DEFINE_INTERFACE(IFileEngineControl, ENGINES_FILE_ENGINE_CONTROL_SLOTS)

namespace engines {

// Notice codes of the DV capture engine's callback.
enum SystemLayerCode : UINT_PTR {
    WM_REC_START = 0x1789,
    WM_REC_FINISH = 0x178A,
    WM_DEVICE_CHANGED = 0x1792,
    WM_DEVICE_REMOVED = 0x1793,
    kSeekBegun = 0x1794,
    WM_DV_ERROR = 0x1795,
    kBatchFinished = 0x1799,
    kBatchEnded = 0x179A,
    WM_REC_FAILED = 0x179B,
    WM_NON_REALTIME_ENCODE = 0x179C,
    WM_NON_REALTIME_REC_FINISH = 0x179D,
    WM_POST_ENCODING_START = 0x179E,
    WM_REC_CLOCK_RESET = 0x179F,
    WM_REC_STOPPED_MSG = 0x17A0,
    WM_TAPE_END_IGNORE = 0x17A1,
    WM_QUICK_SCAN_SAMPLE = 0x17A2,
};

// What WM_DV_ERROR carries when a time-code seek ends: S_OK when the deck reached the time
// code; one of these when it cannot: the time code is not on the tape (the deck ran to an
// end of it), or the deck failed or did not get there in time. A seek ended by EndSeek is
// not noticed.
constexpr HRESULT kSeekNotOnTape = static_cast<HRESULT>(0x80040100);
constexpr HRESULT kSeekDeckFailed = static_cast<HRESULT>(0x80040102);

// Transport modes of GetTransportMode.
enum TransportMode : DWORD {
    kTransportPlay = 4296,
    kTransportStop = 4297,
    kTransportFreeze = 4298,
    kTransportWind = 4300,
    kTransportRewind = 4301,
    kTransportRecord = 4302,
};

}  // namespace engines
