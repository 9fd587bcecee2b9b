#include "filters/config/config_impl.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

namespace kestrune {

namespace {

static_assert(sizeof(GUID) == 16);

// COM methods never let an exception out: an allocation failure is E_OUTOFMEMORY, anything
// else E_UNEXPECTED.
template <class F>
HRESULT Guarded(F&& f) noexcept {
    try {
        return f();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

StoredGuid ToStored(const GUID& guid) {
    StoredGuid bytes;
    std::memcpy(bytes.data(), &guid, bytes.size());
    return bytes;
}

bool SameKey(const GUID& a, const StoredGuid& b) {
    return std::memcmp(&a, b.data(), b.size()) == 0;
}

// A VARIANT that clears itself.
struct ScopedVariant {
    VARIANT v;
    ScopedVariant() { VariantInit(&v); }
    ~ScopedVariant() { VariantClear(&v); }
    ScopedVariant(ScopedVariant&& other) noexcept : v(other.v) { VariantInit(&other.v); }
    ScopedVariant(const ScopedVariant&) = delete;
    ScopedVariant& operator=(const ScopedVariant&) = delete;
};

// Reads from an IStream, remembering the stream's own failure so that Load can answer it.
class IStreamSource final : public ByteSource {
public:
    explicit IStreamSource(IStream* stream) : stream_(stream) {
        STATSTG stat{};
        LARGE_INTEGER zero{};
        ULARGE_INTEGER position{};
        if (SUCCEEDED(stream->Stat(&stat, STATFLAG_NONAME)) &&
            SUCCEEDED(stream->Seek(zero, STREAM_SEEK_CUR, &position)) && stat.cbSize.QuadPart >= position.QuadPart)
            remaining_ = stat.cbSize.QuadPart - position.QuadPart;
    }

    bool Read(void* dst, std::size_t n) override {
        auto* out = static_cast<std::uint8_t*>(dst);
        while (n) {
            ULONG got = 0;
            const HRESULT hr = stream_->Read(out, static_cast<ULONG>(std::min<std::size_t>(n, 1u << 30)), &got);
            if (FAILED(hr)) {
                failure_ = hr;
                return false;
            }
            if (got == 0) return false;
            got = static_cast<ULONG>(std::min<std::size_t>(got, n));
            out += got;
            n -= got;
            if (remaining_) *remaining_ -= std::min<std::uint64_t>(*remaining_, got);
        }
        return true;
    }
    std::optional<std::uint64_t> Remaining() const override { return remaining_; }
    HRESULT Failure() const { return failure_; }

private:
    IStream* stream_;
    std::optional<std::uint64_t> remaining_;
    HRESULT failure_ = S_OK;
};

HRESULT WriteAll(IStream* stream, const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ULONG written = 0;
        const auto n = static_cast<ULONG>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
        const HRESULT hr = stream->Write(bytes.data() + done, n, &written);
        if (FAILED(hr)) return hr;
        if (written == 0) return STG_E_MEDIUMFULL;
        done += std::min<std::size_t>(written, n);
    }
    return S_OK;
}

// Every byte of a stream from its start.
HRESULT ReadWhole(IStream* stream, std::vector<std::uint8_t>* bytes) {
    STATSTG stat{};
    HRESULT hr = stream->Stat(&stat, STATFLAG_NONAME);
    if (FAILED(hr)) return hr;
    if (stat.cbSize.QuadPart > kMaxRegistryStreamBytes) return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    LARGE_INTEGER zero{};
    hr = stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    if (FAILED(hr)) return hr;
    bytes->resize(static_cast<std::size_t>(stat.cbSize.QuadPart));
    IStreamSource source(stream);
    if (!source.Read(bytes->data(), bytes->size()))
        return FAILED(source.Failure()) ? source.Failure() : STG_E_READFAULT;
    return S_OK;
}

HRESULT StreamFailure(StreamStatus status, const IStreamSource& source) {
    switch (status) {
        case StreamStatus::ok:
            return S_OK;
        case StreamStatus::shortRead:
            return FAILED(source.Failure()) ? source.Failure() : STG_E_READFAULT;
        case StreamStatus::badType:
            return DISP_E_BADVARTYPE;
        case StreamStatus::tooMany:
        case StreamStatus::textTooLong:
            return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    }
    return E_UNEXPECTED;
}

struct RegKey {
    HKEY key = nullptr;
    ~RegKey() {
        if (key) RegCloseKey(key);
    }
};

// Deletes every value of key except the stream value. Names are collected first, since
// deleting while enumerating by index would skip values.
void DeleteOtherValues(HKEY key) {
    std::vector<std::string> names;
    constexpr DWORD kMaxValues = 65536;
    for (DWORD index = 0; index < kMaxValues; ++index) {
        char name[16384];
        DWORD length = sizeof name;
        const LSTATUS status = RegEnumValueA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS) continue;
        if (lstrcmpiA(name, kRegistryStreamValue) != 0) names.emplace_back(name, length);
    }
    for (const std::string& name : names)
        RegDeleteValueA(key, name.c_str());
}

}  // namespace

HRESULT ConfigStreamWriteGuid(IStream* stream, const GUID& guid) {
    if (!stream) return E_POINTER;
    return Guarded([&] {
        std::vector<std::uint8_t> bytes;
        ConfigStreamWriteGuid(&bytes, ToStored(guid));
        return WriteAll(stream, bytes);
    });
}

HRESULT ConfigStreamWriteDword(IStream* stream, std::uint32_t value) {
    if (!stream) return E_POINTER;
    return Guarded([&] {
        std::vector<std::uint8_t> bytes;
        ConfigStreamWriteDword(&bytes, value);
        return WriteAll(stream, bytes);
    });
}

HRESULT ConfigStreamWriteVariant(IStream* stream, const VARIANT& value) {
    if (!stream) return E_POINTER;
    return Guarded([&] {
        StoredVariant stored;
        HRESULT hr = StoreVariant(value, &stored);
        if (FAILED(hr)) return hr;
        std::vector<std::uint8_t> bytes;
        ConfigStreamWriteVariant(&bytes, stored);
        return WriteAll(stream, bytes);
    });
}

HRESULT ConfigStreamReadGuid(IStream* stream, GUID* guid) {
    if (!stream || !guid) return E_POINTER;
    IStreamSource source(stream);
    StoredGuid bytes;
    const HRESULT hr = StreamFailure(ConfigStreamReadGuid(source, &bytes), source);
    if (SUCCEEDED(hr)) std::memcpy(guid, bytes.data(), bytes.size());
    return hr;
}

HRESULT ConfigStreamReadDword(IStream* stream, std::uint32_t* value) {
    if (!stream || !value) return E_POINTER;
    IStreamSource source(stream);
    return StreamFailure(ConfigStreamReadDword(source, value), source);
}

HRESULT ConfigStreamReadVariant(IStream* stream, VARIANT* value) {
    if (!stream || !value) return E_POINTER;
    return Guarded([&] {
        IStreamSource source(stream);
        StoredVariant stored;
        const HRESULT hr = StreamFailure(ConfigStreamReadVariant(source, &stored), source);
        return FAILED(hr) ? hr : RestoreVariant(stored, value);
    });
}

template <class Build>
CImplementKestruneConfigBase<Build>::~CImplementKestruneConfigBase() {
    for (auto& value : values_)
        value.reset();  // in list order
}

template <class Build>
CKestruneConfigValueWrapper* CImplementKestruneConfigBase<Build>::AddValue(
    std::unique_ptr<CKestruneConfigValueWrapper> value) {
    std::lock_guard guard(lock_);
    values_.push_back(std::move(value));
    return values_.back().get();
}

template <class Build>
CKestruneConfigValueWrapper* CImplementKestruneConfigBase<Build>::FindValue(const GUID* key, bool activeOnly) const {
    if (!key) return nullptr;
    for (const auto& value : values_) {
        if (IsEqualGUID(*value->Key(), *key)) return (activeOnly && !value->Active()) ? nullptr : value.get();
    }
    return nullptr;
}

template <class Build>
void CImplementKestruneConfigBase<Build>::ResetAll() {
    std::lock_guard guard(lock_);
    for (const auto& value : values_) {
        if (!value->Active()) continue;
        ScopedVariant v;
        if (SUCCEEDED(value->GetDefaultVariant(&v.v)) && value->Writable()) value->SetVariant(&v.v);
    }
}

template <class Build>
HRESULT CImplementKestruneConfigBase<Build>::SetByGuid(const GUID* key, VARIANT* in, bool activeOnly) {
    std::lock_guard guard(lock_);
    CKestruneConfigValueWrapper* value = FindValue(key, activeOnly);
    if (!value) return E_INVALIDARG;
    if (!value->Writable()) return E_ACCESSDENIED;
    if (const CKestruneConfigRange* range = value->Range(); range && !range->Accepts(in)) return E_FAIL;
    return value->SetVariant(in);
}

template <class Build>
HRESULT CImplementKestruneConfigBase<Build>::GetClassID(CLSID* out) {
    if (!out) return E_POINTER;
    *out = *classId_;
    return S_OK;
}

template <class Build>
bool CImplementKestruneConfigBase<Build>::Written(const CKestruneConfigValueWrapper& value) const {
    return Build::kLayout == StreamLayout::v1 || (value.Active() && value.Writable());
}

template <class Build>
HRESULT CImplementKestruneConfigBase<Build>::GetSizeMax(ULARGE_INTEGER* size) {
    if (!size) return E_POINTER;
    return Guarded([&] {
        std::lock_guard guard(lock_);
        const auto written = std::count_if(values_.begin(), values_.end(), [&](const auto& v) { return Written(*v); });
        size->QuadPart = kHeaderSize + static_cast<ULONGLONG>(written) * EntrySize(Build::kLayout);
        return S_OK;
    });
}

template <class Build>
HRESULT CImplementKestruneConfigBase<Build>::SaveBytes(std::vector<std::uint8_t>* out) const {
    std::lock_guard guard(lock_);
    std::vector<StoredEntry> entries;
    for (const auto& value : values_) {
        if (!Written(*value)) continue;
        StoredEntry& entry = entries.emplace_back();
        entry.key = ToStored(*value->Key());
        ScopedVariant v;
        HRESULT hr = value->GetVariant(&v.v);
        if (SUCCEEDED(hr)) hr = StoreVariant(v.v, &entry.variant);
        if (FAILED(hr)) return hr;
    }
    out->clear();
    ConfigStreamWriteGuid(out, kConfigStreamHeaderBytes);
    ConfigStreamWriteDword(out, version_);
    ConfigStreamWriteDword(out, static_cast<std::uint32_t>(entries.size()));
    for (const StoredEntry& entry : entries)
        ConfigStreamWriteEntry(out, Build::kLayout, entry);
    return S_OK;
}

template <class Build>
HRESULT CImplementKestruneConfigBase<Build>::Save(IStream* stream, BOOL) {
    if (!stream) return E_POINTER;
    return Guarded([&] {
        std::vector<std::uint8_t> bytes;
        const HRESULT hr = SaveBytes(&bytes);
        return FAILED(hr) ? hr : WriteAll(stream, bytes);
    });
}

template <class Build>
HRESULT CImplementKestruneConfigBase<Build>::ApplyEntries(const std::vector<StoredEntry>& entries) {
    // Every BSTR is allocated before the first value changes, so a failure changes nothing.
    std::vector<ScopedVariant> variants(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const HRESULT hr = RestoreVariant(entries[i].variant, &variants[i].v);
        if (FAILED(hr)) return hr;
    }
    std::lock_guard guard(lock_);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        // Entries are matched by key, not position, among all values, active or not.
        CKestruneConfigValueWrapper* value = nullptr;
        for (const auto& candidate : values_) {
            if (SameKey(*candidate->Key(), entries[i].key)) {
                value = candidate.get();
                break;
            }
        }
        if (!value) continue;
        VARIANT* v = &variants[i].v;
        if constexpr (Build::kLayout == StreamLayout::v1) {
            if (value->Writable()) value->SetVariant(v);  // a refused conversion leaves the field
        } else {
            const CKestruneConfigRange* range = value->Range();
            if (value->Writable() && (!range || range->Accepts(v))) value->SetVariant(v);
            value->SetActive(entries[i].active != 0);
        }
    }
    return S_OK;
}

