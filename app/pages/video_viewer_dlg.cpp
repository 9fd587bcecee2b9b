#include "app/pages/video_viewer_dlg.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "app/resources/resource_ids.h"
#include "app/services/mixer.h"
#include "app/services/system_utils.h"
#include "app/services/text_fonts.h"
#include "app/services/tv_format.h"
#include "app/skin/skin_controls.h"
#include "app/skin/skin_edits.h"
#include "app/skin/skin_images.h"
#include "app/skin/skin_layout.h"
#include "app/skin/skin_sliders.h"
#include "app/skin/skin_volume.h"
#include "engines/client/engine_client.h"
#include "engines/interfaces.h"
#include "framework/app.h"

IMPLEMENT_DYNAMIC(CVideoViewerDlg, CDialog)

namespace {

constexpr const char* kView = "VideoViewerDlg";
// The skin view's size: controls whose top lies in its lowest band keep their distance
// from the bottom edge, and those in its right half their distance from the right edge.
constexpr int kViewWidth = 666, kViewHeight = 583;
constexpr int kBandTop = kViewHeight - CVideoViewerDlg::kMarginBottom;
constexpr double kSpeeds[] = {1.0, 2.0, 4.0, 8.0, 16.0};
constexpr int kSpeedCount = 5;
// The clip player's notices.
constexpr UINT kNoticeRangeEnd = 0x800B, kNoticeClipEnd = 0x80C8;
constexpr UINT kFailures[] = {0x80CF, 0x80D0, 0x80D1, 0x80D2, 0x80D3};
constexpr UINT kFailureStrings[] = {IDS_VIEWER_ABORTED, IDS_VIEWER_STREAM_ERROR, IDS_VIEWER_USER_ABORT,
                                    IDS_VIEWER_STILL_PLAYING, IDS_VIEWER_RUN_FAILED};
constexpr int kButtonIds[] = {7102, 7103, 7104, 7105, 7106, 7107, 7108, 7109, 7110, 7111, 7112, 7113, 7114};
constexpr const char* kButtonNames[] = {"IDC_BUTTON_STOP",
                                        "IDC_BUTTON_PLAY",
                                        "IDC_BUTTON_PAUSE",
                                        "IDC_BUTTON_FASTFORWARD",
                                        "IDC_BUTTON_MINUS",
                                        "IDC_BUTTON_PLUS",
                                        "IDC_VIDEOVIEWER_BUTTONVOLUME",
                                        "IDC_VIDEOVIEWER_BTN_MARKIN",
                                        "IDC_VIDEOVIEWER_BTN_MARKOUT",
                                        "IDC_VIDEOVIEWER_BTN_ENABLEMAGSLIDER",
                                        "IDC_VIDEOVIEWER_BTN_DISABLEMAGSLIDER",
                                        "IDC_VIDEOVIEWER_BTN_MAGNIFYUP",
                                        "IDC_VIDEOVIEWER_BTN_MAGNIFYDOWN"};
constexpr UINT kTimeEditId = 7117, kSliderId = 7118, kMagnifyId = 7119;

SkinControlBinding Row(const char* name, uint32_t id) {
    SkinControlBinding row{};
    std::snprintf(row.name, sizeof row.name, "%s", name);
    row.id = id;
    return row;
}

// The skin node of a control, for its place in the view; null when the skin lacks it.
SkinNode* NodeOf(const char* name, SkinKind kind) {
    return FindNodeInView(CSkinLayout::FindView(kView), kind, name);
}

bool MixerMuted(LONG* muted) {
    char device[260] = {};
    FindMixerDevice(kMixerHasSpeakers, device, sizeof device);
    return GetMixerMute(device, -1, muted) != 0;
}

}  // namespace

ViewerSizes ComputeViewerSizes(int videoWidth, int videoHeight, SIZE frame) {
    using V = CVideoViewerDlg;
    ViewerSizes sizes;
    const int width = V::kMarginLeft + videoWidth + V::kMarginRight + frame.cx;
    const int height = V::kMarginTop + videoHeight + V::kMarginBottom + frame.cy;
    sizes.clientWidth = std::clamp(width, int(V::kMinWidth), int(V::kMaxWidth)) - frame.cx;
    sizes.clientHeight = std::clamp(height, int(V::kMinHeight), int(V::kMaxHeight)) - frame.cy;
    sizes.video = ViewerVideoRect(sizes.clientWidth, sizes.clientHeight, videoWidth, videoHeight);
    return sizes;
}

