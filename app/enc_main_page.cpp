#include "app/enc_main_page.h"

#include <dbt.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/page_services.h"
#include "app/profiles/app_data_folder_win.h"
#include "app/profiles/builtin_profiles.h"
#include "app/profiles/profile_select_dlg.h"
#include "app/resources/resource_ids.h"
#include "app/services/paths.h"
#include "app/services/preferences.h"
#include "app/services/reg_value.h"
#include "app/services/settings_keys.h"
#include "app/services/text_fonts.h"
#include "app/skin/skin_controls.h"
#include "app/skin/skin_draw.h"
#include "app/skin/skin_images.h"
#include "app/skin/skin_layout.h"
#include "app/skin/skin_list.h"
#include "app/splash_about.h"
#include "engines/client/compressor_search.h"
#include "framework/app.h"

using profiles::ProfileRecord;

namespace {

constexpr char kView[] = "ENC_MAIN_PAGE";
constexpr UINT_PTR kFilePageTimer = 1;

// Static ids of the page, in the order of its binding table.
constexpr struct {
    const char* name;
    UINT id;
} kStatics[22] = {
    {"IDC_STATIC_PROFILE_VIDEO", 1005},
    {"IDC_STATIC_PROFILE_PATH", 1006},
    {"IDC_STATIC_PROFILE_TYPE", 1007},
    {"IDC_STATIC_PROFILE_BITRATE", 1008},
    {"IDC_STATIC_PROFILE_FRAMESIZE", 1009},
    {"IDC_STATIC_PROFILE_FRAMERATE", 1010},
    {"IDC_STATIC_PROFILE_AUDIO", 1011},
    {"IDC_STATIC_PROFILE_CHANNEL", 1012},
    {"IDC_STATIC_PROFILE_SAMPLERATE", 1013},
    {"IDC_STATIC_PROFILE_CODEC", 1014},
    {"IDC_STATIC_PROFILE_VALUE_PATH", 1020},
    {"IDC_STATIC_PROFILE_VALUE_TYPE", 1021},
    {"IDC_STATIC_PROFILE_VALUE_BITRATE", 1022},
    {"IDC_STATIC_PROFILE_VALUE_FRAMESIZE", 1023},
    {"IDC_STATIC_PROFILE_VALUE_FRAMERATE", 1024},
    {"IDC_STATIC_PROFILE_VALUE_CHANNEL", 1025},
    {"IDC_STATIC_PROFILE_VALUE_SAMPLERATE", 1026},
    {"IDC_STATIC_PROFILE_VALUE_CODEC", 1027},
    {"IDC_STATIC_SPACE_AVAILABLE", 1015},
    {"IDC_STATIC_SPACE_REQUIRED", 1016},
    {"IDC_STATIC_CAPTURE_FILES", 1018},
    {"IDC_STATIC_CONVERT_FILES", 1019},
};
constexpr UINT kStaticVideoTitle = 1005, kStaticAudioTitle = 1011, kStaticCaptureFiles = 1018,
               kStaticConvertFiles = 1019, kStaticSpaceAvailable = 1015, kStaticSpaceRequired = 1016;
constexpr UINT kValuePath = 1020, kValueType = 1021, kValueBitRate = 1022, kValueFrameSize = 1023,
               kValueFrameRate = 1024, kValueChannel = 1025, kValueSampleRate = 1026, kValueCodec = 1027;

// The shared PCM format of AVI records without an audio compressor.
constexpr profiles::ProfileWaveFormat kPcmFormat = {1, 2, 44100, 176400, 4, 16, 0, 0};

class ResourceStrings : public profiles::ProfileStrings {
public:
    std::string Load(uint32_t id) const override { return AfxLoadString(id).c_str(); }
};

CString LoadText(UINT id) {
    return AfxLoadString(id);
}

bool IsMpeg(int32_t cls) {
    return profiles::IsMpegFormatClass(cls);
}

int32_t MpegInt(const ProfileRecord& r, uint32_t id) {
    const profiles::MpegParam* p = profiles::FindMpegParam(r.block.mpeg, id);
    return p ? p->value.i : 0;
}

float MpegFloat(const ProfileRecord& r, uint32_t id) {
    const profiles::MpegParam* p = profiles::FindMpegParam(r.block.mpeg, id);
    return p ? p->value.f : 0.0f;
}

void SetMpegFloat(ProfileRecord& r, uint32_t id, float value) {
    if (profiles::MpegParam* p = profiles::FindMpegParam(r.block.mpeg, id)) p->value.f = value;
}

bool RateIs(float rate, double wanted) {
    return std::fabs(rate - wanted) < 0.01;
}

}  // namespace

void FormatBitRate(double bitsPerSecond, double* value, const char** unit) {
    if (bitsPerSecond > 10000) {
        *value = bitsPerSecond / 1000;
        *unit = "kbps";
    } else {
        *value = bitsPerSecond;
        *unit = "bps";
    }
}

