// GUID-keyed value objects over the fields of an owner's settings record. Each value reads
// and writes its bound field through VARIANTs of one type, knows its default and whether it
// may be written; in the multiplexer's build it also carries a display name, an active flag,
// a list of named choices and an exclusive range. Callers serialise access to the bound
// fields with the configuration object's lock (config_impl.h).
#pragma once

#include <windows.h>

#include <oaidl.h>
#include <oleauto.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "filters/config/config_stream.h"

namespace kestrune {

// ANSI (system code page) text to a new BSTR; null text gives a null BSTR. E_OUTOFMEMORY
// when the allocation fails.
HRESULT AnsiToBstr(const char* text, BSTR* out);
// A BSTR (null counts as empty) to ANSI text in the system code page.
std::string BstrToAnsi(BSTR text);

// A VARIANT of a stored type into its stored form and back. Types outside the stored set
// answer DISP_E_BADVARTYPE; a BSTR allocation failure E_OUTOFMEMORY.
HRESULT StoreVariant(const VARIANT& in, StoredVariant* out);
HRESULT RestoreVariant(const StoredVariant& in, VARIANT* out);

class CKestruneConfigEnumItem {
public:
    explicit CKestruneConfigEnumItem(const char* name) : name_(name) {}
    virtual ~CKestruneConfigEnumItem() = default;
    // Either pointer may be null: value receives the item's value (written over, not
    // cleared first), name a new BSTR of the item's text.
    virtual HRESULT GetItem(VARIANT* value, BSTR* name) const = 0;
    // Converts v in place to the item's type and answers whether it equals the item.
    virtual bool Matches(VARIANT* v) const = 0;
    const char* Name() const { return name_; }

private:
    const char* name_;
};

class CKestruneConfigIntItem final : public CKestruneConfigEnumItem {
public:
    CKestruneConfigIntItem(const char* name, std::int32_t value) : CKestruneConfigEnumItem(name), value_(value) {}
    HRESULT GetItem(VARIANT* value, BSTR* name) const override;
    bool Matches(VARIANT* v) const override;

private:
    std::int32_t value_;
};

class CKestruneConfigFlagItem final : public CKestruneConfigEnumItem {
public:
    CKestruneConfigFlagItem(const char* name, bool value) : CKestruneConfigEnumItem(name), value_(value) {}
    HRESULT GetItem(VARIANT* value, BSTR* name) const override;
    bool Matches(VARIANT* v) const override;

private:
    bool value_;
};

class CKestruneConfigEnumList {
public:
    void Add(std::unique_ptr<CKestruneConfigEnumItem> item) { items_.push_back(std::move(item)); }
    void AddInt(const char* name, std::int32_t value) { Add(std::make_unique<CKestruneConfigIntItem>(name, value)); }
    void AddFlag(const char* name, bool value) { Add(std::make_unique<CKestruneConfigFlagItem>(name, value)); }
    std::size_t Count() const { return items_.size(); }
    const CKestruneConfigEnumItem& Item(std::size_t i) const { return *items_[i]; }

private:
    std::vector<std::unique_ptr<CKestruneConfigEnumItem>> items_;
};

// Accepts minimum < v < maximum, both bounds exclusive, after converting v in place to
// VT_I4; a value that cannot be converted is refused.
class CKestruneConfigRange {
public:
    CKestruneConfigRange(std::int32_t minimum, std::int32_t maximum) : minimum_(minimum), maximum_(maximum) {}
    bool Accepts(VARIANT* v) const;

private:
    std::int32_t minimum_;
    std::int32_t maximum_;
};

class CKestruneConfigValueWrapper {
public:
    // name: the display name (multiplexer build) or the registry name (decoder build).
    CKestruneConfigValueWrapper(const GUID* key, bool writable, const char* name, bool active)
        : key_(key), writable_(writable), name_(name), active_(active) {}
    virtual ~CKestruneConfigValueWrapper() = default;
    CKestruneConfigValueWrapper(const CKestruneConfigValueWrapper&) = delete;
    CKestruneConfigValueWrapper& operator=(const CKestruneConfigValueWrapper&) = delete;

    // Write the type tag and the value bytes of the value's type; callers pass a cleared VARIANT.
    virtual HRESULT GetVariant(VARIANT* out) const = 0;
    // S_OK when in had the value's type, S_FALSE when it was converted in place, or the
    // conversion's error with the field unchanged.
    virtual HRESULT SetVariant(VARIANT* in) = 0;
    virtual HRESULT GetDefaultVariant(VARIANT* out) const = 0;

