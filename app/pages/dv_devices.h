// DV device discovery without opening a device: the string query object's answers, the
// listed-device test, the video-input category, and the walk over the device interfaces
// registered under the capture class; and the dialog in which the user picks one of
// several DV devices. Every failure of a search counts as "not found".
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "engines/interfaces.h"
#include "framework/dialog.h"
#include "framework/string.h"

namespace dvdevices {

// The capture device interface class, as its registry key name spells it.
inline constexpr char kCaptureClassKey[] =
    "System\\CurrentControlSet\\Control\\DeviceClasses\\{65e8773d-8f56-11d0-a3b9-00a0c9223196}";

// Asks QueryString, QueryString2 or QueryString3 (`slot` 3, 4 or 5) with `input`; the answer, or nullopt-like
// false when the object cannot be made or does not answer. `answer` is bounded to 255 bytes.
bool QueryEngineString(int slot, const char* input, std::string* answer);
// The answer to "include MicroMV" (empty when the object is missing).
std::string IncludeText();
// Whether the string query object can be created at all.
bool EngineInfoAvailable();
// QueryString2's answer found in `name`: kind 1; else QueryString3's: kind 2; else false (kind 0).
bool IsListedDevice(const char* name, int* kind);
// Whether `name` contains the friendly name of a device of the video-input category.
bool IsVideoInputDevice(const char* name);
// 1 when a linked capture interface with a friendly name counts (see the .cpp), else 0.
int FindDVDeviceInDeviceClasses(bool listed);

// A device as the engine enumerates it, and the label shown for it: "n. " and the maker (the
// part of the name in brackets), then whether it is a listed device.
struct DeviceLabel {
    std::string engineName;
    std::string text;
};
// Every device the engine enumerates (at most 64), in its order.
std::vector<DeviceLabel> EnumerateDevices(ISystemLayerDV* engine);

}  // namespace dvdevices

class CDVCapturePage;

// The modal device selection: a combo box of the page's device display texts. A new
// choice is sent to the page at once as WM_NOTIFY 2024 carrying the text; Cancel sends the
// first text back when another was sent.
class CDVDeviceSelectDlg : public CDialog {
public:
    static constexpr UINT kNotifyChosen = 2024;

    CDVDeviceSelectDlg(CWnd* page, std::vector<std::string> texts, const char* current);
    BOOL OnInitDialog() override;
    void OnCancel() override;
    void OnSelChange();
    const std::string& LastSent() const { return lastSent_; }

    DECLARE_MESSAGE_MAP()

private:
    void Send(const std::string& text);
    CWnd* page_;
    std::vector<std::string> texts_;
    std::string initial_, lastSent_;
};

// The record of notification 2024: the header, then the NUL-terminated text.
struct DeviceChosenRecord {
    NMHDR hdr;
    char text[260];
};