template <class Build>
HRESULT CImplementKestruneConfigBase<Build>::Load(IStream* stream) {
    if (!stream) return E_POINTER;
    return Guarded([&] {
        const std::uint32_t remembered = version_;
        IStreamSource source(stream);
        StoredHeader header;
        if (ConfigStreamReadHeader(source, &header) != StreamStatus::ok) return E_FAIL;
        version_ = header.version;
        if (header.guid != kConfigStreamHeaderBytes || FAILED(CheckVersion())) {
            version_ = remembered;
            return E_FAIL;
        }
        // The whole stream is read and checked before anything is applied: a damaged stream
        // changes no value.
        std::vector<StoredEntry> entries;
        HRESULT hr = StreamFailure(ConfigStreamReadEntries(source, Build::kLayout, &entries), source);
        if (SUCCEEDED(hr)) hr = ApplyEntries(entries);
        if (FAILED(hr)) {
            version_ = remembered;
            return hr;
        }
        return OnChange(nullptr);
    });
}

template <class Build>
template <class Read>
HRESULT CImplementKestruneConfigBase<Build>::GetWith(const GUID* key, VARIANT* out, Read read) {
    if (!key || !out) return E_POINTER;
    return Guarded([&] {
        VariantClear(out);
        std::lock_guard guard(lock_);
        const CKestruneConfigValueWrapper* value = FindValue(key, true);
        return value ? read(*value, out) : E_INVALIDARG;
    });
}