int64_t AudioBitRateOfCode(int64_t code) {
    static constexpr int64_t kRates[30] = {32000,   40000,   48000,   56000,   64000,   80000,  96000,  112000,
                                           128000,  160000,  192000,  224000,  256000,  288000, 320000, 384000,
                                           416000,  448000,  512000,  576000,  640000,  768000, 960000, 1152000,
                                           1536000, 1920000, 2304000, 3072000, 3840000, 4608000};
    for (int n = 0; n < 30; ++n)
        if (code == (int64_t{1} << n)) return kRates[n];
    return -1;
}

int SampleRateKhzOfCode(int32_t code) {
    switch (code) {
        case 4:
            return 32;
        case 2:
            return 44;
        case 8:
            return 96;
        default:
            return 48;
    }
}

UINT ProfileClassNameId(int32_t cls) {
    switch (cls) {
        case 3:
            return 129;
        case 4:
            return 130;
        case 5:
            return 131;
        case 6:
            return 132;
        case 7:
            return 133;
        case 1:
            return 230;
        case 12:
            return 134;
        case 2:
            return 300;
        default:
            return 0;
    }
}

BEGIN_MESSAGE_MAP(CEncMainPage, CWnd)
ON_WM_PAINT()
ON_WM_ERASEBKGND()
ON_WM_DESTROY()
ON_WM_TIMER()
ON_MESSAGE(WM_DEVICECHANGE, OnDeviceChange)
ON_MESSAGE(WM_ENCMAIN_COMMAND, OnEncMainCommand)
ON_MESSAGE(WM_ROOMLIST_MODECHANGED, OnFileListChanged)
ON_BN_CLICKED(kIdButtonFile, ShowFilePage)
ON_BN_CLICKED(kIdButtonDV, ShowDVPage)
ON_BN_CLICKED(kIdButtonProfile, OnProfileButton)
ON_BN_CLICKED(kIdButtonMark, OnMarkButton)
END_MESSAGE_MAP()

CEncMainPage::CEncMainPage() {
    char folder[MAX_PATH] = {};
    FindProgramFolder(folder);
    SetAppFolder(folder);
    strings_ = std::make_unique<ResourceStrings>();
    dataFolder_ = std::make_unique<profiles::WinAppDataFolder>();
    store_ = std::make_unique<profiles::CProfileManager>(*strings_, *dataFolder_);
    codecThread_ = std::make_unique<profiles::CodecThread>();
    codecThread_->Start(*store_);
    const struct {
        SkinControlBinding* table;
        const char* name;
        UINT id;
    } rows[] = {{&radios_[0], "IDC_BUTTON_FILE", kIdButtonFile},
                {&radios_[1], "IDC_BUTTON_DV", kIdButtonDV},
                {&buttons_[0], "IDC_BUTTON_MARK", kIdButtonMark},
                {&buttons_[1], "IDC_BUTTON_PROFILE", kIdButtonProfile}};
    for (const auto& row : rows) {
        *row.table = SkinControlBinding{};
        snprintf(row.table->name, sizeof row.table->name, "%s", row.name);
        row.table->id = row.id;
    }
    for (int i = 0; i < 22; ++i) {
        statics_[i] = SkinControlBinding{};
        snprintf(statics_[i].name, sizeof statics_[i].name, "%s", kStatics[i].name);
        statics_[i].id = kStatics[i].id;
    }
}

CEncMainPage::~CEncMainPage() = default;

BOOL CEncMainPage::Create(const RECT& rect, UINT id, CWnd* parent) {
    const char* cls = AfxRegisterWndClass(0, ::LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)));
    if (!CWnd::Create(cls, "EncMainPage", WS_CHILD, rect, parent, id)) return FALSE;
    // Not clipping its children: the labels without art of their own show the page's
    // background, which the page paints under them.
    CreateControls();

    DEV_BROADCAST_DEVICEINTERFACE_A filter{};
    filter.dbcc_size = 32;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = kCaptureDeviceClass;
    deviceNotify_ = RegisterDeviceNotificationA(m_hWnd, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);

    ShowFilePage();

    char last[MAX_PATH] = {};
    if (GetLoadLastProject() && GetLastProjectName(last, sizeof last) && last[0]) {
        if (GetFileAttributesA(last) != INVALID_FILE_ATTRIBUTES) OpenProject(last);
    } else {
        SetProjectTitle(LoadText(IDS_UNTITLED_PROJECT));
    }
    return TRUE;
}

