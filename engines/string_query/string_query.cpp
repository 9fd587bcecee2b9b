// The string query object: three queries over a caller's text buffer that tell the
// application which DV device names belong to the listed families with their own handling.
// Query 1 answers "include MicroMV" with the text device names are searched in, and an
// empty input with an empty answer (callers use it to learn that the object exists);
// queries 2 and 3 answer the first and second listed family name.
#include <windows.h>

#include <cstring>
#include <new>

#include "engines/interfaces.h"
#include "filters/base/server.h"

namespace {

constexpr char kIncludeQuery[] = "include MicroMV";
constexpr char kFirstListed[] = "MicroMV";
constexpr char kSecondListed[] = "MPEG-2 TS Camcorder";

// Writes `answer` into the caller's buffer; an answer that does not fit leaves the buffer
// empty and reports the shortage.
HRESULT Answer(char* buffer, DWORD bytes, const char* answer) {
    const size_t length = strlen(answer);
    if (length >= bytes) {
        buffer[0] = 0;
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    }
    memcpy(buffer, answer, length + 1);
    return S_OK;
}

class CEngineInfo final : public CUnknown, public IEngineInfo {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr) {
        auto* object = new (std::nothrow) CEngineInfo(outer);
        if (!object) *hr = E_OUTOFMEMORY;
        return object;
    }
    FILTERBASE_DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IEngineInfo) return GetInterface(static_cast<IEngineInfo*>(this), out);
        return CUnknown::NonDelegatingQueryInterface(iid, out);
    }

    HRESULT STDMETHODCALLTYPE QueryString(char* buffer, DWORD bytes) override {
        if (!buffer || bytes == 0) return E_INVALIDARG;
        // The input is read only within the caller's buffer.
        const size_t length = strnlen(buffer, bytes);
        if (length == bytes) {
            buffer[0] = 0;
            return E_INVALIDARG;
        }
        if (length == 0) return S_OK;
        if (strcmp(buffer, kIncludeQuery) == 0) return Answer(buffer, bytes, kFirstListed);
        buffer[0] = 0;
        return E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE QueryString2(char* buffer, DWORD bytes) override {
        if (!buffer || bytes == 0) return E_INVALIDARG;
        return Answer(buffer, bytes, kFirstListed);
    }
    HRESULT STDMETHODCALLTYPE QueryString3(char* buffer, DWORD bytes) override {
        if (!buffer || bytes == 0) return E_INVALIDARG;
        return Answer(buffer, bytes, kSecondListed);
    }

private:
    explicit CEngineInfo(IUnknown* outer) : CUnknown(L"string query", outer) {}
};

const FactoryTemplate kTemplates[] = {
    {L"Engine string query", &CLSID_EngineInfo, &CEngineInfo::CreateInstance, nullptr},
};

}  // namespace

FILTERBASE_DEFINE_SERVER_EXPORTS(kTemplates)
