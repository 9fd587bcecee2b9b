#include "app/profiles/profile_dialog_support.h"

#include <commctrl.h>

#include <cstdio>

#include "app/resources/resource_ids.h"
#include "engines/client/engine_client.h"
#include "framework/app.h"

namespace profiles {

std::string LoadText(uint32_t id) {
    return std::string(static_cast<const char*>(AfxLoadString(id)));
}

std::string DlgText(HWND dialog, int id) {
    HWND item = ::GetDlgItem(dialog, id);
    const int length = ::GetWindowTextLengthA(item);
    std::string text(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
    const int got = ::GetWindowTextA(item, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<size_t>(got > 0 ? got : 0));
    return text;
}

void SetDlgText(HWND dialog, int id, const std::string& text) {
    ::SetDlgItemTextA(dialog, id, text.c_str());
}

std::string ForEdit(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out.push_back('\r');
        out.push_back(text[i]);
    }
    return out;
}

void EnableDlgItem(HWND dialog, int id, bool enable) {
    ::EnableWindow(::GetDlgItem(dialog, id), enable);
}

void ShowDlgItem(HWND dialog, int id, bool show) {
    ::ShowWindow(::GetDlgItem(dialog, id), show ? SW_SHOW : SW_HIDE);
}

void FillCombo(HWND dialog, int id, const std::vector<std::string>& texts, int selected) {
    ::SendDlgItemMessageA(dialog, id, CB_RESETCONTENT, 0, 0);
    for (const std::string& t : texts)
        ::SendDlgItemMessageA(dialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(t.c_str()));
    ::SendDlgItemMessageA(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

int ComboSelection(HWND dialog, int id) {
    return static_cast<int>(::SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0));
}

std::string ComboText(HWND dialog, int id) {
    const int sel = ComboSelection(dialog, id);
    if (sel < 0) return "";
    const LRESULT length = ::SendDlgItemMessageA(dialog, id, CB_GETLBTEXTLEN, static_cast<WPARAM>(sel), 0);
    if (length <= 0) return "";
    std::string text(static_cast<size_t>(length) + 1, '\0');
    ::SendDlgItemMessageA(dialog, id, CB_GETLBTEXT, static_cast<WPARAM>(sel), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(length));
    return text;
}

void ReportStoreFailure(CWnd* owner, CProfileManager& store, ProfileStatus status) {
    const UINT reason = status == kProfileFileFull  ? IDS_PROFILE_FILE_TOO_LARGE
                        : status == kProfileBadName ? IDS_PROFILE_NAME_TOO_LONG
                                                    : IDS_PROFILE_FILE_UNUSABLE;
    CString text;
    text.FormatId(IDS_PROFILE_NOT_SAVED, store.ProfilePath().c_str(), static_cast<const char*>(AfxLoadString(reason)));
    MessageBoxRequest request;
    request.text = text;
    request.type = MB_OK | MB_ICONEXCLAMATION;
    request.owner = owner ? owner->GetSafeHwnd() : nullptr;
    AfxShowMessageBox(request);
}

bool CProfilePropertyList::CreateOver(CWnd* parent, int placeholderId) {
    HWND placeholder = ::GetDlgItem(parent->GetSafeHwnd(), placeholderId);
    if (!placeholder) return false;
    RECT r;
    ::GetWindowRect(placeholder, &r);
    ::MapWindowPoints(nullptr, parent->GetSafeHwnd(), reinterpret_cast<POINT*>(&r), 2);
    ::ShowWindow(placeholder, SW_HIDE);
    if (!Create(WS_CHILD | WS_VISIBLE | WS_BORDER | LVS_REPORT | LVS_NOSORTHEADER | LVS_SINGLESEL, r, parent,
                static_cast<UINT>(placeholderId) + 10000)) {
        return false;
    }
    SetExtendedStyle(LVS_EX_GRIDLINES | LVS_EX_INFOTIP);
    SendMessage(WM_SETFONT, parent->SendMessage(WM_GETFONT), TRUE);
    // Half of what the vertical scroll bar and the border leave, so no horizontal bar shows.
    const int half = (r.right - r.left - ::GetSystemMetrics(SM_CXVSCROLL) - 4) / 2;
    InsertColumn(0, AfxLoadString(IDS_COLUMN_PROPERTY), LVCFMT_LEFT, half);
    InsertColumn(1, AfxLoadString(IDS_COLUMN_VALUE), LVCFMT_LEFT, half);
    return true;
}

void CProfilePropertyList::Fill(const std::vector<PropertyRow>& rows) {
    DeleteAllItems();
    for (size_t i = 0; i < rows.size(); ++i) {
        const int item = InsertItem(static_cast<int>(i), AfxLoadString(rows[i].label));
        SetItemText(item, 1, rows[i].value.c_str());
    }
}

namespace {

std::string AudioModeText(int32_t mode) {
    switch (mode) {
        case 0:
            return LoadText(IDS_AUDIO_STEREO);
        case 1:
            return LoadText(IDS_AUDIO_JOINT_STEREO);
        case 2:
            return LoadText(IDS_AUDIO_DUAL_CHANNEL);
        case 3:
            return LoadText(IDS_AUDIO_MONO);
        default:
            return "";
    }
}

std::string CpuText() {
    std::string text;
    if (DescribeCpuFeatures(&text) != 1) return "";
    return text;
}

int32_t Param(const ProfileRecord& r, uint32_t id) {
    const MpegParam* p = FindMpegParam(r.block.mpeg, id);
    return p ? p->value.i : 0;
}

std::string PatternText(const ProfileRecord& r) {
    const MpegParam* p = FindMpegParam(r.block.mpeg, kParamPattern);
    return p ? std::string(p->value.text, strnlen(p->value.text, sizeof p->value.text)) : "";
}

std::string BitRateText(int32_t bitRate) {
    return bitRate == 0 ? LoadText(IDS_BITRATE_VARIABLE) : std::to_string(bitRate);
}

std::string FlipText(int32_t flip) {
    return flip == 0 ? LoadText(IDS_FLIP_NO) : flip == 1 ? LoadText(IDS_FLIP_YES) : "";
}

}  // namespace

std::vector<PropertyRow> NamePageRows(const ProfileRecord& r) {
    const int32_t cls = r.head.videoFormatClass;
    if (cls < kClassMpeg1 || cls > kClassDvd) return {{IDS_NOT_AVAILABLE, LoadText(IDS_NOT_AVAILABLE)}};
    const int32_t resize = Param(r, kParamResize);
    const uint32_t resizeText = resize == 0   ? IDS_RESIZE_NONE
                                : resize == 1 ? IDS_RESIZE_HALF_WIDTH
                                : resize == 2 ? IDS_RESIZE_HALF
                                              : IDS_RESIZE_OTHER;
    const ProfileAudioFormat& audio = r.block.mpeg.streams[0].audio;
    return {
        {IDS_ROW_CPU, CpuText()},
        {IDS_ROW_VIDEO_BITRATE, BitRateText(Param(r, kParamVideoBitRate))},
        {IDS_ROW_VIDEO_WIDTH, std::to_string(Param(r, kParamWidth))},
        {IDS_ROW_VIDEO_HEIGHT, std::to_string(Param(r, kParamHeight))},
        {IDS_ROW_PATTERN, PatternText(r)},
        {IDS_ROW_RESIZE, LoadText(resizeText)},
        {IDS_ROW_FLIP, FlipText(Param(r, kParamFlipVideo))},
        {IDS_ROW_AUDIO_LAYER, std::to_string(audio.layer)},
        {IDS_ROW_AUDIO_MODE, AudioModeText(audio.audioMode)},
    };
}

std::vector<PropertyRow> DetailRows(const ProfileRecord& r) {
    const int32_t cls = r.head.videoFormatClass;
    if (cls == kClassAvi) {
        const AviBlock& a = r.block.avi;
        char size[32], rate[64] = "";
        std::snprintf(size, sizeof size, "%dx%d", a.width, a.height);
        std::string channels;
        if (a.hasWave) {
            std::snprintf(rate, sizeof rate, "%.2f%s", a.wave.samplesPerSec * 0.001, LoadText(IDS_KHZ_SUFFIX).c_str());
            channels = LoadText(a.wave.channels == 1 ? IDS_CHANNELS_MONO : IDS_CHANNELS_STEREO);
        }
        const std::string compressor(a.videoCompressor, strnlen(a.videoCompressor, sizeof a.videoCompressor));
        return {
            {IDS_ROW_FRAME_SIZE, size},
            {IDS_ROW_COMPRESSOR, compressor.empty() ? LoadText(IDS_NO_COMPRESSOR) : compressor},
            {IDS_ROW_SAMPLING, rate},
            {IDS_ROW_CHANNELS, channels},
        };
    }
    if (IsMpegFormatClass(cls)) {
        int32_t width = Param(r, kParamWidth);
        if (Param(r, kParamResize) == 4) width /= 2;
        const ProfileAudioFormat& audio = r.block.mpeg.streams[0].audio;
        return {
            {IDS_ROW_CPU, CpuText()},
            {IDS_ROW_VIDEO_BITRATE, BitRateText(Param(r, kParamVideoBitRate))},
            {IDS_ROW_VIDEO_WIDTH, std::to_string(width)},
            {IDS_ROW_VIDEO_HEIGHT, std::to_string(Param(r, kParamHeight))},
            {IDS_ROW_PATTERN, PatternText(r)},
            {IDS_ROW_FLIP, FlipText(Param(r, kParamFlipVideo))},
            {IDS_ROW_AUDIO_LAYER, std::to_string(audio.layer)},
            {IDS_ROW_AUDIO_MODE, AudioModeText(audio.audioMode)},
            {IDS_ROW_SPEED, std::to_string(Param(r, kParamSpeedQuality))},
        };
    }
    if (cls == kClassH264) return H264PropertyRows(r, [](uint32_t id) { return LoadText(id); });
    return {};
}

CProfileDetailDlg::CProfileDetailDlg(const ProfileRecord* record, CWnd* parent)
    : CDialog(IDD_PROFILE_DETAIL, parent), record_(record) {}

BOOL CProfileDetailDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    if (list_.CreateOver(this, IDC_DETAIL_PROPERTIES) && record_ != nullptr) list_.Fill(DetailRows(*record_));
    if (record_ != nullptr) SetDlgItemText(IDC_DETAIL_TEXT, "");
    return TRUE;
}

void CProfileDetailDlg::OnOK() {
    list_.DestroyWindow();
    CDialog::OnOK();
}

}  // namespace profiles