void CEncMainPage::CreateControls() {
    CreateSkinButtons(this, kView, buttons_, 2, 1);
    CreateSkinRadioButtons(this, kView, radios_, 2);
    CreateSkinStatics(this, kView, statics_, 22, 1);
    if (!HasDVDevice()) EnableRadio(kIdButtonDV, FALSE);

    std::unique_ptr<CFont> title(CreateFontFromLogFont(14, 1));
    std::unique_ptr<CFont> text(CreateFontFromLogFont(12, 0));
    for (auto& row : statics_) {
        auto* label = dynamic_cast<CGStatic*>(row.control);
        if (!label) continue;
        const bool isTitle = row.id == kStaticVideoTitle || row.id == kStaticAudioTitle ||
                             row.id == kStaticCaptureFiles || row.id == kStaticConvertFiles;
        CFont* font = isTitle ? title.get() : text.get();
        if (font) label->SetFont(static_cast<HFONT>(font->m_hObject), FALSE);
        if ((row.id >= 1006 && row.id <= 1010) || (row.id >= 1012 && row.id <= 1014)) {
            label->SetTextColor(RGB(255, 255, 255));
            label->ModifyStyle(0, SS_RIGHT);
        } else if (row.id == kStaticSpaceAvailable) {
            label->ModifyStyle(0, SS_RIGHT);
        }
    }

    const PageFactory& factory = GetPageFactory();
    if (factory.newExportRoom) {
        if (SkinView* view = CSkinLayout::FindView("EXPORT_ROOM")) {
            exportRoom_ = factory.newExportRoom();
            const CRect r(view->left, view->top, view->left + view->width, view->top + view->height);
            if (exportRoom_ && !exportRoom_->Create(r, this)) {
                delete exportRoom_;
                exportRoom_ = nullptr;
            }
        }
    }
    for (UINT id = kValuePath; id <= kValueCodec; ++id)
        SetStatic(id, "");
}

CWnd* CEncMainPage::GetControl(UINT id) const {
    for (const auto* table : {radios_, buttons_})
        for (int i = 0; i < 2; ++i)
            if (table[i].id == id) return table[i].control;
    for (const auto& row : statics_)
        if (row.id == id) return row.control;
    return nullptr;
}

CString CEncMainPage::GetStaticText(UINT id) const {
    CWnd* control = GetControl(id);
    return control && control->m_hWnd ? control->GetWindowText() : CString();
}

void CEncMainPage::SetStatic(UINT id, const char* text) {
    if (auto* label = dynamic_cast<CGStatic*>(GetControl(id))) label->SetText(text);
}

void CEncMainPage::CheckRadio(UINT id, int check) {
    if (auto* radio = dynamic_cast<CGRadioButton*>(GetControl(id))) radio->SetCheck(check);
}

void CEncMainPage::EnableRadio(UINT id, BOOL enable) {
    if (auto* radio = dynamic_cast<CGButtonBase*>(GetControl(id))) radio->Enable(enable);
}

void CEncMainPage::ShowStatic(UINT id, bool show) {
    CWnd* control = GetControl(id);
    if (!control || !control->m_hWnd) return;
    control->ShowWindow(show ? SW_SHOW : SW_HIDE);
    if (show) control->RedrawWindow();
}

int CEncMainPage::HasDVDevice() {
    const PageFactory& factory = GetPageFactory();
    if (factory.findDVDevice) return factory.findDVDevice() ? 1 : 0;
    return FindDVDeviceInDeviceClasses(1) ? 1 : 0;
}

int CEncMainPage::IsDVButtonEnabled() const {
    auto* radio = dynamic_cast<CGButtonBase*>(GetControl(kIdButtonDV));
    return radio && radio->IsEnabled() ? 1 : 0;
}

void CEncMainPage::DestroyDVPage() {
    if (!dvPage_) return;
    if (CWnd* w = dvPage_->Window(); w && w->m_hWnd) w->DestroyWindow();
    delete dvPage_;
    dvPage_ = nullptr;
}

void CEncMainPage::ShowFilePage() {
    ShowStatic(kStaticCaptureFiles, false);
    ShowStatic(kStaticConvertFiles, true);
    if (shown_ == kShownDV && dvPage_) {
        DestroyDVPage();
        if (filePage_) {
            filePage_->ResetEngine();
            filePage_->UpdateControls();
        }
    }
    CheckRadio(kIdButtonFile, 1);
    CheckRadio(kIdButtonDV, 0);
    if (!filePage_) {
        const PageFactory& factory = GetPageFactory();
        SkinView* view = CSkinLayout::FindView("ENC_FILE_PAGE");
        if (factory.newFilePage && view) {
            filePage_ = factory.newFilePage();
            const CRect r(view->left, view->top, view->left + view->width, view->top + view->height);
            if (filePage_ && !filePage_->Create(r, kIdFilePage, this)) {
                delete filePage_;
                filePage_ = nullptr;
            }
        }
    }
    shown_ = kShownFile;
    ApplyProfileSelection(2, 0.0f);
    if (filePage_ && filePage_->Window()) filePage_->Window()->ShowWindow(SW_SHOW);
    UpdateProfileSummary();
}