template <class Build>
HRESULT CImplementKestruneConfigBase<Build>::GetDefaultValue(const GUID* key, VARIANT* out) {
    return GetWith(key, out, [](const CKestruneConfigValueWrapper& v, VARIANT* o) { return v.GetDefaultVariant(o); });
}

template <class Build>
HRESULT CImplementKestruneConfigBase<Build>::GetValue(const GUID* key, VARIANT* out) {
    return GetWith(key, out, [](const CKestruneConfigValueWrapper& v, VARIANT* o) { return v.GetVariant(o); });
}

template <class Build>
HRESULT CImplementKestruneConfigBase<Build>::IsWritable(const GUID* key) {
    if (!key) return E_POINTER;
    return Guarded([&] {
        std::lock_guard guard(lock_);
        const CKestruneConfigValueWrapper* value = FindValue(key, true);
        if (!value) return E_INVALIDARG;
        return value->Writable() ? S_OK : S_FALSE;
    });
}

template <class Build>
HRESULT CImplementKestruneConfigBase<Build>::IsSupported(const GUID* key) {
    if (!key) return E_POINTER;
    return Guarded([&] {
        std::lock_guard guard(lock_);
        return FindValue(key, true) ? S_OK : S_FALSE;
    });
}

template <class Build>
HRESULT CImplementKestruneConfigBase<Build>::ResetToDefaults() {
    return Guarded([&] {
        ResetAll();
        const HRESULT hr = OnChange(nullptr);
        return FAILED(hr) ? hr : S_OK;
    });
}

