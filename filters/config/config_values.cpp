#include "filters/config/config_values.h"

namespace kestrune {

HRESULT AnsiToBstr(const char* text, BSTR* out) {
    *out = nullptr;
    if (!text) return S_OK;
    const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (length <= 0) return HRESULT_FROM_WIN32(GetLastError());
    BSTR bstr = SysAllocStringLen(nullptr, static_cast<UINT>(length - 1));
    if (!bstr) return E_OUTOFMEMORY;
    MultiByteToWideChar(CP_ACP, 0, text, -1, bstr, length);
    *out = bstr;
    return S_OK;
}

std::string BstrToAnsi(BSTR text) {
    const int wideLength = static_cast<int>(SysStringLen(text));
    if (wideLength == 0) return {};
    const int length = WideCharToMultiByte(CP_ACP, 0, text, wideLength, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return {};
    std::string ansi(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, wideLength, ansi.data(), length, nullptr, nullptr);
    return ansi;
}

HRESULT StoreVariant(const VARIANT& in, StoredVariant* out) {
    if (!IsStoredType(V_VT(&in))) return DISP_E_BADVARTYPE;
    out->type = V_VT(&in);
    out->value = {};
    out->text.clear();
    if (out->type == kStoredBstr) {
        const BSTR text = V_BSTR(&in);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(text);
        out->text.assign(bytes, bytes + SysStringByteLen(text));
    } else {
        // x86 is little-endian: the value's first bytes in memory are its stored bytes.
        std::memcpy(out->value.data(), &V_I8(&in), StoredValueWidth(out->type));
    }
    return S_OK;
}

HRESULT RestoreVariant(const StoredVariant& in, VARIANT* out) {
    VariantInit(out);
    if (!IsStoredType(in.type)) return DISP_E_BADVARTYPE;
    if (in.type == kStoredBstr) {
        static const char kEmpty[1] = {};
        const char* bytes = in.text.empty() ? kEmpty : reinterpret_cast<const char*>(in.text.data());
        BSTR text = SysAllocStringByteLen(bytes, static_cast<UINT>(in.text.size()));
        if (!text) return E_OUTOFMEMORY;
        V_BSTR(out) = text;
    } else {
        std::memcpy(&V_I8(out), in.value.data(), StoredValueWidth(in.type));
    }
    V_VT(out) = in.type;
    return S_OK;
}

HRESULT CKestruneConfigIntItem::GetItem(VARIANT* value, BSTR* name) const {
    if (value) {
        V_VT(value) = VT_I4;
        V_I4(value) = value_;
    }
    return name ? AnsiToBstr(Name(), name) : S_OK;
}

bool CKestruneConfigIntItem::Matches(VARIANT* v) const {
    if (V_VT(v) != VT_I4 && FAILED(VariantChangeType(v, v, 0, VT_I4))) return false;
    return V_I4(v) == value_;
}

HRESULT CKestruneConfigFlagItem::GetItem(VARIANT* value, BSTR* name) const {
    if (value) {
        V_VT(value) = VT_BOOL;
        V_BOOL(value) = value_ ? 1 : 0;
    }
    return name ? AnsiToBstr(Name(), name) : S_OK;
}

bool CKestruneConfigFlagItem::Matches(VARIANT* v) const {
    if (V_VT(v) != VT_BOOL && FAILED(VariantChangeType(v, v, 0, VT_BOOL))) return false;
    return (V_BOOL(v) != 0) == value_;
}

bool CKestruneConfigRange::Accepts(VARIANT* v) const {
    if (V_VT(v) != VT_I4 && FAILED(VariantChangeType(v, v, 0, VT_I4))) return false;
    return minimum_ < V_I4(v) && V_I4(v) < maximum_;
}

}  // namespace kestrune