RECT ViewerVideoRect(int clientWidth, int clientHeight, int videoWidth, int videoHeight) {
    using V = CVideoViewerDlg;
    RECT r{V::kMarginLeft, V::kMarginTop, clientWidth - V::kMarginRight, clientHeight - V::kMarginBottom};
    const int64_t w = std::max<int64_t>(r.right - r.left, 0), h = std::max<int64_t>(r.bottom - r.top, 0);
    if (videoWidth <= 0 || videoHeight <= 0 || w == 0 || h == 0) return r;
    if (w * videoHeight < h * videoWidth) {
        // Relatively taller: the height is cut, half the excess above and below.
        const int64_t cut = w * videoHeight / videoWidth;
        r.top += static_cast<LONG>((h - cut) >> 1);
        r.bottom = r.top + static_cast<LONG>(cut);
    } else {
        const int64_t cut = h * videoWidth / videoHeight;
        r.left += static_cast<LONG>((w - cut) >> 1);
        r.right = r.left + static_cast<LONG>(cut);
    }
    return r;
}

CVideoViewerDlg::CVideoViewerDlg(const char* path, int64_t start, int64_t end, CWnd* parent)
    : CDialog(IDD_VIDEO_VIEWER, parent), start_(start), end_(end), length_(end - start) {
    if (path) std::snprintf(path_, sizeof path_, "%s", path);
    if (GetSystemMetrics(SM_CYSCREEN) <= 600) videoWidth_ = 400, videoHeight_ = 300;
    for (int i = 0; i < kButtonCount; ++i)
        buttons_[i] = Row(kButtonNames[i], kButtonIds[i]);
    statics_[0] = Row("IDC_VIDEOVIEWER_STATIC_TIMEEDIT_BG", 7115);
    statics_[1] = Row("IDC_VIDEOVIEWER_STATIC_SPEED", 7116);
    timeEdit_[0] = Row("IDC_TIMEEDIT_VIDEOVIEWER", kTimeEditId);
    slider_[0] = Row("IDC_VIDEOVIEWER_SLIDER_PLAYBACK", kSliderId);
    magnify_[0] = Row("IDC_VIDEOVIEWER_MAGNIFYSLIDER", kMagnifyId);
}

CVideoViewerDlg::~CVideoViewerDlg() {
    if (m_hWnd) DestroyWindow();
    if (player_) player_->Release();
}

void CVideoViewerDlg::ShowModal(const char* path, int64_t start, int64_t end, uint32_t width, uint32_t height,
                                CWnd* parent) {
    CVideoViewerDlg viewer(path, start, end, parent);
    viewer.FitViewerToScreen(static_cast<int>(width), static_cast<int>(height));
    viewer.DoModal();
}

void CVideoViewerDlg::FitViewerToScreen(int width, int height) {
    int32_t w = videoWidth_, h = videoHeight_;
    ::FitViewerToScreen(&w, &h, width, height);
    videoWidth_ = w;
    videoHeight_ = h;
}

CGButton* CVideoViewerDlg::Button(int index) const {
    return static_cast<CGButton*>(buttons_[index].control);
}
CGSelectSlider* CVideoViewerDlg::Slider() const {
    return static_cast<CGSelectSlider*>(slider_[0].control);
}
CGTimeCodeEdit* CVideoViewerDlg::TimeEdit() const {
    return static_cast<CGTimeCodeEdit*>(timeEdit_[0].control);
}
CGStatic* CVideoViewerDlg::SpeedLabel() const {
    return static_cast<CGStatic*>(statics_[1].control);
}

int64_t CVideoViewerDlg::SliderPosition() const {
    int64_t p = start_;
    if (Slider()) Slider()->GetPos(&p);
    return p;
}
int64_t CVideoViewerDlg::TimeFieldTime() const {
    int64_t t = 0;
    if (TimeEdit()) TimeEdit()->GetTime(&t);
    return t;
}

void CVideoViewerDlg::ComputeSizes() {
    RECT window{}, client{};
    ::GetWindowRect(m_hWnd, &window);
    ::GetClientRect(m_hWnd, &client);
    frame_ = {(window.right - window.left) - client.right, (window.bottom - window.top) - client.bottom};
    const ViewerSizes sizes = ComputeViewerSizes(videoWidth_, videoHeight_, frame_);
    clientWidth_ = sizes.clientWidth;
    clientHeight_ = sizes.clientHeight;
    videoRect_ = sizes.video;
}