template <class Build>
HRESULT CImplementKestruneConfigBase<Build>::SetValue(const GUID* key, VARIANT* in) {
    if (!key || !in) return E_POINTER;
    return Guarded([&] { return SetByGuid(key, in, true); });
}

template <class Build>
HRESULT CImplementKestruneConfigBase<Build>::Commit(VARIANT* message) {
    return Guarded([&] {
        if (message) VariantClear(message);
        return OnChange(message);
    });
}

template <class Build>
HRESULT CImplementKestruneConfigBase<Build>::SaveStreamToRegistryThrough(IStream* scratch, HKEY root,
                                                                         const char* subkey) {
    if (!scratch || !subkey) return E_POINTER;
    return Guarded([&] {
        // The complete new bytes first: nothing stored is touched unless they exist.
        HRESULT hr = Save(scratch, FALSE);
        std::vector<std::uint8_t> bytes;
        if (SUCCEEDED(hr)) hr = ReadWhole(scratch, &bytes);
        if (FAILED(hr)) return hr;

        RegKey key;
        DWORD disposition = 0;
        LSTATUS status = RegCreateKeyExA(root, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                         &key.key, &disposition);
        if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
        // Setting a value replaces its data at once; stale values go only after that worked.
        status = RegSetValueExA(key.key, kRegistryStreamValue, 0, REG_BINARY, bytes.data(),
                                static_cast<DWORD>(bytes.size()));
        if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
        if (disposition == REG_OPENED_EXISTING_KEY) DeleteOtherValues(key.key);
        return S_OK;
    });
}