    const GUID* Key() const { return key_; }
    bool Writable() const { return writable_; }
    const char* Name() const { return name_; }
    bool Active() const { return active_; }
    void SetActive(bool active) { active_ = active; }
    const CKestruneConfigEnumList* EnumList() const { return list_.get(); }
    void SetEnumList(std::unique_ptr<CKestruneConfigEnumList> list) { list_ = std::move(list); }
    const CKestruneConfigRange* Range() const { return range_.get(); }
    void SetRange(std::int32_t minimum, std::int32_t maximum) {
        range_ = std::make_unique<CKestruneConfigRange>(minimum, maximum);
    }

private:
    const GUID* key_;
    bool writable_;
    const char* name_;
    bool active_;
    std::unique_ptr<CKestruneConfigEnumList> list_;
    std::unique_ptr<CKestruneConfigRange> range_;
};

// Field types and the VARIANT type that carries them. Enumerations travel as 32-bit
// integers; the encoder's build carries its 32-bit integers as VT_INT.
template <class M>
constexpr VARTYPE VarTypeOf(bool intAsVtInt) {
    if constexpr (std::is_same_v<M, bool>) {
        return VT_BOOL;
    } else if constexpr (std::is_enum_v<M>) {
        static_assert(sizeof(M) == 4, "enumerations are stored as 32-bit integers");
        return intAsVtInt ? VT_INT : VT_I4;
    } else {
        static_assert(std::is_integral_v<M>, "value fields are integers, flags or enumerations");
        if constexpr (sizeof(M) == 1)
            return VT_I1;
        else if constexpr (sizeof(M) == 4 && std::is_signed_v<M>)
            return intAsVtInt ? VT_INT : VT_I4;
        else if constexpr (sizeof(M) == 4)
            return VT_UI4;
        else {
            static_assert(sizeof(M) == 8 && std::is_signed_v<M>, "64-bit fields are signed");
            return VT_I8;
        }
    }
}

template <class M>
class CKestruneConfigTypedValue final : public CKestruneConfigValueWrapper {
public:
    // Writes the default into the bound field.
    CKestruneConfigTypedValue(const GUID* key, bool writable, const char* name, bool active, VARTYPE type, M* field,
                              M defaultValue)
        : CKestruneConfigValueWrapper(key, writable, name, active), type_(type), field_(field), default_(defaultValue) {
        *field_ = default_;
    }

    HRESULT GetVariant(VARIANT* out) const override { return Write(*field_, out); }
    HRESULT GetDefaultVariant(VARIANT* out) const override { return Write(default_, out); }

    HRESULT SetVariant(VARIANT* in) override {
        HRESULT result = S_OK;
        if (V_VT(in) != type_) {
            const HRESULT hr = VariantChangeType(in, in, 0, type_);
            if (FAILED(hr)) return hr;
            result = S_FALSE;
        }
        *field_ = Read(*in);
        return result;
    }

    // Owner code's setter without conversion; answers whether the field changed.
    bool Assign(const M& raw) {
        const bool changed = *field_ != raw;
        *field_ = raw;
        return changed;
    }

    VARTYPE Type() const { return type_; }

private:
    HRESULT Write(M value, VARIANT* out) const {
        V_VT(out) = type_;
        std::memset(&V_I8(out), 0, sizeof(V_I8(out)));
        const auto wide = static_cast<std::int64_t>(value);
        switch (type_) {
            case VT_BOOL:
                V_BOOL(out) = wide ? 1 : 0;
                break;  // 1, not VARIANT_TRUE
            case VT_I1:
                V_I1(out) = static_cast<CHAR>(wide);
                break;
            case VT_I4:
                V_I4(out) = static_cast<LONG>(wide);
                break;
            case VT_INT:
                V_INT(out) = static_cast<INT>(wide);
                break;
            case VT_UI4:
                V_UI4(out) = static_cast<ULONG>(wide);
                break;
            default:
                V_I8(out) = wide;
                break;
        }
        return S_OK;
    }

    M Read(const VARIANT& in) const {
        std::int64_t wide = 0;
        switch (type_) {
            case VT_BOOL:
                wide = V_BOOL(&in) != 0;
                break;
            case VT_I1:
                wide = V_I1(&in);
                break;
            case VT_I4:
                wide = V_I4(&in);
                break;
            case VT_INT:
                wide = V_INT(&in);
                break;
            case VT_UI4:
                wide = V_UI4(&in);
                break;
            default:
                wide = V_I8(&in);
                break;
        }
        if constexpr (std::is_same_v<M, bool>)
            return wide != 0;
        else
            return static_cast<M>(wide);
    }

    VARTYPE type_;
    M* field_;
    M default_;
};

}  // namespace kestrune