// The player is created, given the window and the picture's place and opened on the
// range; a clip it cannot open ends the viewer before anything shows.
bool CVideoViewerDlg::OpenPlayer() {
    if (FAILED(CreateClipPlayer(&player_)) || !player_) {
        player_ = nullptr;
        return false;
    }
    player_->Initialize(m_hWnd, &videoRect_);
    if (FAILED(player_->Open(path_, start_, end_, 0))) {
        player_->Close();
        return false;
    }
    player_->ShowVideo(TRUE);
    player_->SetPlayRange(start_, end_);
    player_->SetOpenOption(1);
    return true;
}

BOOL CVideoViewerDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    ComputeSizes();
    background_ = LoadSkinBitmap("VideoViewer_BG.jpg");
    HDC screen = ::GetDC(nullptr);
    backgroundDc_ = ::CreateCompatibleDC(screen);
    bufferDc_ = ::CreateCompatibleDC(screen);
    buffer_ = ::CreateCompatibleBitmap(screen, kMaxWidth, kMaxHeight);
    ::ReleaseDC(nullptr, screen);
    if (background_) {
        BITMAP info{};
        ::GetObjectW(background_, sizeof info, &info);
        backgroundSize_ = {info.bmWidth, info.bmHeight};
        oldBackground_ = ::SelectObject(backgroundDc_, background_);
    }
    if (buffer_) oldBuffer_ = ::SelectObject(bufferDc_, buffer_);
    if (!OpenPlayer()) {
        EndDialog(IDCANCEL);
        return FALSE;
    }

    if (auto* node = static_cast<SkinStaticNode*>(NodeOf("AUDIOTHUMBNAIL", SkinKind::Static)))
        audioThumbnail_ = LoadSkinNodeBackground(node->background.source.c_str(), 0, 0, node->width, node->height);
    if (SkinNode* node = NodeOf("SCREEN", SkinKind::Static))
        screenRect_ = {node->left, node->top, node->left + node->width, node->top + node->height};

    CreateSkinStatics(this, kView, statics_, 2, 1);
    CreateSkinButtons(this, kView, buttons_, kButtonCount, 1);
    CreateSkinSelectSliders(this, kView, slider_, 1);
    CreateSkinMagnifySliders(this, kView, magnify_, 1);
    CreateSkinTimeCodeEdits(this, kView, timeEdit_, 1);
    if (SpeedLabel()) {
        SpeedLabel()->SetFont(GetAppGuiFont(), FALSE);
        SpeedLabel()->SetText("");
        SpeedLabel()->ShowWindow(SW_HIDE);
    }
    ShowButton(kPause, false);
    if (CGSelectSlider* slider = Slider()) {
        slider->SetRegionCount(0);
        slider->SetRange64(start_, end_, TRUE);
    }
    if (magnify_[0].control) magnify_[0].control->ShowWindow(SW_HIDE);

    player_->GetMediaInfo(&mediaKind_);
    player_->SetDisplayMode(mediaKind_ == 2 ? 2 : 0);

    StopControlsState();
    for (int i = kMarkIn; i <= kMagDown; ++i)
        ShowButton(i, false);
    SetWindowPos(nullptr, 0, 0, clientWidth_ + frame_.cx, clientHeight_ + frame_.cy, SWP_NOMOVE | SWP_NOZORDER);
    Layout(clientWidth_, clientHeight_);
    if (Slider()) Slider()->SetPos(start_, FALSE);
    ShowTime(start_);

    CString title = AfxLoadString(IDS_VIEWER_TITLE);
    const char* name = std::max(std::strrchr(path_, '\\'), std::strrchr(path_, '/'));
    title += " - ";
    title += name ? name + 1 : path_;
    SetWindowText(title);
    if (TimeEdit()) TimeEdit()->SetMaximum(FormatTimeCode(length_, 0));

    if (mediaKind_ == 2) {
        for (int i = kStop; i <= kPlus; ++i)
            EnableButton(i, false);
        if (Slider()) {
            Slider()->EnableWindow(FALSE);
            Slider()->ShowThumb(FALSE);
        }
        if (TimeEdit()) {
            TimeEdit()->SetText("--:--:--:--");
            TimeEdit()->SetReadOnly(TRUE);
        }
    }
    CenterWindow();
    ShowWindow(SW_SHOW);
    LONG muted = 0;
    if (MixerMuted(&muted) && Button(kVolume)) Button(kVolume)->SetCheck(muted ? 1 : 0);
    // The keys act from the start: the focus is the dialog's, not the first control's.
    ::SetFocus(m_hWnd);
    return FALSE;
}