void CEncMainPage::ShowDVPage() {
    if (!HasDVDevice()) {
        Ask(IDS_NO_DV_DEVICE, MB_OK);
        CheckRadio(kIdButtonFile, 1);
        return;
    }
    const PageFactory& factory = GetPageFactory();
    const HRESULT check = factory.checkDVDevice ? factory.checkDVDevice() : E_FAIL;
    if (check != S_OK) {
        if (check == static_cast<HRESULT>(0x80000002) || check == static_cast<HRESULT>(0x80000003))
            Ask(IDS_DV_DEVICE_FAILED, MB_OK);
        CheckRadio(kIdButtonFile, 1);
        return;
    }
    if (dvPage_) return;
    ShowStatic(kStaticConvertFiles, false);
    ShowStatic(kStaticCaptureFiles, true);
    if (shown_ == kShownFile && filePage_) filePage_->StopEngine();
    CheckRadio(kIdButtonFile, 0);
    CheckRadio(kIdButtonDV, 1);
    SkinView* view = CSkinLayout::FindView("ENC_DV_PAGE");
    if (!factory.newDVPage || !view) return;
    dvPage_ = factory.newDVPage();
    if (!dvPage_) return;
    dvPage_->SetProfileManager(store_.get());
    const CRect r(view->left, view->top, view->left + view->width, view->top + view->height);
    if (!dvPage_->Create(r, kIdDVPage, this)) {
        delete dvPage_;
        dvPage_ = nullptr;
        return;
    }
    shown_ = kShownDV;
    ApplyProfileSelection(1, dvPage_->GetFrameRate());
    if (filePage_ && filePage_->Window()) filePage_->Window()->ShowWindow(SW_HIDE);
    if (dvPage_->Window()) dvPage_->Window()->ShowWindow(SW_SHOW);
    UpdateProfileSummary();
}

INT_PTR CEncMainPage::RunProfileDialog() {
    if (shown_ != kShownDV && shown_ != kShownFile) return IDCANCEL;
    const bool filePage = shown_ == kShownFile;
    profiles::CProfileSelectDlg dialog(this);
    dialog.SetProfileManager(store_.get());
    dialog.SetCodecThread(codecThread_.get());
    int rate = 1;
    if (filePage) {
        CRegDwordValue standard(HKEY_CURRENT_USER, kRecordingKey, "ProfileFrameRate", 1);
        rate = standard.Read() && standard.Get() == 0 ? 0 : 1;
        char video[260] = {};
        dialog.SetDivxInstalled(SUCCEEDED(FindVideoCompressor(video)));
    } else if (dvPage_) {
        rate = RateIs(dvPage_->GetFrameRate(), 29.97) ? 1 : 0;
        dialog.SetDeviceFlag(dvPage_->IsDeviceTypeOne());
    }
    const std::string name(record_.head.name, strnlen(record_.head.name, sizeof record_.head.name));
    dialog.SetCurrent(filePage ? 2 : 1, record_.head.videoFormatClass, name.c_str(), rate);
    return dialog.DoModal() == IDOK ? IDOK : IDCANCEL;
}

void CEncMainPage::OnProfileButton() {
    if (RunProfileDialog() == IDCANCEL) return;
    ApplyProfileSelection(shown_, shown_ == kShownDV && dvPage_ ? dvPage_->GetFrameRate() : 0.0f);
}

void CEncMainPage::OnMarkButton() {
    CAboutDlg about(this);
    about.DoModal();
}

void CEncMainPage::MakeDVProfileRecord(float frameRate) {
    record_ = ProfileRecord{};
    record_.head.videoFormatClass = profiles::kClassDv;
    record_.block.dv.videoFormat = RateIs(frameRate, 29.97) ? 2000 : 2001;
    record_.block.dv.audioFormat = 32000;
    record_.block.dv.channel = 2;
    record_.block.dv.fileFormat = 1;
}

int CEncMainPage::FindDefaultMpeg2Profile() {
    record_.head.attribute = profiles::kAttrDvCapturePage;
    ProfileRecord candidate = record_;
    if (store_->FindGroupProfile(profiles::kClassMpeg2, profiles::kGroupCamcorder, profiles::kAttrDvCapturePage,
                                 candidate) != profiles::kProfileOk)
        return 0;
    record_ = candidate;
    return 1;
}

