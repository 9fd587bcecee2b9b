// The inventory of installed video compressors an AVI profile can use: those the Video for
// Windows codec manager lists that are also present as wrapped DirectShow filters. Each
// listed codec stays open for queries; one of them can be selected (the first DivX one, or
// one by name) to show its configuration dialog and to read its state block.
//
// The platform is behind `CodecPlatform`, so that the rules can be tried against a fake
// machine; `DefaultCodecPlatform()` is the real one (Windows only; elsewhere it lists
// nothing). The entry list is one per process, shared by every `CCodecList`.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace profiles {

class CodecPlatform {
public:
    virtual ~CodecPlatform() = default;
    using Handle = uintptr_t;  // an open codec; 0 none
    using Filter = uintptr_t;  // a DirectShow filter reference; 0 none

    // The description of video compressor `index` of the codec manager, opened for queries
    // into `handle`; false when there is no compressor at `index`. An empty description
    // with a handle of 0 stands for one that did not open.
    virtual bool OpenCompressor(uint32_t index, std::string* description, Handle* handle) = 0;
    virtual void CloseCompressor(Handle handle) = 0;

    struct FoundFilter {
        std::string friendlyName;
        bool vfwWrapper = false;  // the Video for Windows compressor wrapper's class
        Filter filter = 0;        // a reference the inventory owns
    };
    // The filters of the video compressor category; false (with the error's text) when the
    // enumerators cannot be created.
    virtual bool ListCompressorFilters(std::vector<FoundFilter>* filters, std::string* error) = 0;
    virtual void ReleaseFilter(Filter filter) = 0;
    virtual void ShowError(const std::string& text) = 0;

    // Configuration and state of an open codec.
    virtual bool CanConfigure(Handle handle) = 0;
    virtual void Configure(Handle handle, uintptr_t parentWindow) = 0;
    virtual uint32_t GetStateSize(Handle handle) = 0;
    virtual void GetState(Handle handle, void* buffer, uint32_t size) = 0;
};

CodecPlatform& DefaultCodecPlatform();

struct CodecEntry {
    CodecPlatform::Filter filter = 0;
    uint32_t ordinal = 0;
    std::string description;
    std::string filterName;
    CodecPlatform::Handle handle = 0;
};

class CCodecList {
public:
    // `platform` null: the default one. The platform of the first list made serves the
    // process-wide entry list.
    explicit CCodecList(CodecPlatform* platform = nullptr);
    virtual ~CCodecList();
    CCodecList(const CCodecList&) = delete;
    CCodecList& operator=(const CCodecList&) = delete;

    // 1, or 0 when the DirectShow enumerators cannot be created (after a message).
    int Enumerate(int divxOnly);
    // Empties the entry list when at most one list is alive.
    void CloseAll();
    void SelectDivX();
    void SelectByName(const char* name);
    void Configure(uintptr_t parentWindow);
    int GetStateSize(uint32_t* size);
    int GetState(void* buffer, uint32_t size);
    int IsNewName(const char* name) const;
    // S_OK (0) or E_FAIL: attaches `filter` to the entry it belongs to.
    int32_t AttachFilter(const char* name, CodecPlatform::Filter filter);

    bool HasSelection() const { return selectedHandle_ != 0; }
    CodecPlatform::Handle SelectedHandle() const { return selectedHandle_; }
    // The process-wide entries, in list order.
    static const std::vector<CodecEntry>& Entries();

private:
    void Select(const CodecEntry* entry);
    CodecPlatform& platform_;
    CodecPlatform::Filter selectedFilter_ = 0;
    CodecPlatform::Handle selectedHandle_ = 0;
};

}  // namespace profiles