BOOL CVideoViewerDlg::DestroyWindow() {
    KillTimer();
    RestoreAwake();
    if (player_) {
        player_->Stop();
        player_->Close();
        player_->Release();
        player_ = nullptr;
    }
    DestroySkinButtons(buttons_, kButtonCount);
    DestroySkinStatics(kView, statics_, 2);
    DestroySkinTimeCodeEdits(kView, timeEdit_, 1);
    DestroySkinSelectSliders(kView, slider_, 1);
    DestroySkinMagnifySliders(kView, magnify_, 1);
    if (backgroundDc_) {
        if (oldBackground_) ::SelectObject(backgroundDc_, oldBackground_);
        ::DeleteDC(backgroundDc_);
        backgroundDc_ = nullptr;
    }
    if (bufferDc_) {
        if (oldBuffer_) ::SelectObject(bufferDc_, oldBuffer_);
        ::DeleteDC(bufferDc_);
        bufferDc_ = nullptr;
    }
    for (HBITMAP* b : {&background_, &buffer_, &audioThumbnail_}) {
        if (*b) ::DeleteObject(*b);
        *b = nullptr;
    }
    return CDialog::DestroyWindow();
}

// The back buffer: the ground colour, then the background art's corners at the client
// area's corners and its 6-pixel strips repeated along the edges between them.
void CVideoViewerDlg::ComposeBackground(int cw, int ch) {
    if (!bufferDc_ || !buffer_) return;
    HBRUSH ground = ::CreateSolidBrush(RGB(4, 0, 0));
    RECT all{0, 0, cw, ch};
    ::FillRect(bufferDc_, &all, ground);
    ::DeleteObject(ground);
    if (!background_) return;
    const int bw = backgroundSize_.cx, bh = backgroundSize_.cy;
    const auto copy = [&](int x, int y, int w, int h, int sx, int sy) {
        w = std::min(w, bw - sx), h = std::min(h, bh - sy);
        if (w > 0 && h > 0 && sx >= 0 && sy >= 0) ::BitBlt(bufferDc_, x, y, w, h, backgroundDc_, sx, sy, SRCCOPY);
    };
    const int leftW = std::min(40, bw), rightW = std::min(120, bw), topH = std::min(85, bh),
              bottomH = std::min(272, bh);
    for (int x = leftW; x < cw - rightW; x += 6) {
        copy(x, 0, std::min(6, cw - rightW - x), topH, std::min(40, bw - 6), 0);
        copy(x, ch - bottomH, std::min(6, cw - rightW - x), bottomH, std::min(40, bw - 6), bh - bottomH);
    }
    for (int y = topH; y < ch - bottomH; y += 6) {
        copy(0, y, leftW, std::min(6, ch - bottomH - y), 0, std::min(85, bh - 6));
        copy(cw - rightW, y, rightW, std::min(6, ch - bottomH - y), bw - rightW, std::min(85, bh - 6));
    }
    copy(0, 0, leftW, topH, 0, 0);
    copy(cw - rightW, 0, rightW, topH, bw - rightW, 0);
    copy(0, ch - bottomH, leftW, bottomH, 0, bh - bottomH);
    copy(cw - rightW, ch - bottomH, rightW, bottomH, bw - rightW, bh - bottomH);
}