template <class Build>
HRESULT CImplementKestruneConfigBase<Build>::SaveStreamToRegistry(HKEY root, const char* subkey) {
    if (!subkey) return E_POINTER;
    IStream* scratch = nullptr;
    HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, &scratch);
    if (FAILED(hr)) return hr;
    hr = SaveStreamToRegistryThrough(scratch, root, subkey);
    scratch->Release();
    return hr;
}

template <class Build>
HRESULT CImplementKestruneConfigBase<Build>::LoadStreamFromRegistry(HKEY root, const char* subkey) {
    if (!subkey) return E_POINTER;
    return Guarded([&] {
        std::vector<std::uint8_t> bytes;
        {
            RegKey key;
            LSTATUS status = RegOpenKeyExA(root, subkey, 0, KEY_QUERY_VALUE, &key.key);
            if (status == ERROR_FILE_NOT_FOUND) return E_UNEXPECTED;
            if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
            DWORD type = 0, size = 0;
            status = RegQueryValueExA(key.key, kRegistryStreamValue, nullptr, &type, nullptr, &size);
            if (status == ERROR_FILE_NOT_FOUND) return E_UNEXPECTED;
            if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
            // Another type stands for an empty stream, which Load refuses for its header.
            if (type == REG_BINARY) {
                // The value may change between the calls; a few attempts, then give up.
                status = ERROR_MORE_DATA;
                for (int attempt = 0; attempt < 4 && status == ERROR_MORE_DATA; ++attempt) {
                    if (size > kMaxRegistryStreamBytes) return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
                    bytes.resize(size);
                    status = RegQueryValueExA(key.key, kRegistryStreamValue, nullptr, &type, bytes.data(), &size);
                }
                if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
                bytes.resize(type == REG_BINARY ? size : 0);
            }
        }
        IStream* stream = nullptr;
        HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, &stream);
        if (FAILED(hr)) return hr;
        hr = WriteAll(stream, bytes);
        LARGE_INTEGER zero{};
        if (SUCCEEDED(hr)) hr = stream->Seek(zero, STREAM_SEEK_SET, nullptr);
        if (SUCCEEDED(hr)) hr = Load(stream);
        stream->Release();
        return hr;
    });
}

template class CImplementKestruneConfigBase<EncoderBuild>;
template class CImplementKestruneConfigBase<DecoderBuild>;
template class CImplementKestruneConfigBase<MuxerBuild>;

CImplementKestruneConfigEx::~CImplementKestruneConfigEx() {
    if (sink_) sink_->Release();
}

void CImplementKestruneConfigEx::SetValueActive(const GUID* key, bool active) {
    std::lock_guard guard(ValuesLock());
    if (CKestruneConfigValueWrapper* value = FindValue(key, false)) value->SetActive(active);
}

IKestruneConfigSink* CImplementKestruneConfigEx::NotifySink() const {
    std::lock_guard guard(ValuesLock());
    if (sink_) sink_->AddRef();
    return sink_;
}

HRESULT CImplementKestruneConfigEx::SetNotifySink(IUnknown* sink) {
    return Guarded([&] {
        IKestruneConfigSink* fresh = nullptr;
        HRESULT hr = S_OK;
        if (sink) hr = sink->QueryInterface(IID_IKestruneConfigSink, reinterpret_cast<void**>(&fresh));
        if (FAILED(hr)) fresh = nullptr;
        IKestruneConfigSink* old = nullptr;
        {
            std::lock_guard guard(ValuesLock());
            old = sink_;
            sink_ = fresh;
        }
        // Released outside the lock: a sink's destructor may call back into the object.
        if (old) old->Release();
        return hr;
    });
}