void CEncMainPage::ApplyProfileSelection(int pageKind, float frameRate) {
    const bool filePage = pageKind == 2;
    CRegDwordValue type(HKEY_CURRENT_USER, kRecordingKey, filePage ? "FileProfileType" : "DVProfileType", 1);
    CRegStringValue name(HKEY_CURRENT_USER, kRecordingKey, filePage ? "FileProfileName" : "DVProfileName", 1);
    if (!type.Read()) type.Set(12);
    if (!name.Read()) name.Set(LoadText(IDS_DEFAULT_H264_PROFILE));
    DWORD standard = 1;
    if (filePage) {
        CRegDwordValue rate(HKEY_CURRENT_USER, kRecordingKey, "ProfileFrameRate", 1);
        if (!rate.Read()) rate.Set(1);
        standard = rate.Get();
    }
    int32_t cls = static_cast<int32_t>(type.Get());
    const bool mpeg2Device = !filePage && dvPage_ && dvPage_->IsDeviceTypeOne();
    if (mpeg2Device) cls = profiles::kClassMpeg2;

    // The record is self-contained: a new class starts from a cleared record with that
    // class's blocks prepared.
    record_ = ProfileRecord{};
    if (IsMpeg(cls)) profiles::AllocMpegParams(record_);
    if (cls == profiles::kClassH264) profiles::AllocH264Params(record_);
    record_.head.attribute = static_cast<uint32_t>(pageKind);

    bool found = false;
    if (mpeg2Device) {
        found = FindDefaultMpeg2Profile() != 0;
    } else if (!filePage && cls == profiles::kClassDv) {
        MakeDVProfileRecord(frameRate);
        if (dvPage_) dvPage_->SetProfile(record_);
        UpdateProfileSummary();
        return;
    }
    if (!found && !mpeg2Device) {
        found = store_->ReadProfile(cls, 0, record_, name.GetString(), 0) == profiles::kProfileOk;
        if (!found) {
            type.Set(12);
            name.Set(LoadText(IDS_DEFAULT_H264_PROFILE));
            record_ = ProfileRecord{};
            profiles::AllocH264Params(record_);
            record_.head.attribute = static_cast<uint32_t>(pageKind);
            store_->ReadProfile(profiles::kClassH264, 0, record_, name.GetString(), 0);
        }
    }
    cls = record_.head.videoFormatClass;
    const bool locked = (record_.head.attribute & profiles::kAttrUserMade) != 0;

    if (filePage) {
        const bool ntsc = standard == 1;
        const float rate = ntsc ? 29.97f : 25.0f;
        if (cls >= profiles::kClassVcd && cls <= profiles::kClassDvd) {
            const float own = MpegFloat(record_, profiles::kParamFrameRate);
            if ((RateIs(own, 29.97) && !ntsc) || (RateIs(own, 25.0) && ntsc)) {
                // The same kind of disc for the other standard.
                const int kind = cls == profiles::kClassVcd   ? (ntsc ? 8 : 7)
                                 : cls == profiles::kClassDvd ? (ntsc ? 10 : 9)
                                                              : (ntsc ? 12 : 11);
                ProfileRecord replacement = record_;
                if (store_->GetDefaultProfile(kind, replacement) == profiles::kProfileOk) record_ = replacement;
            }
        } else if ((cls == profiles::kClassMpeg1 || cls == profiles::kClassMpeg2) && !locked) {
            SetMpegFloat(record_, profiles::kParamFrameRate, rate);
        } else if (cls == profiles::kClassAvi) {
            record_.block.avi.framesPerSecond = ntsc ? 29.97 : 25.0;
            store_->ApplyAviFrameSize(record_, ntsc);
        } else if (cls == profiles::kClassH264 && !locked) {
            record_.block.h264.width = 720;
            record_.block.h264.height = ntsc ? 480 : 576;
            record_.block.h264.frameRate = rate;
        }
        if (cls == profiles::kClassAvi) {
            char video[260] = {};
            if (SUCCEEDED(FindVideoCompressor(video)))
                snprintf(record_.block.avi.videoCompressor, sizeof record_.block.avi.videoCompressor, "%s", video);
            else
                record_.block.avi.videoCompressor[0] = 0;
            // The sound of AVI profiles is MPEG layer III when a codec makes it: the search is
            // asked for the built-in profiles' format (the search needs a wanted format to
            // match the codec's own; without one it always failed and fell back to PCM).
            char audio[260] = {};
            const profiles::ProfileWaveFormat& mp3 = profiles::kBuiltinAviWave;
            WAVEFORMATEX wanted{mp3.formatTag,
                                mp3.channels,
                                mp3.samplesPerSec,
                                mp3.avgBytesPerSec,
                                mp3.blockAlign,
                                mp3.bitsPerSample,
                                0};
            WAVEFORMATEX* format = &wanted;
            if (SUCCEEDED(FindAudioCompressor(audio, &format))) {
                snprintf(record_.block.avi.audioCompressor, sizeof record_.block.avi.audioCompressor, "%s", audio);
                record_.block.avi.wave = mp3;
            } else {
                snprintf(record_.block.avi.audioCompressor, sizeof record_.block.avi.audioCompressor, "PCM");
                record_.block.avi.wave = kPcmFormat;
            }
            record_.block.avi.hasWave = 1;
            if (format && format != &wanted) CoTaskMemFree(format);
        }
        if (cls == profiles::kClassH264 && filePage_) {
            int32_t keep = 0;
            store_->GetKeepOrgSize(&keep);
            filePage_->SetH264Selection(keep);
        }
        if (filePage_) filePage_->SetProfile(record_);
        UpdateProfileSummary();
        return;
    }

    // The DV page: the record takes the device's frame rate.
    if (cls >= profiles::kClassVcd && cls <= profiles::kClassDvd) {
        const float own = MpegFloat(record_, profiles::kParamFrameRate);
        if (!RateIs(own, frameRate)) {
            const bool ntsc = RateIs(frameRate, 29.97);
            const int kind = cls == profiles::kClassVcd   ? (ntsc ? 8 : 7)
                             : cls == profiles::kClassDvd ? (ntsc ? 10 : 9)
                                                          : (ntsc ? 12 : 11);
            ProfileRecord replacement = record_;
            if (store_->GetDefaultProfile(kind, replacement) == profiles::kProfileOk) record_ = replacement;
        }
    } else if (cls == profiles::kClassMpeg1 || cls == profiles::kClassMpeg2) {
        SetMpegFloat(record_, profiles::kParamFrameRate, frameRate);
    } else if (cls == profiles::kClassAvi) {
        record_.block.avi.framesPerSecond = frameRate;
        record_.block.avi.videoCompressor[0] = 0;
        record_.block.avi.audioCompressor[0] = 0;
        record_.block.avi.hasWave = 0;
    } else if (cls == profiles::kClassH264) {
        record_.block.h264.frameRate = frameRate;
        if (dvPage_) {
            int32_t keep = 0;
            store_->GetKeepOrgSize(&keep);
            dvPage_->SetH264Selection(keep);
        }
    }
    if (dvPage_) dvPage_->SetProfile(record_);
    UpdateProfileSummary();
}

