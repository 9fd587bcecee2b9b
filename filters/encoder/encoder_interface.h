// IEncoderSettings: the encoder filter's whole-record settings interface, for hosts that
// exchange all kParamWords parameter words at once.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <cstdint>

struct IEncoderSettings : public IUnknown {
    // Copies the 33 parameter words out. E_POINTER for null.
    virtual HRESULT STDMETHODCALLTYPE GetSettings(int32_t* words) = 0;
    // Validates the caller's 33 words in place and stores them; they take effect on
    // IKestruneConfig::Commit. E_POINTER for null.
    virtual HRESULT STDMETHODCALLTYPE SetSettings(int32_t* words) = 0;
    // 1 while the filter is paused or running, else 0.
    virtual HRESULT STDMETHODCALLTYPE IsStreaming(ULONG* streaming) = 0;
    // The source frame rate x 100. E_INVALIDARG for null.
    virtual HRESULT STDMETHODCALLTYPE GetFrameRate(ULONG* rate100) = 0;
    // level_idc of the stream being written; E_FAIL while no encoder runs. E_INVALIDARG
    // for null.
    virtual HRESULT STDMETHODCALLTYPE GetCodedLevel(ULONG* level) = 0;
};