HRESULT CImplementKestruneConfigEx::EnumParameters(ULONG* count, const GUID** keys) {
    if (!count) return E_POINTER;
    return Guarded([&] {
        std::lock_guard guard(ValuesLock());
        ULONG active = 0;
        for (std::size_t i = 0; i < ValueCount(); ++i)
            active += ValueAt(i).Active() ? 1 : 0;
        if (!keys) {
            *count = active;
            return S_OK;
        }
        ULONG room = *count;
        HRESULT hr = S_FALSE;
        if (active <= room) {
            // Callers rely on the count; the answer for a complete list is E_INVALIDARG.
            *count = active;
            room = active;
            hr = E_INVALIDARG;
        }
        // The first `room` active values, in reverse list order.
        ULONG filled = 0;
        for (std::size_t i = 0; i < ValueCount() && filled < room; ++i) {
            if (!ValueAt(i).Active()) continue;
            keys[room - 1 - filled] = ValueAt(i).Key();
            ++filled;
        }
        return hr;
    });
}

HRESULT CImplementKestruneConfigEx::GetParameterInfo(const GUID* key, BSTR* name, ULONG* count, VARIANT* values,
                                                     BSTR* names) {
    if (!key) return E_POINTER;
    return Guarded([&] {
        ULONG capacity = 0;
        if (count) {
            capacity = *count;
            *count = 0;
        }
        std::lock_guard guard(ValuesLock());
        const CKestruneConfigValueWrapper* value = FindValue(key, true);
        if (!value) return S_FALSE;
        if (name) {
            const HRESULT hr = AnsiToBstr(value->Name(), name);
            if (FAILED(hr)) return hr;
        }
        const CKestruneConfigEnumList* list = value->EnumList();
        if (!list) return S_FALSE;
        if (!count) return E_POINTER;
        const auto items = static_cast<ULONG>(list->Count());
        if (capacity == 0) {
            *count = items;
            return S_FALSE;
        }
        const ULONG k = std::min(capacity, items);
        *count = k;
        for (ULONG i = k; i-- > 0;) {
            const HRESULT hr = list->Item(i).GetItem(values ? &values[i] : nullptr, names ? &names[i] : nullptr);
            if (FAILED(hr)) return hr;
        }
        return S_FALSE;
    });
}

HRESULT CImplementKestruneConfigEx::GetEnumName(const GUID* key, VARIANT* value, BSTR* name) {
    if (!key || !value || !name) return E_POINTER;
    return Guarded([&] {
        std::lock_guard guard(ValuesLock());
        const CKestruneConfigValueWrapper* found = FindValue(key, true);
        const CKestruneConfigEnumList* list = found ? found->EnumList() : nullptr;
        if (!list) return E_INVALIDARG;
        for (std::size_t i = list->Count(); i-- > 0;) {
            if (list->Item(i).Matches(value)) return list->Item(i).GetItem(nullptr, name);
        }
        return E_INVALIDARG;
    });
}

HRESULT CImplementKestruneConfigEx::GetEnumValue(const GUID* key, BSTR* text, VARIANT* value) {
    if (!key || !text || !value) return E_POINTER;
    return Guarded([&] {
        std::lock_guard guard(ValuesLock());
        const CKestruneConfigValueWrapper* found = FindValue(key, true);
        const CKestruneConfigEnumList* list = found ? found->EnumList() : nullptr;
        if (!list) return E_INVALIDARG;
        const std::string ansi = BstrToAnsi(*text);
        for (std::size_t i = list->Count(); i-- > 0;) {
            const char* itemName = list->Item(i).Name();
            if (itemName && ansi.find(itemName) != std::string::npos) return list->Item(i).GetItem(value, nullptr);
        }
        return E_INVALIDARG;
    });
}

}  // namespace kestrune
