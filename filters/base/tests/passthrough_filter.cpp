#include "filters/base/tests/passthrough_filter.h"

#include <uuids.h>

#include <new>

#include "filters/base/server.h"
#include "filters/base/transform.h"

namespace {

class CPassThrough final : public CTransformFilter {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr) {
        auto* filter = new (std::nothrow) CPassThrough(outer);
        if (!filter) *hr = E_OUTOFMEMORY;
        return filter;
    }

    HRESULT CheckInputType(const CMediaType* input) override {
        if (input->majortype != MEDIATYPE_Video || !FindVideoFormat(input->subtype) || !GetBitmapHeader(*input))
            return VFW_E_TYPE_NOT_ACCEPTED;
        return S_OK;
    }

    HRESULT CheckTransform(const CMediaType* input, const CMediaType* output) override {
        return *input == *output ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }

    HRESULT GetMediaType(int position, CMediaType* type) override {
        if (position < 0) return E_INVALIDARG;
        if (position > 0) return VFW_S_NO_MORE_ITEMS;
        *type = input_->CurrentMediaType();
        return S_OK;
    }

    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
        const BITMAPINFOHEADER* bmi = GetBitmapHeader(input_->CurrentMediaType());
        if (!bmi) return E_UNEXPECTED;
        ALLOCATOR_PROPERTIES want = *request;
        if (want.cBuffers < 1) want.cBuffers = 1;
        if (want.cbBuffer < static_cast<long>(bmi->biSizeImage)) want.cbBuffer = static_cast<long>(bmi->biSizeImage);
        ALLOCATOR_PROPERTIES got{};
        const HRESULT hr = allocator->SetProperties(&want, &got);
        if (FAILED(hr)) return hr;
        return got.cBuffers >= want.cBuffers && got.cbBuffer >= want.cbBuffer ? S_OK : E_FAIL;
    }

    HRESULT Transform(IMediaSample* in, IMediaSample* out) override {
        BYTE* source = nullptr;
        BYTE* target = nullptr;
        HRESULT hr = in->GetPointer(&source);
        if (SUCCEEDED(hr)) hr = out->GetPointer(&target);
        if (FAILED(hr)) return hr;
        const long length = in->GetActualDataLength();
        if (length < 0 || length > out->GetSize()) return E_FAIL;
        memcpy(target, source, static_cast<size_t>(length));
        return out->SetActualDataLength(length);
    }

private:
    explicit CPassThrough(IUnknown* outer) : CTransformFilter(L"pass-through transform", outer, kClsidPassThrough) {}
};

const REGPINTYPES kVideoAny = {&MEDIATYPE_Video, &MEDIASUBTYPE_NULL};
const REGFILTERPINS kPins[] = {
    {const_cast<LPWSTR>(L"Input"), FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, &kVideoAny},
    {const_cast<LPWSTR>(L"Output"), FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, &kVideoAny},
};
const FilterSetup kSetup = {MERIT_DO_NOT_USE, 2, kPins};

const FactoryTemplate kTemplates[] = {
    {kPassThroughName, &kClsidPassThrough, &CPassThrough::CreateInstance, &kSetup},
};

}  // namespace

FILTERBASE_DEFINE_SERVER_EXPORTS(kTemplates)
