// The configuration object a filter embeds: its list of GUID-keyed values (config_values.h)
// behind IKestruneConfig (and IKestruneConfigEx in the multiplexer's build), persistence in
// configuration streams and in the registry.
//
// One source, three builds chosen at compile time:
//   EncoderBuild  stream layout v1, integers as VT_INT, no names
//   DecoderBuild  stream layout v1, integers as VT_I4, values may carry a registry name
//   MuxerBuild    stream layout v2, display names, active flags, value lists, exclusive
//                 ranges, IKestruneConfigEx and the notification sink
//
// The object is an aggregated part of its owner: QueryInterface, AddRef and Release go to
// the owner's IUnknown, which answers the configuration IIDs with this object. The owner
// supplies CheckVersion and OnChange and builds its table of values in its constructor.
//
// Locking: every read and write of a bound field through the framework happens under
// ValuesLock(). OnChange and CheckVersion are called without it, so an owner's OnChange
// takes ValuesLock() while it copies its record; owner code that reads or changes bound
// fields from its own threads, calls a value's Assign or uses what FindValue returned
// takes it as well. Building the table may throw std::bad_alloc out of the owner's
// constructor; every interface method answers E_OUTOFMEMORY or E_UNEXPECTED instead of
// letting an exception out.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <type_traits>
#include <vector>

#include "filters/config/config_stream.h"
#include "filters/config/config_values.h"
#include "filters/config/kestrune_config.h"

namespace kestrune {

struct EncoderBuild {
    using Interface = IKestruneConfig;
    static constexpr StreamLayout kLayout = StreamLayout::v1;
    static constexpr bool kIntAsVtInt = true;
    static constexpr bool kRegistryNames = false;
    static constexpr bool kExtended = false;
};

struct DecoderBuild {
    using Interface = IKestruneConfig;
    static constexpr StreamLayout kLayout = StreamLayout::v1;
    static constexpr bool kIntAsVtInt = false;
    static constexpr bool kRegistryNames = true;
    static constexpr bool kExtended = false;
};

struct MuxerBuild {
    using Interface = IKestruneConfigEx;
    static constexpr StreamLayout kLayout = StreamLayout::v2;
    static constexpr bool kIntAsVtInt = false;
    static constexpr bool kRegistryNames = false;
    static constexpr bool kExtended = true;
};

// The registry value that holds the configuration stream's bytes.
inline constexpr char kRegistryStreamValue[] = "SaveToRegistry";
// A stored stream larger than this is refused unread.
inline constexpr DWORD kMaxRegistryStreamBytes = 16u << 20;

// Single fields on an IStream, for owners that keep more after the framework's part of a
// stream (counts, pin numbers, children). Writes report the stream's failure (a short
// write is STG_E_MEDIUMFULL); reads report a short read as STG_E_READFAULT, the stream's
// own error as it is, and a VARIANT type the framework never writes as DISP_E_BADVARTYPE.
HRESULT ConfigStreamWriteGuid(IStream* stream, const GUID& guid);
HRESULT ConfigStreamWriteDword(IStream* stream, std::uint32_t value);
HRESULT ConfigStreamWriteVariant(IStream* stream, const VARIANT& value);
HRESULT ConfigStreamReadGuid(IStream* stream, GUID* guid);
HRESULT ConfigStreamReadDword(IStream* stream, std::uint32_t* value);
// value receives a new VARIANT (the caller clears it); nothing on failure.
HRESULT ConfigStreamReadVariant(IStream* stream, VARIANT* value);

template <class Build>
class CImplementKestruneConfigBase : public Build::Interface {
public:
    // owner: the IUnknown that owns this part (not referenced: the part lives inside it);
    // classId: answered by GetClassID, owned by the caller.
    CImplementKestruneConfigBase(IUnknown* owner, const CLSID* classId) : owner_(owner), classId_(classId) {}
    virtual ~CImplementKestruneConfigBase();
    CImplementKestruneConfigBase(const CImplementKestruneConfigBase&) = delete;
    CImplementKestruneConfigBase& operator=(const CImplementKestruneConfigBase&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        return owner_->QueryInterface(iid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return owner_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return owner_->Release(); }

    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* out) override;
    HRESULT STDMETHODCALLTYPE IsDirty() override { return dirty_ ? S_OK : S_FALSE; }
    HRESULT STDMETHODCALLTYPE Load(IStream* stream) override;
    HRESULT STDMETHODCALLTYPE Save(IStream* stream, BOOL clearDirty) override;
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER* size) override;