void CVideoViewerDlg::Layout(int cw, int ch) {
    if (cw <= 0 || ch <= 0) return;
    clientWidth_ = cw;
    clientHeight_ = ch;
    videoRect_ = ViewerVideoRect(cw, ch, videoWidth_, videoHeight_);
    ComposeBackground(cw, ch);
    // Controls of the bottom band keep their distance from the bottom edge; the others
    // keep their place.
    const auto place = [&](SkinControlBinding* rows, int count, SkinKind kind) {
        for (int i = 0; i < count; ++i) {
            SkinNode* node = NodeOf(rows[i].name, kind);
            CWnd* control = rows[i].control;
            if (!node || !control || !control->m_hWnd) continue;
            const int y = node->top >= kBandTop ? ch - (kViewHeight - node->top) : node->top;
            const int x = node->left >= kViewWidth / 2 ? cw - (kViewWidth - node->left) : node->left;
            if (kind == SkinKind::SelectSlider) {
                static_cast<CGSelectSlider*>(control)->MoveTo(x, y, node->width, node->height);
            } else if (kind == SkinKind::MagnifySlider) {
                static_cast<CGMagnifySlider*>(control)->MoveTo(x, y, node->width, node->height);
            } else {
                ::SetWindowPos(control->m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
            }
        }
    };
    place(buttons_, kButtonCount, SkinKind::Button);
    place(statics_, 2, SkinKind::Static);
    place(timeEdit_, 1, SkinKind::SpinTimeEdit);
    place(slider_, 1, SkinKind::SelectSlider);
    place(magnify_, 1, SkinKind::MagnifySlider);
    UpdateSpeedLabel();
    if (player_) player_->Initialize(m_hWnd, &videoRect_);
}

void CVideoViewerDlg::Paint() {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(m_hWnd, &ps);
    // Around the picture only: the picture is the clip player's.
    const int saved = ::SaveDC(dc);
    if (mediaKind_ != 3) ::ExcludeClipRect(dc, videoRect_.left, videoRect_.top, videoRect_.right, videoRect_.bottom);
    ::BitBlt(dc, 0, 0, clientWidth_, clientHeight_, bufferDc_, 0, 0, SRCCOPY);
    ::RestoreDC(dc, saved);
    if (mediaKind_ == 3 && audioThumbnail_) {
        BITMAP info{};
        ::GetObjectW(audioThumbnail_, sizeof info, &info);
        HDC source = ::CreateCompatibleDC(dc);
        HGDIOBJ old = ::SelectObject(source, audioThumbnail_);
        ::StretchBlt(dc, videoRect_.left, videoRect_.top, videoRect_.right - videoRect_.left,
                     videoRect_.bottom - videoRect_.top, source, 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
        ::SelectObject(source, old);
        ::DeleteDC(source);
    }
    ::EndPaint(m_hWnd, &ps);
}

// ---- transport ----

void CVideoViewerDlg::ShowTime(int64_t position) {
    if (TimeEdit()) TimeEdit()->SetTime(position - start_);
    if (Slider()) Slider()->SetPos(position, FALSE);
}

// The play range from `position` to the end; a position at the clip's very end starts 80 ms
// before it, so that a picture shows. Nothing happens while the duration is unknown.
bool CVideoViewerDlg::Seek(int64_t position, int64_t* used) {
    LONGLONG duration = 0;
    if (!player_ || FAILED(player_->GetDuration(&duration)) || duration == 0) return false;
    const int64_t q = position == duration ? duration - 800000 : position;
    if (FAILED(player_->SetPlayRange(q, end_))) return false;
    if (used) *used = q;
    return true;
}

void CVideoViewerDlg::SetLatch(int index, bool on) {
    if (Button(index)) Button(index)->SetCheck(on ? 1 : 0);
}
bool CVideoViewerDlg::Latched(int index) const {
    return Button(index) && Button(index)->IsChecked();
}
void CVideoViewerDlg::ShowButton(int index, bool show) {
    if (Button(index)) Button(index)->ShowWindow(show ? SW_SHOW : SW_HIDE);
}
void CVideoViewerDlg::EnableButton(int index, bool on) {
    if (Button(index)) Button(index)->EnableWindow(on ? TRUE : FALSE);
}
bool CVideoViewerDlg::Usable(int index) const {
    CGButton* b = Button(index);
    return b && ::IsWindowEnabled(b->m_hWnd) && ::IsWindowVisible(b->m_hWnd);
}

void CVideoViewerDlg::NormalSpeed() {
    speedIndex_ = 0;
    rate_ = 1.0;
    if (SpeedLabel()) SpeedLabel()->ShowWindow(SW_HIDE);
}

void CVideoViewerDlg::UpdateSpeedLabel() {
    CGStatic* label = SpeedLabel();
    if (!label) return;
    if (speedIndex_ == 0) {
        label->ShowWindow(SW_HIDE);
        return;
    }
    char text[16];
    std::snprintf(text, sizeof text, "%dX", static_cast<int>(rate_));
    label->SetText(text);
    label->ShowWindow(SW_SHOW);
}

// While a clip plays the screen saver and power saving stay off; both are nested in the
// services, so one restore balances one keep-awake.
void CVideoViewerDlg::KeepAwake() {
    if (awake_) return;
    awake_ = true;
    DisableScreenSaver();
    SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED);
    DisablePowerSaving();
}
void CVideoViewerDlg::RestoreAwake() {
    if (!awake_) return;
    awake_ = false;
    RestoreScreenSaver();
    SetThreadExecutionState(ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED);
    SetThreadExecutionState(ES_CONTINUOUS);
    RestorePowerScheme();
}

void CVideoViewerDlg::StartTimer() {
    KillTimer();
    timer_ = ::SetTimer(m_hWnd, kTimerId, kTimerMs, nullptr);
}
void CVideoViewerDlg::KillTimer() {
    if (timer_) ::KillTimer(m_hWnd, kTimerId);
    timer_ = 0;
}

void CVideoViewerDlg::StopControlsState() {
    SetLatch(kPlay, false);
    SetLatch(kPause, false);
    for (int i : {kFastForward, kStop, kPlay, kMinus, kPlus})
        EnableButton(i, true);
    ShowButton(kPause, false);
    ShowButton(kPlay, true);
}

void CVideoViewerDlg::Play() {
    if (!player_ || mediaKind_ == 2) return;
    std::fill(std::begin(failureArmed_), std::end(failureArmed_), true);
    NormalSpeed();
    KeepAwake();
    ticks_ = 0;
    playState_ = 2;
    SetLatch(kPlay, true);
    for (int i : {kFastForward, kStop, kPlay})
        EnableButton(i, true);
    SetLatch(kPause, false);
    ShowButton(kPlay, false);
    ShowButton(kPause, true);
    LONGLONG p = 0;
    player_->GetPosition(&p);
    if (p >= end_) {
        Stop();
        return;
    }
    player_->SetPlayRange(p, end_);
    player_->SetRate(1.0f);
    StartTimer();
}

void CVideoViewerDlg::Pause() {
    RestoreAwake();
    playState_ = 1;
    NormalSpeed();
    if (!Latched(kPlay) || !player_) return;
    ticks_ = 0;
    KillTimer();
    player_->Pause();
    SetLatch(kPause, true);
    ShowButton(kPause, false);
    SetLatch(kPlay, false);
    ShowButton(kPlay, true);
    for (int i : {kFastForward, kMinus, kPlus})
        EnableButton(i, true);
}

void CVideoViewerDlg::Stop() {
    playState_ = 1;
    StopControlsState();
    NormalSpeed();
    RestoreAwake();
    ticks_ = 0;
    if (player_) {
        player_->Pause();
        player_->SetPlayRange(start_, end_);
    }
    KillTimer();
    ShowTime(start_);
}

void CVideoViewerDlg::FastForward() {
    if (!player_ || mediaKind_ == 2) return;
    std::fill(std::begin(failureArmed_), std::end(failureArmed_), true);
    KeepAwake();
    speedIndex_ = (speedIndex_ + 1) % kSpeedCount;
    playState_ = 2;
    rate_ = kSpeeds[speedIndex_];
    SetLatch(kPlay, false);
    for (int i : {kFastForward, kStop, kPlay})
        EnableButton(i, true);
    const bool fast = rate_ > 1.0;
    SetLatch(kPlay, !fast);
    ShowButton(kPlay, fast);
    SetLatch(kPause, fast);
    ShowButton(kPause, !fast);
    player_->SetRate(static_cast<float>(rate_));
    StartTimer();
    ticks_ = 0;
    UpdateSpeedLabel();
}

void CVideoViewerDlg::FrameStep(bool forward) {
    std::fill(std::begin(failureArmed_), std::end(failureArmed_), true);
    Pause();
    NormalSpeed();
    playState_ = 1;
    const int64_t frame = FramesToTime(1);
    int64_t p = SliderPosition();
    if (forward && p < end_) p = std::min(p + frame, end_);
    if (!forward && p > start_) p = std::max(p - frame, start_);
    ShowTime(p);
    if (player_) player_->SetPlayRange(p, end_);
}

void CVideoViewerDlg::Poll() {
    if (!player_) return;
    LONGLONG d = 0, p = 0;
    player_->GetDuration(&d);
    player_->GetPosition(&p);
    if (p < d) {
        ShowTime(p);
    } else {
        Stop();
    }
    CGStatic* label = SpeedLabel();
    if (!label) return;
    if (ticks_ >= 30) {
        label->ShowWindow(SW_HIDE);
    } else {
        if (!::IsWindowVisible(label->m_hWnd) && rate_ != 1.0) label->ShowWindow(SW_SHOW);
        ++ticks_;
    }
}

void CVideoViewerDlg::OnScroll(int code) {
    ticks_ = 0;
    if (playState_ == 2 && (code == TB_THUMBTRACK || code == TB_THUMBPOSITION)) {
        savedSpeed_ = speedIndex_;
        resumePending_ = true;
        const bool normal = Latched(kPlay);
        playState_ = 1;
        NormalSpeed();
        if (normal && player_) {
            KillTimer();
            player_->Pause();
        }
    }
    if (code == SB_GSELECTION_DRAG && playState_ == 2) Stop();
    if (code == TB_ENDTRACK && playState_ == 2 && !resumePending_) {
        savedSpeed_ = speedIndex_;
        resumePending_ = true;
    }
    const int64_t p = SliderPosition();
    ShowTime(p);
    int64_t used = p;
    if (Seek(p, &used)) ShowTime(used);
    if (code == TB_ENDTRACK && resumePending_) {
        resumePending_ = false;
        speedIndex_ = savedSpeed_;
        rate_ = kSpeeds[speedIndex_];
        playState_ = 2;
        if (player_) player_->SetRate(static_cast<float>(rate_));
        StartTimer();
        UpdateSpeedLabel();
    }
}

void CVideoViewerDlg::SlideTo(int64_t position) {
    if (!Slider()) return;
    Slider()->SetPos(std::clamp(position, start_, end_), FALSE);
    OnScroll(TB_THUMBPOSITION);
    OnScroll(TB_ENDTRACK);
}

void CVideoViewerDlg::TypeTime(int64_t time) {
    if (!TimeEdit() || mediaKind_ == 2) return;
    if (time == SliderPosition() - start_) return;
    ticks_ = 0;
    if (start_ + time > end_) time = end_ - start_;
    time = std::max<int64_t>(time, 0);
    TimeEdit()->SetTime(time);
    if (Slider()) Slider()->SetPos(start_ + time, FALSE);
    Seek(start_ + time, nullptr);
}

void CVideoViewerDlg::OnEndNotice() {
    if (player_) player_->SetPlayRange(start_, end_);
    if (Slider()) Slider()->EnableWindow(TRUE);
    Seek(start_, nullptr);
    ShowTime(start_);
    StopControlsState();
    NormalSpeed();
    playState_ = 1;
    KillTimer();
    RestoreAwake();
}

void CVideoViewerDlg::OnFailure(int index, UINT stringId) {
    if (!failureArmed_[index]) return;
    failureArmed_[index] = false;
    Stop();
    AfxMessageBox(stringId, MB_OK | MB_ICONEXCLAMATION);
}

void CVideoViewerDlg::OnVolume() {
    LONG muted = 0;
    if (MixerMuted(&muted)) SetLatch(kVolume, muted != 0);
    CGVolumeControl popup(this);
    popup.DoModal();
    if (MixerMuted(&muted)) SetLatch(kVolume, muted != 0);
    popup.DestroyWindow();
}

// Keys outside the time field; every key press is consumed, so Esc and Enter never close
// the viewer.
bool CVideoViewerDlg::OnKey(const MSG& msg) {
    const bool ctrl = (::GetKeyState(VK_CONTROL) & 0x8000) != 0;
    const auto sliderUsable = [&] {
        return Slider() && ::IsWindowEnabled(Slider()->m_hWnd) && ::IsWindowVisible(Slider()->m_hWnd);
    };
    switch (msg.wParam) {
        case VK_ESCAPE:
            if (Latched(kPlay) && !Latched(kPause) && Usable(kStop)) SetLatch(kStop, true), Stop();
            break;
        case VK_SPACE:
            if (Latched(kPlay) && !Latched(kPause) && Usable(kPause)) {
                SetLatch(kPause, true), Pause();
            } else if (Usable(kPlay)) {
                SetLatch(kPlay, true), Play();
            }
            break;
        case VK_DIVIDE:
        case VK_OEM_2:
            if (ctrl && Usable(kStop)) Stop();
            break;
        case 'F':
            if (Usable(kFastForward)) FastForward();
            break;
        case VK_HOME:
        case VK_END:
            if (sliderUsable()) {
                Pause();
                if (::GetFocus() != Slider()->m_hWnd) {
                    Slider()->SetPos(msg.wParam == VK_HOME ? start_ : end_, FALSE);
                    Slider()->SendMessage(msg.message, msg.wParam, msg.lParam);
                }
            }
            break;
        case VK_OEM_COMMA:
            if (Usable(kMinus)) FrameStep(false);
            break;
        case VK_OEM_PERIOD:
            if (Usable(kPlus)) FrameStep(true);
            break;
        case VK_BACK:
            if (ctrl) {
                char device[260] = {};
                LONG muted = 0;
                if (FindMixerDevice(kMixerHasSpeakers, device, sizeof device) == S_OK &&
                    GetMixerMute(device, -1, &muted)) {
                    SetMixerMute(device, -1, muted ? 0 : 1);
                    SetLatch(kVolume, !muted);
                }
            }
            break;
        case VK_PRIOR:
        case VK_NEXT:
            Pause();
            if (sliderUsable()) {
                const int64_t p = SliderPosition() + (msg.wParam == VK_PRIOR ? -10000000 : 10000000);
                Slider()->SetPos(std::clamp(p, start_, end_), FALSE);
                OnScroll(TB_THUMBPOSITION);
            }
            break;
        case VK_OEM_4:
        case VK_OEM_6:
            Pause();
            break;
        case 'G':
            if (ctrl && TimeEdit() && ::IsWindowEnabled(TimeEdit()->m_hWnd) && ::IsWindowVisible(TimeEdit()->m_hWnd))
                TypeTime(TimeFieldTime());
            break;
        case 'U':
            if (ctrl) OnVolume();
            break;
        default:
            break;
    }
    ::SetFocus(m_hWnd);
    return true;
}

BOOL CVideoViewerDlg::PreTranslateMessage(MSG* msg) {
    if (msg->message == WM_KEYDOWN && m_hWnd && (msg->hwnd == m_hWnd || ::IsChild(m_hWnd, msg->hwnd))) {
        HWND focus = ::GetFocus();
        const bool inTimeEdit =
            TimeEdit() && focus && (focus == TimeEdit()->m_hWnd || ::IsChild(TimeEdit()->m_hWnd, focus));
        if (!inTimeEdit) return OnKey(*msg) ? TRUE : FALSE;
    }
    return CDialog::PreTranslateMessage(msg);
}

LRESULT CVideoViewerDlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    for (int i = 0; i < 5; ++i) {
        if (message == kFailures[i]) {
            OnFailure(i, kFailureStrings[i]);
            return 0;
        }
    }
    switch (message) {
        case kNoticeRangeEnd:
        case kNoticeClipEnd:
            OnEndNotice();
            return 0;
        case WM_COMMAND: {
            const UINT id = LOWORD(wParam);
            if (id == kTimeEditId && HIWORD(wParam) == EN_KILLFOCUS) {
                TypeTime(TimeFieldTime());
                return 0;
            }
            if (HIWORD(wParam) != BN_CLICKED) break;
            switch (id) {
                case 7103:
                    if (Latched(kPlay)) Play();
                    return 0;
                case 7104:
                    if (Latched(kPlay)) Pause();
                    return 0;
                case 7102:
                    Stop();
                    return 0;
                case 7105:
                    FastForward();
                    return 0;
                case 7106:
                    FrameStep(false);
                    return 0;
                case 7107:
                    FrameStep(true);
                    return 0;
                case 7108:
                    OnVolume();
                    return 0;
                case IDOK:
                case IDCANCEL:
                    return 0;  // Enter and Esc do not close the viewer
                default:
                    break;
            }
            break;
        }
        case WM_GTIMEEDIT_ENTER:
            TypeTime(TimeFieldTime());
            return 0;
        case WM_GVOLUME_MUTE:
            SetLatch(kVolume, wParam != 0);
            return 0;
        case WM_HSCROLL:
            if (Slider() && reinterpret_cast<HWND>(lParam) == Slider()->m_hWnd) OnScroll(LOWORD(wParam));
            return 0;
        case WM_TIMER:
            Poll();
            return 0;
        case WM_PAINT:
            Paint();
            return 0;
        case WM_ERASEBKGND:
            return 1;
        case WM_GETMINMAXINFO: {
            auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
            info->ptMinTrackSize = {kMinWidth, kMinHeight};
            info->ptMaxTrackSize = {kMaxWidth, kMaxHeight};
            return 0;
        }
        case WM_SIZE:
            if (wParam != SIZE_MINIMIZED && buffer_) {
                ::InvalidateRect(m_hWnd, nullptr, FALSE);
                Layout(LOWORD(lParam), HIWORD(lParam));
            }
            return 0;
        case WM_DISPLAYCHANGE:
            for (SkinControlBinding* row : {&slider_[0], &magnify_[0]}) {
                if (!row->control) continue;
                SkinNode* node =
                    NodeOf(row->name, row == &slider_[0] ? SkinKind::SelectSlider : SkinKind::MagnifySlider);
                if (node) {
                    ReleaseSkinNodeImages(node);
                    AcquireSkinNodeImages(node);
                }
                RECT r{};
                ::GetWindowRect(row->control->m_hWnd, &r);
                ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
                ::MoveWindow(row->control->m_hWnd, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
            }
            return 0;
        // The dialog keeps the focus itself, so that its keys reach the table above: the
        // dialog manager would hand it on to the first control (the time field, which takes
        // every key for itself), on activation and whenever the dialog is given the focus.
        case WM_SETFOCUS:
            return 0;
        case WM_ACTIVATE:
            if (LOWORD(wParam) != WA_INACTIVE && !HIWORD(wParam)) ::SetFocus(m_hWnd);
            return 0;
        case WM_LBUTTONDOWN:
            ::ReleaseCapture();
            ::SendMessageW(m_hWnd, WM_NCLBUTTONDOWN, HTCAPTION, 0);
            return 0;
        default:
            break;
    }
    return CDialog::WindowProc(message, wParam, lParam);
}