void CEncMainPage::UpdateTargetFolderText() {
    const CString folder = shown_ == kShownDV ? GetCaptureDir() : GetConvertDir();
    snprintf(targetFolder_, sizeof targetFolder_, "%s", folder.c_str());
    CString text = targetFolder_;
    if (CWnd* control = GetControl(kValuePath)) FitTextToWindow(control, text);
    SetStatic(kValuePath, text);
}

double CEncMainPage::VideoBitRate() const {
    const int32_t cls = record_.head.videoFormatClass;
    if (IsMpeg(cls)) return MpegInt(record_, profiles::kParamVideoBitRate);
    if (cls == profiles::kClassAvi) {
        uint32_t info[4] = {};
        if (record_.block.avi.compressorState &&
            profiles::GetCompressorFrameInfo(record_.block.avi.compressorState, record_.block.avi.compressorStateSize,
                                             info) == profiles::kProfileOk)
            return info[2];
        return record_.block.avi.bitRate;
    }
    if (cls == profiles::kClassH264) return record_.block.h264.videoBitRate;
    return 0;
}

void CEncMainPage::UpdateProfileSummary() {
    UpdateTargetFolderText();
    const ProfileRecord& r = record_;
    const int32_t cls = r.head.videoFormatClass;
    const bool mpeg = IsMpeg(cls);
    char text[300];

    const UINT nameId = ProfileClassNameId(cls);
    SetStatic(kValueType, nameId ? LoadText(nameId).c_str() : "");

    if (cls == profiles::kClassDv) {
        SetStatic(kValueBitRate, "25.00 Mbps(AV)");
    } else {
        double value = 0;
        const char* unit = "";
        FormatBitRate(VideoBitRate(), &value, &unit);
        snprintf(text, sizeof text, "%.2f %s", value, unit);
        SetStatic(kValueBitRate, text);
    }

    text[0] = 0;
    if (mpeg) {
        snprintf(text, sizeof text, "%dx%d", MpegInt(r, profiles::kParamWidth), MpegInt(r, profiles::kParamHeight));
    } else if (cls == profiles::kClassAvi) {
        snprintf(text, sizeof text, "%dx%d", r.block.avi.width, r.block.avi.height);
    } else if (cls == profiles::kClassH264) {
        int32_t keep = 0;
        store_->GetKeepOrgSize(&keep);
        if (keep && !(shown_ == kShownFile && GetMerge()))
            snprintf(text, sizeof text, "%s", LoadText(IDS_KEEP_ORIGINAL_SIZE).c_str());
        else
            snprintf(text, sizeof text, "%dx%d", r.block.h264.width, r.block.h264.height);
    } else if (cls == profiles::kClassDv) {
        snprintf(text, sizeof text, "%s", r.block.dv.videoFormat == 2000 ? "720x480" : "720x576");
    }
    SetStatic(kValueFrameSize, text);

    double rate = 0;
    if (mpeg) rate = MpegFloat(r, profiles::kParamFrameRate);
    if (cls == profiles::kClassAvi) rate = r.block.avi.framesPerSecond;
    if (cls == profiles::kClassH264) rate = r.block.h264.frameRate;
    if (cls == profiles::kClassDv) rate = r.block.dv.videoFormat == 2000 ? 29.97 : 25.0;
    snprintf(text, sizeof text, "%.2f frames", rate);
    SetStatic(kValueFrameRate, text);

    const profiles::ProfileAudioFormat* audio = nullptr;
    if (mpeg) audio = &r.block.mpeg.streams[0].audio;
    if (cls == profiles::kClassH264) audio = &r.block.h264.streams[0].audio;
    int channels = 0;
    double khz = 0;
    if (audio) {
        channels = audio->channels;
        khz = SampleRateKhzOfCode(audio->samplesPerSecCode);
    } else if (cls == profiles::kClassAvi) {
        channels = r.block.avi.wave.channels;
        khz = r.block.avi.wave.samplesPerSec * 0.001;
    } else if (cls == profiles::kClassDv) {
        channels = static_cast<int>(r.block.dv.channel);
        khz = r.block.dv.audioFormat * 0.001;
    }
    snprintf(text, sizeof text, "%d", channels);
    SetStatic(kValueChannel, text);
    CString sample;
    sample.FormatId(IDS_SAMPLE_RATE, khz);
    SetStatic(kValueSampleRate, sample);

    CString codec;
    if (mpeg) codec = LoadText(IDS_AUDIO_CODEC_MPEG);
    if (cls == profiles::kClassAvi) codec = r.block.avi.audioCompressor;
    if (cls == profiles::kClassH264) codec = LoadText(IDS_AUDIO_CODEC_H264);
    if (cls == profiles::kClassDv) codec = "PCM";
    SetStatic(kValueCodec, codec);

    char drive[_MAX_DRIVE] = {};
    _splitpath(targetFolder_, drive, nullptr, nullptr, nullptr);
    ULARGE_INTEGER freeBytes{};
    std::string root = std::string(drive) + "\\";
    if (!GetDiskFreeSpaceExA(drive[0] ? root.c_str() : nullptr, &freeBytes, nullptr, nullptr)) freeBytes.QuadPart = 0;
    double value = 0;
    char unit[32] = {};
    FormatByteSize(static_cast<int64_t>(freeBytes.QuadPart), &value, unit, sizeof unit);
    snprintf(text, sizeof text, "%.2f %s", value, unit);
    CString space;
    space.FormatId(IDS_SPACE_AVAILABLE, text);
    SetStatic(kStaticSpaceAvailable, space);

    UpdateRequiredSpaceText();
}