    HRESULT STDMETHODCALLTYPE GetDefaultValue(const GUID* key, VARIANT* value) override;
    HRESULT STDMETHODCALLTYPE GetParameterRange(const GUID*, VARIANT*, VARIANT*, VARIANT*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetValue(const GUID* key, VARIANT* value) override;
    HRESULT STDMETHODCALLTYPE IsWritable(const GUID* key) override;
    HRESULT STDMETHODCALLTYPE IsSupported(const GUID* key) override;
    HRESULT STDMETHODCALLTYPE ResetToDefaults() override;
    HRESULT STDMETHODCALLTYPE SetValue(const GUID* key, VARIANT* value) override;
    HRESULT STDMETHODCALLTYPE Commit(VARIANT* message) override;
    HRESULT STDMETHODCALLTYPE SaveStreamToRegistry(HKEY root, const char* subkey) override;
    HRESULT STDMETHODCALLTYPE LoadStreamFromRegistry(HKEY root, const char* subkey) override;

    // Owner hooks. CheckVersion: S_OK when Version() (just read by Load) is the owner's own
    // version. OnChange: applies the record to the running filter; may put a message BSTR
    // into message (which may be null) and fail.
    virtual HRESULT CheckVersion() = 0;
    virtual HRESULT OnChange(VARIANT* message) = 0;

    // Owner operations.
    // Appends a value; the list order is the order of the calls and of the stream.
    CKestruneConfigValueWrapper* AddValue(std::unique_ptr<CKestruneConfigValueWrapper> value);
    template <class M>
    CKestruneConfigTypedValue<M>* AddTypedValue(const GUID* key, bool writable, const char* name, bool active, M* field,
                                                M defaultValue, VARTYPE type = VarTypeOf<M>(Build::kIntAsVtInt)) {
        auto value =
            std::make_unique<CKestruneConfigTypedValue<M>>(key, writable, name, active, type, field, defaultValue);
        auto* raw = value.get();
        AddValue(std::move(value));
        return raw;
    }
    // The first value whose key equals *key; with activeOnly an inactive value counts as
    // absent; a null key gives null. Does not lock: the caller holds ValuesLock() while it
    // uses the value.
    CKestruneConfigValueWrapper* FindValue(const GUID* key, bool activeOnly) const;
    // Every active writable value to its default, without OnChange.
    void ResetAll();
    // SetValue's body without the pointer checks and the exception guard.
    HRESULT SetByGuid(const GUID* key, VARIANT* value, bool activeOnly);
    std::mutex& ValuesLock() const { return lock_; }
    std::uint32_t Version() const { return version_; }
    void SetVersion(std::uint32_t version) { version_ = version; }
    void SetDirty() { dirty_ = true; }
    // SaveStreamToRegistry with the stream the new bytes are first saved into given by the
    // caller; SaveStreamToRegistry passes a fresh memory stream.
    HRESULT SaveStreamToRegistryThrough(IStream* scratch, HKEY root, const char* subkey);

protected:
    std::size_t ValueCount() const { return values_.size(); }
    CKestruneConfigValueWrapper& ValueAt(std::size_t i) const { return *values_[i]; }

private:
    bool Written(const CKestruneConfigValueWrapper& value) const;
    HRESULT SaveBytes(std::vector<std::uint8_t>* out) const;
    HRESULT ApplyEntries(const std::vector<StoredEntry>& entries);
    template <class Read>
    HRESULT GetWith(const GUID* key, VARIANT* value, Read read);

    IUnknown* owner_;
    const CLSID* classId_;
    std::vector<std::unique_ptr<CKestruneConfigValueWrapper>> values_;
    std::atomic<bool> dirty_{false};
    std::atomic<std::uint32_t> version_{0};
    mutable std::mutex lock_;
};

// The multiplexer's build: IKestruneConfigEx on the same object, and the held sink.
class CImplementKestruneConfigEx : public CImplementKestruneConfigBase<MuxerBuild> {
public:
    using CImplementKestruneConfigBase::CImplementKestruneConfigBase;
    ~CImplementKestruneConfigEx() override;

    HRESULT STDMETHODCALLTYPE EnumParameters(ULONG* count, const GUID** keys) override;
    HRESULT STDMETHODCALLTYPE GetParameterInfo(const GUID* key, BSTR* name, ULONG* count, VARIANT* values,
                                               BSTR* names) override;
    HRESULT STDMETHODCALLTYPE GetEnumName(const GUID* key, VARIANT* value, BSTR* name) override;
    HRESULT STDMETHODCALLTYPE GetEnumValue(const GUID* key, BSTR* text, VARIANT* value) override;
    HRESULT STDMETHODCALLTYPE SetNotifySink(IUnknown* sink) override;
    HRESULT STDMETHODCALLTYPE ReservedMethod() override { return E_NOTIMPL; }

    // Sets the active flag of the first value with that key; unknown keys are ignored.
    void SetValueActive(const GUID* key, bool active);
    // The held sink with a reference added for the caller, or null.
    IKestruneConfigSink* NotifySink() const;

private:
    IKestruneConfigSink* sink_ = nullptr;
};

template <class Build>
using CImplementKestruneConfig =
    std::conditional_t<Build::kExtended, CImplementKestruneConfigEx, CImplementKestruneConfigBase<Build>>;

// The holder over the owner's settings record T: values are bound to members of *record.
template <class Build, class T>
class CKestruneConfig : public CImplementKestruneConfig<Build> {
public:
    CKestruneConfig(IUnknown* owner, const CLSID* classId, T* record)
        : CImplementKestruneConfig<Build>(owner, classId), record_(record) {}
    T* Record() const { return record_; }

    using CImplementKestruneConfig<Build>::AddValue;

    template <class M>
    CKestruneConfigTypedValue<M>* AddValue(const GUID* key, bool writable, M T::*field,
                                           M defaultValue) requires(!Build::kExtended) {
        return this->AddTypedValue(key, writable, nullptr, true, &(record_->*field), defaultValue);
    }
    template <class M>
    CKestruneConfigTypedValue<M>* AddValue(const GUID* key, bool writable, M T::*field, M defaultValue,
                                           const char* registryName) requires Build::kRegistryNames {
        return this->AddTypedValue(key, writable, registryName, true, &(record_->*field), defaultValue);
    }
    template <class M>
    CKestruneConfigTypedValue<M>* AddValue(const GUID* key, bool writable, const char* displayName, bool active,
                                           M T::*field, M defaultValue) requires Build::kExtended {
        return this->AddTypedValue(key, writable, displayName, active, &(record_->*field), defaultValue);
    }

private:
    T* record_;
};

extern template class CImplementKestruneConfigBase<EncoderBuild>;
extern template class CImplementKestruneConfigBase<DecoderBuild>;
extern template class CImplementKestruneConfigBase<MuxerBuild>;

}  // namespace kestrune
