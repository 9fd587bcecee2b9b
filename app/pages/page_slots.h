// The main page's view of the pages it hosts: the file conversion page, the DV capture page
// and the export room. Each page class implements its slot (besides being a window), and a
// page factory makes them; until a page's factory entry is set, the main page's slot for it
// stays empty and the commands that need that page are refused.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "app/profiles/profile_record.h"
#include "framework/string.h"

class CWnd;
class CPtrList;
namespace profiles {
class CProfileManager;
}

class FilePageSlot {
public:
    virtual ~FilePageSlot() = default;
    // The page's window (for showing, hiding and destruction).
    virtual CWnd* Window() = 0;
    virtual BOOL Create(const RECT& rect, UINT id, CWnd* parent) = 0;
    virtual void SetProfile(const profiles::ProfileRecord& record) = 0;
    // The H.264 selection flag of the profile store (KeepOrgSize).
    virtual void SetH264Selection(int32_t keepOrgSize) = 0;
    virtual void ResetEngine() = 0;
    virtual void StopEngine() = 0;
    virtual void UpdateControls() = 0;
    virtual void Refresh() = 0;
    virtual int GetState() = 0;
    // A project's entry list (FileBatchEntry pointers, owned by the project object): the page
    // takes copies of what is read, and appends entries allocated with `new` when saving.
    virtual void LoadProjectEntries(const CPtrList& entries) = 0;
    virtual void FillProjectEntries(CPtrList& entries) = 0;
    virtual int64_t GetTotalDuration() = 0;
    virtual int IsCommandEnabled(UINT code) = 0;
    virtual int IsPrimaryButtonEnabled() = 0;
    virtual LRESULT OnTransportCommand(UINT code) = 0;
    virtual LRESULT OnAddCommand(UINT code) = 0;
    virtual LRESULT OnConvertCommand(UINT code) = 0;
    virtual LRESULT OnListCommand(UINT code) = 0;
    virtual void OnDropFiles(HDROP drop) = 0;
};

class DVPageSlot {
public:
    virtual ~DVPageSlot() = default;
    virtual CWnd* Window() = 0;
    virtual void SetProfileManager(profiles::CProfileManager* store) = 0;
    virtual BOOL Create(const RECT& rect, UINT id, CWnd* parent) = 0;
    virtual float GetFrameRate() = 0;
    virtual int IsDeviceTypeOne() = 0;
    virtual void SetProfile(const profiles::ProfileRecord& record) = 0;
    virtual void SetH264Selection(int32_t keepOrgSize) = 0;
    virtual int64_t GetRecordedSize() = 0;
    virtual int IsSetupEnabled() = 0;
    virtual int IsSecondaryButtonEnabled() = 0;
    virtual int IsCommandEnabled(UINT code) = 0;
    virtual LRESULT OnTransportCommand(UINT code) = 0;
    virtual LRESULT OnRecordCommand(UINT code) = 0;
    virtual LRESULT SetupIfEnabled() = 0;
    virtual LRESULT OnBatchIfIdle() = 0;
};

class ExportRoomSlot {
public:
    virtual ~ExportRoomSlot() = default;
    virtual CWnd* Window() = 0;
    virtual BOOL Create(const RECT& rect, CWnd* parent) = 0;
    virtual int GetSelectedCount() = 0;
    virtual void AddFile(const char* path) = 0;
    virtual LRESULT ViewSelected() = 0;
    virtual LRESULT RenameSelected() = 0;
    virtual LRESULT OpenFile(const char* path) = 0;
};

// How the main page gets its pages. An empty function leaves that slot empty.
struct PageFactory {
    std::function<FilePageSlot*()> newFilePage;
    std::function<DVPageSlot*()> newDVPage;
    std::function<ExportRoomSlot*()> newExportRoom;
    // The DV device check that needs no page: 0 usable; 0x80000001 no device, 0x80000002
    // wrong device type, 0x80000003 device query failed, 0x80004005 engine missing.
    std::function<HRESULT()> checkDVDevice;
    // Whether a DV device is registered; unset: the capture device class is searched.
    std::function<int()> findDVDevice;
    // The supported-file filter of the file dialogs, and the test of an input's extension.
    std::function<CString()> buildOpenFileFilter;
    std::function<int(const char* path)> isSupportedInputFile;
};
void SetPageFactory(const PageFactory& factory);
const PageFactory& GetPageFactory();