void CEncMainPage::UpdateRequiredSpaceText() {
    char text[128] = {};
    CString out;
    if (shown_ == kShownFile) {
        const int32_t cls = record_.head.videoFormatClass;
        if (cls == profiles::kClassAvi) {
            out.FormatId(IDS_SPACE_REQUIRED, "-- GB");
        } else {
            double total = VideoBitRate();
            const profiles::ProfileAudioFormat* audio = nullptr;
            if (IsMpeg(cls)) audio = &record_.block.mpeg.streams[0].audio;
            if (cls == profiles::kClassH264) audio = &record_.block.h264.streams[0].audio;
            if (audio) total += static_cast<double>(AudioBitRateOfCode(audio->bitRate));
            const int64_t duration = filePage_ ? filePage_->GetTotalDuration() : 0;
            const auto bytes = static_cast<int64_t>(static_cast<double>(duration) * 1.25e-8 * total);
            double value = 0;
            char unit[32] = {};
            FormatByteSize(bytes < 0 ? 0 : bytes, &value, unit, sizeof unit);
            snprintf(text, sizeof text, "%.2f %s", value, unit);
            out.FormatId(IDS_SPACE_REQUIRED, text);
        }
    } else if (shown_ == kShownDV) {
        if (busy_ == kBusyCapture) {
            const int64_t size = dvPage_ ? dvPage_->GetRecordedSize() : 0;
            if (size) {
                double value = 0;
                char unit[32] = {};
                FormatByteSize(size, &value, unit, sizeof unit);
                snprintf(text, sizeof text, "           %.2f %s", value, unit);
                out.FormatId(IDS_SPACE_RECORDED, text);
            }
        } else {
            out.FormatId(IDS_SPACE_RECORDED, "                MB");
        }
    }
    SetStatic(kStaticSpaceRequired, out);
}

void CEncMainPage::UpdateBusyControls() {
    const BOOL enable = busy_ == kIdle;
    EnableRadio(kIdButtonFile, enable);
    EnableRadio(kIdButtonDV, enable);
    EnableRadio(kIdButtonProfile, enable);
    if (exportRoom_ && exportRoom_->Window() && exportRoom_->Window()->m_hWnd)
        exportRoom_->Window()->EnableWindow(enable);
}

void CEncMainPage::NotifyPanel(UINT code) {
    NMHDR header{m_hWnd, static_cast<UINT_PTR>(GetDlgCtrlID()), code};
    if (CWnd* parent = GetParent()) parent->SendMessage(WM_NOTIFY, header.idFrom, reinterpret_cast<LPARAM>(&header));
}

LRESULT CEncMainPage::OnFileListChanged(WPARAM from, LPARAM) {
    // The file page names itself; a room list's view-mode change carries its list's id.
    if (from == kIdFilePage) FormatTitleText();
    return 0;
}

