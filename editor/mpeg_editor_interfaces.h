// The editing component's COM surface as its hosts see it: the class, its three
// interfaces, the host's output-stream interface and the host-side function types.
//
// Every 64-bit time or size crosses the interfaces as two 32-bit halves, low half first;
// times are in 100-ns units. A time of all ones in both halves means "none" (for an in
// point: from the clip's start; for an out point: to its end). Paths are ANSI strings of
// at most 259 characters.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <mmreg.h>

// {4D3A5A43-DC49-4A8B-85DE-53E7C9885497}
inline constexpr CLSID CLSID_MpegEditor = {
    0x4d3a5a43, 0xdc49, 0x4a8b, {0x85, 0xde, 0x53, 0xe7, 0xc9, 0x88, 0x54, 0x97}};
inline constexpr wchar_t kMpegEditorName[] = L"Corvane Mpeg Editor";
// {02A119EC-5D78-4666-A874-6B754214AA90}
inline constexpr IID IID_IMpegEditor = {0x02a119ec, 0x5d78, 0x4666, {0xa8, 0x74, 0x6b, 0x75, 0x42, 0x14, 0xaa, 0x90}};
// {12AFC24F-49F5-4599-9D3F-C0204FC198CF}
inline constexpr IID IID_IMpegEditor2 = {0x12afc24f, 0x49f5, 0x4599, {0x9d, 0x3f, 0xc0, 0x20, 0x4f, 0xc1, 0x98, 0xcf}};
// {BF2746E5-13B4-4EF3-9879-D702FD1DC497}
inline constexpr IID IID_IMpegEditorAudio = {
    0xbf2746e5, 0x13b4, 0x4ef3, {0x98, 0x79, 0xd7, 0x02, 0xfd, 0x1d, 0xc4, 0x97}};
// {C684D349-5B46-418C-B450-3E8C263EED66}
inline constexpr IID IID_IMpegEditorHost = {
    0xc684d349, 0x5b46, 0x418c, {0xb4, 0x50, 0x3e, 0x8c, 0x26, 0x3e, 0xed, 0x66}};

// Status of a finished run.
enum MpegEditorStatus : int { kEditDone = 0, kEditStopped = 2, kEditFailed = 3 };
// Output types of Initialize: 1 MPEG-1, 2 MPEG-2, 3 VCD, 4 SVCD. Audio types: 1 and 2
// MPEG audio, 3 AC-3, 4 LPCM (48,000 or 96,000 samples per second).

// Called once when a run ends, on a worker thread of the component.
using EditDoneProc = void(CALLBACK*)(int status, void* user);
// Asks the host to render one segment between two times; 0 aborts the job.
using SegmentProc = BOOL(CALLBACK*)(DWORD inLow, LONG inHigh, DWORD outLow, LONG outHigh, void* user);
// The host pushes rendered data of the current segment; length 0 ends the segment.
using SinkProc = BOOL(CALLBACK*)(DWORD timeLow, LONG timeHigh, const BYTE* data, LONG length, void* context);
// Receives each block of the joined stream (end 0), then once (null, 0, end 1); 0 aborts.
using OutputProc = BOOL(CALLBACK*)(const BYTE* data, LONG length, BOOL end, void* user);

// The host's output stream object.
struct IMpegEditorHost : public IUnknown {
    // The job was stopped.
    virtual HRESULT STDMETHODCALLTYPE Abort() = 0;
    // A failure aborts the run.
    virtual HRESULT STDMETHODCALLTYPE Write(const BYTE* data, LONG length, LONG* written) = 0;
};

struct IMpegEditor : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetMaxClips(LONG count) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddClip(LPCSTR path, DWORD inLow, LONG inHigh, DWORD outLow, LONG outHigh,
                                              BOOL fromFile) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetVideoSink(SinkProc* proc, void** context) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAudioSink(SinkProc* proc, void** context) = 0;
    virtual HRESULT STDMETHODCALLTYPE Initialize(LONG outputType, LONG audioType) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetVideoRate(LONG bitsPerSecond) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetAudioRate(LONG bitsPerSecond) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetEngineValue(LONG value) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetOutputFileName(LPCSTR path) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetOutputCallback(OutputProc proc, void* user) = 0;
    virtual HRESULT STDMETHODCALLTYPE Start(EditDoneProc proc, void* user) = 0;
    virtual HRESULT STDMETHODCALLTYPE Pause() = 0;
    virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSegmentCallback(SegmentProc proc, void* user) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetProgress(LONGLONG* current, LONGLONG* total) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFileType(LPCSTR path, LONG* type) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindTime(LPCSTR path, DWORD timeLow, LONG timeHigh, LONG mode,
                                               LONGLONG* found) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSplitSize(DWORD sizeLow, LONG sizeHigh) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetOutputFileCount(LONG* count) = 0;
    // `buffer` holds 260 characters.
    virtual HRESULT STDMETHODCALLTYPE GetOutputFileName(LONG index, LPSTR buffer) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetOutputStream(IUnknown* object) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetOption(LONG videoOnly) = 0;
};

struct IMpegEditor2 : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetMaxVideoClips(LONG count) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetMaxAudioClips(LONG count) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddVideoClip(LPCSTR path, DWORD inLow, LONG inHigh, DWORD outLow, LONG outHigh,
                                                   BOOL fromFile) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddAudioClip(LPCSTR path, DWORD inLow, LONG inHigh, DWORD outLow, LONG outHigh,
                                                   BOOL fromFile, DWORD skipLow, LONG skipHigh) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetVideoSegmentCallback(SegmentProc proc, void* user) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetAudioSegmentCallback(SegmentProc proc, void* user) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetVideoSink(SinkProc* proc, void** context) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAudioSink(SinkProc* proc, void** context) = 0;
    virtual HRESULT STDMETHODCALLTYPE Initialize(LONG outputType, LONG audioType) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetVideoRate(LONG bitsPerSecond) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetAudioRate(LONG bitsPerSecond) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetEngineValue(LONG value) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetOutputFileName(LPCSTR path) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetOutputCallback(OutputProc proc, void* user) = 0;
    virtual HRESULT STDMETHODCALLTYPE Start(EditDoneProc proc, void* user) = 0;
    virtual HRESULT STDMETHODCALLTYPE Pause() = 0;
    virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetProgress(LONGLONG* current, LONGLONG* total) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFileType(LPCSTR path, LONG* type) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindTime(LPCSTR path, DWORD timeLow, LONG timeHigh, LONG mode, LONGLONG* found,
                                               DWORD knownLow, LONG knownHigh) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindOffset(LPCSTR path, DWORD timeLow, LONG timeHigh, LONG mode, LONGLONG* found,
                                                 DWORD knownLow, LONG knownHigh) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSplitSize(DWORD sizeLow, LONG sizeHigh) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetOutputFileCount(LONG* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetOutputFileName(LONG index, LPSTR buffer) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetOutputStream(IUnknown* object) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetOption(LONG videoOnly) = 0;
    virtual HRESULT STDMETHODCALLTYPE ProbeClip(LPCSTR path, LONGLONG* duration, LONG videoOnly) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetClearProgressiveSequence(LONG on) = 0;
};

struct IMpegEditorAudio : public IUnknown {
    // An 18-byte WAVEFORMATEX record (cbSize included).
    virtual HRESULT STDMETHODCALLTYPE SetAudioFormat(const WAVEFORMATEX* format) = 0;
};