BOOL CEncMainPage::OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result) {
    const auto* record = reinterpret_cast<const PageNotifyRecord*>(lParam);
    if (!record) return CWnd::OnNotify(wParam, lParam, result);
    const HWND from = record->hdr.hwndFrom;
    const bool fromDV = dvPage_ && dvPage_->Window() && from && from == dvPage_->Window()->m_hWnd;
    const bool fromFile = filePage_ && filePage_->Window() && from && from == filePage_->Window()->m_hWnd;
    const UINT code = record->hdr.code;
    if (fromDV) {
        switch (code) {
            case 2024:
                SetTimer(kFilePageTimer, 1000);
                return TRUE;
            case 2025:
            case 2029:
                ApplyProfileSelection(1, dvPage_->GetFrameRate());
                break;
            case 2026:
                busy_ = kBusyCapture;
                UpdateBusyControls();
                NotifyPanel(kNotifyCaptureStarted);
                break;
            case 2027:
                busy_ = kIdle;
                UpdateBusyControls();
                UpdateRequiredSpaceText();
                NotifyPanel(kNotifyCaptureEnded);
                break;
            case 2028:
                if (exportRoom_) exportRoom_->AddFile(reinterpret_cast<const char*>(record->data));
                break;
            case 2030:
                UpdateRequiredSpaceText();
                break;
            default:
                break;
        }
    } else if (fromFile) {
        switch (code) {
            case 3025:
                if (exportRoom_) exportRoom_->AddFile(reinterpret_cast<const char*>(record->data));
                break;
            case 3026:
                busy_ = kBusyConvert;
                UpdateBusyControls();
                NotifyPanel(kNotifyConvertStarted);
                break;
            case 3027:
                busy_ = kIdle;
                UpdateBusyControls();
                if (!HasDVDevice()) EnableRadio(kIdButtonDV, FALSE);
                NotifyPanel(kNotifyConvertEnded);
                break;
            case 3028:
            case 3029:
                UpdateRequiredSpaceText();
                break;
            default:
                break;
        }
    }
    return CWnd::OnNotify(wParam, lParam, result);
}

void CEncMainPage::OnTimer(UINT_PTR id) {
    if (id != kFilePageTimer) return;
    KillTimer(kFilePageTimer);
    ShowFilePage();
    if (!HasDVDevice()) EnableRadio(kIdButtonDV, FALSE);
}

LRESULT CEncMainPage::OnDeviceChange(WPARAM event, LPARAM data) {
    if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) return TRUE;
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
    if (!header || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return TRUE;
    const auto* device = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(data);
    if (device->dbcc_classguid != kCaptureDeviceClass) return TRUE;
    // The broadcast's size bounds the path it carries.
    const size_t room = header->dbch_size > offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name)
                            ? header->dbch_size - offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name)
                            : 0;
    std::string path(device->dbcc_name, strnlen(device->dbcc_name, room));
    for (char& c : path)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    for (const char* cut : {"@device:pnp:", "\\global"}) {
        const size_t at = path.find(cut);
        if (at != std::string::npos) path.erase(at, strlen(cut));
    }
    for (char& c : path)
        if (c == '\\') c = '#';
    const std::string key = std::string(
                                "System\\CurrentControlSet\\Control\\DeviceClasses\\"
                                "{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\") +
                            path + "\\#GLOBAL\\Device Parameters";
    CRegStringValue friendly(HKEY_LOCAL_MACHINE, key.c_str(), "FriendlyName", 0);
    if (!friendly.Read() || friendly.IsEmpty()) return TRUE;
    char names[256] = {};
    QueryEngineStringInclude(names);
    if (strstr(names, friendly.GetString()) && shown_ != kShownDV) EnableRadio(kIdButtonDV, HasDVDevice() == 1);
    return TRUE;
}

void CEncMainPage::OnPaint() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(m_hWnd, &ps);
    CRect client;
    GetClientRect(&client);
    PaintOffScreen(dc, client.Width(), client.Height(), [](HDC memory) { PaintSkinViewBackground(memory, kView); });
    EndPaint(m_hWnd, &ps);
}

void CEncMainPage::OnDestroy() {
    if (exportRoom_) {
        if (CWnd* w = exportRoom_->Window(); w && w->m_hWnd) w->DestroyWindow();
        delete exportRoom_;
        exportRoom_ = nullptr;
    }
    DestroySkinButtons(buttons_, 2);
    DestroySkinRadioButtons(radios_, 2);
    DestroySkinStatics(kView, statics_, 22);
    if (filePage_) {
        if (CWnd* w = filePage_->Window(); w && w->m_hWnd) w->DestroyWindow();
        delete filePage_;
        filePage_ = nullptr;
    }
    DestroyDVPage();
    if (deviceNotify_) {
        UnregisterDeviceNotification(deviceNotify_);
        deviceNotify_ = nullptr;
    }
    Default();
}
