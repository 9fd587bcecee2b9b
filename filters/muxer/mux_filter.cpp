// The multiplexer filter: parameters, the program tree, state changes that run the
// engine, persistence and seeking forwarded upstream.
#include "filters/muxer/mux_filter.h"

#include <algorithm>
#include <cwchar>
#include <new>

#include "filters/muxer/varrow_ids.h"

using kestrune::CKestruneConfigEnumList;
using kestrune::CKestruneConfigValueWrapper;

namespace {

// A COM pointer released at the end of the scope.
template <class T>
struct Held {
    T* p = nullptr;
    ~Held() {
        if (p) p->Release();
    }
};

// Programs and streams a stored tree may hold: the transport stream's PAT and the PID
// space bound them long before these counts.
constexpr std::uint32_t kMaxStoredPrograms = 253;
constexpr std::uint32_t kMaxStoredStreams = 201;

HRESULT ReadVariantKeyObject(VARIANT* value, IUnknown** object) {
    *object = nullptr;
    if (!value || V_VT(value) != VT_UNKNOWN || !V_UNKNOWN(value)) return E_FAIL;
    *object = V_UNKNOWN(value);
    return S_OK;
}

void PutObject(VARIANT* value, IKestruneConfig* config) {
    VariantClear(value);
    V_VT(value) = VT_UNKNOWN;
    V_UNKNOWN(value) = config;
    config->AddRef();
}

}  // namespace

HRESULT SetOwnValue(kestrune::CImplementKestruneConfigEx& config, const GUID& key, int64_t value) {
    VARIANT now;
    VariantInit(&now);
    bool changed = false;
    {
        std::lock_guard guard(config.ValuesLock());
        CKestruneConfigValueWrapper* v = config.FindValue(&key, false);
        if (!v) return E_INVALIDARG;
        VARIANT before;
        VariantInit(&before);
        v->GetVariant(&before);
        VARIANT in;
        VariantInit(&in);
        V_VT(&in) = VT_I8;
        V_I8(&in) = value;
        if (FAILED(v->SetVariant(&in))) return E_FAIL;
        v->GetVariant(&now);
        changed = V_I8(&before) != V_I8(&now);
    }
    if (!changed) return S_FALSE;
    if (IKestruneConfigSink* sink = config.NotifySink()) {
        sink->OnValueChanged(&key, &now);
        sink->Release();
    }
    VariantClear(&now);
    return S_OK;
}

int64_t OwnValue(kestrune::CImplementKestruneConfigEx& config, const GUID& key) {
    std::lock_guard guard(config.ValuesLock());
    const CKestruneConfigValueWrapper* v = config.FindValue(&key, false);
    if (!v) return 0;
    VARIANT out;
    VariantInit(&out);
    v->GetVariant(&out);
    switch (V_VT(&out)) {
        case VT_BOOL:
            return V_BOOL(&out) != 0;
        case VT_I1:
            return V_I1(&out);
        case VT_I4:
            return V_I4(&out);
        default:
            return V_I8(&out);
    }
}

// ---- Programs ----

CMuxProgram::CMuxProgram(CMuxFilter* filter, HRESULT*)
    : CUnknown(L"VarrowProgram", nullptr),
      filter_(filter),
      config_(this, InnerUnknown(), &CLSID_VarrowProgram, &record_) {
    config_.AddValue(&kParamBitrate, true, "Bitrate", true, &ProgramRecord::bitrate, 0);
    config_.AddValue(&kParamProgramId, true, "Program ID", true, &ProgramRecord::programId, 0)->SetRange(0, 8191);
    config_.AddValue(&kParamProgramNumber, true, "Program #", true, &ProgramRecord::programNumber, 0)
        ->SetRange(0, 65535);
}

CMuxProgram::~CMuxProgram() = default;

HRESULT STDMETHODCALLTYPE CMuxProgram::NonDelegatingQueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (iid == IID_IPersist || iid == IID_IPersistStream || iid == IID_IKestruneConfig || iid == IID_IKestruneConfigEx)
        return GetInterface(static_cast<IKestruneConfigEx*>(&config_), out);
    return CUnknown::NonDelegatingQueryInterface(iid, out);
}

bool CMuxProgram::HoldsProgramStream() const {
    return std::any_of(streams_.begin(), streams_.end(), [](CMuxStream* s) { return s->StreamType() == 9; });
}

int CMuxProgram::ConnectedCount() const {
    return static_cast<int>(std::count_if(streams_.begin(), streams_.end(), [](CMuxStream* s) { return s->Live(); }));
}

void CMuxProgram::ShowIds(bool transport) {
    config_.SetValueActive(&kParamProgramId, transport);
    config_.SetValueActive(&kParamProgramNumber, transport);
}

HRESULT CMuxProgram::ConfigGetValue(const GUID* key, VARIANT* value) {
    if (key && value && *key == kQueryNextStream) {
        CMuxFilter* filter = filter_;
        if (!filter) return E_UNEXPECTED;
        CAutoLock tree(filter->TreeLock());
        size_t next = 0;
        if (V_VT(value) == VT_UNKNOWN && V_UNKNOWN(value)) {
            next = streams_.size();
            for (size_t i = 0; i < streams_.size(); ++i)
                if (static_cast<IUnknown*>(streams_[i]->Config()) == V_UNKNOWN(value)) next = i + 1;
        }
        if (next >= streams_.size()) {
            VariantClear(value);
            return E_FAIL;
        }
        PutObject(value, streams_[next]->Config());
        return S_OK;
    }
    return config_.BaseGetValue(key, value);
}

HRESULT CMuxProgram::ConfigSetValue(const GUID* key, VARIANT* value) {
    if (!key || !value) return E_POINTER;
    CMuxFilter* filter = filter_;
    if (!filter) return E_UNEXPECTED;
    CAutoLock lock(filter->FilterLock());
    if (*key == kCommandCreateStream) {
        if (!filter->IsStopped() || HoldsProgramStream()) return E_FAIL;
        CMuxStream* stream = filter->CreateInputPin(-1, this);
        if (!stream) return E_OUTOFMEMORY;
        PutObject(value, stream->Config());
        return S_OK;
    }
    if (*key == kCommandDeleteStream) {
        if (!filter->IsStopped()) return E_FAIL;
        IUnknown* object = nullptr;
        CMuxStream* stream = nullptr;
        if (FAILED(ReadVariantKeyObject(value, &object)) || !filter->IsStreamObject(object, &stream)) return E_FAIL;
        if (stream->Program() != this || filter->Streams().size() <= 1) return E_FAIL;
        filter->DeleteStream(stream);
        return S_OK;
    }
    if (*key == kParamProgramNumber || *key == kParamProgramId) {
        if (!filter->IsStopped()) return E_FAIL;
        const HRESULT hr = config_.BaseSetValue(key, value);
        if (FAILED(hr)) return hr;
        if (*key == kParamProgramNumber)
            filter->MakeUniqueProgramNumber(this);
        else
            filter->MakeUniquePid(&record_.programId, &record_.programId);
        filter->TreeChanged();
        return hr;
    }
    return config_.BaseSetValue(key, value);
}

HRESULT CMuxProgram::ConfigSave(IStream* stream, BOOL clearDirty) {
    CMuxFilter* filter = filter_;
    if (!filter) return E_UNEXPECTED;
    HRESULT hr = config_.BaseSave(stream, clearDirty);
    if (FAILED(hr)) return hr;
    std::vector<CMuxStream*> connected;
    for (CMuxStream* s : streams_)
        if (s->Live()) connected.push_back(s);
    hr = kestrune::ConfigStreamWriteDword(stream, static_cast<std::uint32_t>(connected.size()));
    for (CMuxStream* s : connected) {
        if (SUCCEEDED(hr)) hr = kestrune::ConfigStreamWriteDword(stream, static_cast<std::uint32_t>(s->PinNumber()));
        if (SUCCEEDED(hr)) hr = s->ConfigPart().Save(stream, clearDirty);
    }
    return hr;
}

HRESULT CMuxProgram::ConfigLoad(IStream* stream) {
    CMuxFilter* filter = filter_;
    if (!filter) return E_UNEXPECTED;
    HRESULT hr = config_.BaseLoad(stream);
    if (FAILED(hr)) return hr;
    ShowIds(filter->Output() == 2);
    filter->MakeUniqueProgramNumber(this);
    filter->MakeUniquePid(&record_.programId, &record_.programId);
    std::uint32_t count = 0;
    hr = kestrune::ConfigStreamReadDword(stream, &count);
    if (FAILED(hr)) return hr;
    if (count > kMaxStoredStreams) return E_FAIL;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t pin = 0;
        hr = kestrune::ConfigStreamReadDword(stream, &pin);
        if (FAILED(hr)) return hr;
        const bool taken = std::any_of(filter->Streams().begin(), filter->Streams().end(),
                                       [&](CMuxStream* s) { return s->PinNumber() == static_cast<int>(pin); });
        CMuxStream* s = filter->CreateInputPin(pin <= 1000 && !taken ? static_cast<int>(pin) : -1, this);
        if (!s) return E_OUTOFMEMORY;
        hr = s->ConfigPart().Load(stream);
        if (FAILED(hr)) return hr;
    }
    return hr;
}

// ---- The filter ----

const GUID& CMuxFilter::kOutputKey() {
    return kParamOutput;
}
const GUID& CMuxFilter::kCompatibilityKey() {
    return kParamCompatibility;
}

CUnknown* CMuxFilter::CreateInstance(IUnknown* outer, HRESULT* hr) {
    CMuxFilter* filter = new (std::nothrow) CMuxFilter(outer, hr);
    if (!filter) {
        *hr = E_OUTOFMEMORY;
        return nullptr;
    }
    if (FAILED(*hr)) {
        delete filter;
        return nullptr;
    }
    return filter;
}

CMuxFilter::CMuxFilter(IUnknown* outer, HRESULT* hr)
    : CBaseFilter(L"VarrowMuxer", outer, &filterLock_, CLSID_VarrowMuxer),
      config_(this, GetOwner(), &CLSID_VarrowMuxer, &record_) {
    auto* output = config_.AddValue(&kParamOutput, true, "Output", true, &FilterRecord::output, 2);
    auto outputs = std::make_unique<CKestruneConfigEnumList>();
    outputs->AddInt("Program stream", 1);
    outputs->AddInt("Transport stream", 2);
    output->SetEnumList(std::move(outputs));
    config_.AddValue(&kParamBitrate, true, "Bitrate", true, &FilterRecord::bitrate, 0);
    auto* compat = config_.AddValue(&kParamCompatibility, true, "Compatibility", true, &FilterRecord::compatibility, 0);
    auto compats = std::make_unique<CKestruneConfigEnumList>();
    compats->AddInt("None", 0);
    compats->AddInt("DVD", 1);
    compats->AddInt("SVCD", 2);
    compat->SetEnumList(std::move(compats));
    config_.AddValue(&kParamTransportStreamId, true, "Transport Stream ID", true, &FilterRecord::transportStreamId, 0)
        ->SetRange(-1, 65535);
    config_
        .AddValue(&kParamOutputBufferSize, true, "Output Buffer Size(Byte)", true, &FilterRecord::outputBufferSize,
                  120000)
        ->SetRange(2047, 512001);
    config_.AddValue(&kParamMuxerTime, false, "Muxer time", true, &FilterRecord::muxerTime, int64_t{0});
    config_.AddValue(&kParamTreeCounter, false, nullptr, false, &FilterRecord::treeCounter, int8_t{0});
    config_.AddValue(&kParamRunning, false, nullptr, false, &FilterRecord::running, false);
    config_.AddValue(&kParamOverhead, false, "Overhead %", true, &FilterRecord::overhead, 0);
    config_.AddValue(&kParamPadding, false, "Padding %", true, &FilterRecord::padding, 0);

    output_ = new (std::nothrow) CMuxOutputPin(this, &filterLock_, hr);
    if (!output_) {
        *hr = E_OUTOFMEMORY;
        return;
    }
    CAutoLock lock(&filterLock_);
    if (!CreateProgram() || !CreateInputPin(0, nullptr)) *hr = E_OUTOFMEMORY;
}

CMuxFilter::~CMuxFilter() {
    StopEngine();
    DeleteEverything();
    for (CMuxStream* s : deleted_)
        delete s;
    delete output_;
}

void CMuxFilter::DeleteEverything() {
    tearingDown_ = true;
    while (!streams_.empty())
        DeleteStream(streams_.front());
    while (!programs_.empty())
        DeleteProgram(programs_.front());
    tearingDown_ = false;
}

HRESULT STDMETHODCALLTYPE CMuxFilter::NonDelegatingQueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (iid == IID_IPersist || iid == IID_IPersistStream || iid == IID_IKestruneConfig || iid == IID_IKestruneConfigEx)
        return GetInterface(static_cast<IKestruneConfigEx*>(&config_), out);
    if (iid == IID_ISpecifyPropertyPages) return GetInterface(static_cast<ISpecifyPropertyPages*>(this), out);
    return CBaseFilter::NonDelegatingQueryInterface(iid, out);
}

HRESULT STDMETHODCALLTYPE CMuxFilter::GetPages(CAUUID* pages) {
    if (!pages) return E_POINTER;
    pages->cElems = 2;
    pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(2 * sizeof(GUID)));
    if (!pages->pElems) {
        pages->cElems = 0;
        return E_OUTOFMEMORY;
    }
    pages->pElems[0] = CLSID_VarrowSettingsPage;
    pages->pElems[1] = CLSID_VarrowVersionPage;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMuxFilter::QueryFilterInfo(FILTER_INFO* info) {
    if (!info) return E_POINTER;
    lstrcpynW(info->achName, L"Kestrune Varrow Muxer", 128);
    info->pGraph = graph_;
    if (graph_) graph_->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMuxFilter::QueryVendorInfo(LPWSTR* info) {
    if (!info) return E_POINTER;
    static const wchar_t kVendor[] = L"Kestrune Tollary";
    *info = static_cast<LPWSTR>(CoTaskMemAlloc(sizeof kVendor));
    if (!*info) return E_OUTOFMEMORY;
    memcpy(*info, kVendor, sizeof kVendor);
    return S_OK;
}

int CMuxFilter::GetPinCount() {
    CAutoLock tree(&treeLock_);
    return 1 + static_cast<int>(std::count_if(streams_.begin(), streams_.end(), [](CMuxStream* s) {
               return !OwnValue(s->ConfigPart(), kParamAutoCreated);
           }));
}

CBasePin* CMuxFilter::GetPin(int n) {
    if (n == 0) return output_;
    CAutoLock tree(&treeLock_);
    int i = 0;
    for (CMuxStream* s : streams_) {
        if (OwnValue(s->ConfigPart(), kParamAutoCreated)) continue;
        if (++i == n) return s;
    }
    return nullptr;
}

void CMuxFilter::TreeChanged() {
    SetOwnValue(config_, kParamTreeCounter, static_cast<int8_t>(OwnValue(config_, kParamTreeCounter) + 1));
}

CMuxProgram* CMuxFilter::CreateProgram() {
    HRESULT hr = S_OK;
    CMuxProgram* program = new (std::nothrow) CMuxProgram(this, &hr);
    if (!program) return nullptr;
    program->NonDelegatingAddRef();
    {
        CAutoLock tree(&treeLock_);
        programs_.insert(programs_.begin(), program);
    }
    MakeUniqueProgramNumber(program);
    int32_t pid = static_cast<int32_t>(OwnValue(program->ConfigPart(), kParamProgramId));
    MakeUniquePid(&pid, nullptr);
    SetOwnValue(program->ConfigPart(), kParamProgramId, pid);
    program->ShowIds(Output() == 2);
    TreeChanged();
    return program;
}

bool CMuxFilter::DeleteProgram(CMuxProgram* program) {
    for (CMuxStream* s : program->Streams())
        if (s->IsConnected() && !tearingDown_) return false;
    if (!tearingDown_ && programs_.size() <= 1) return false;
    while (!program->Streams().empty())
        DeleteStream(program->Streams().front());
    {
        CAutoLock tree(&treeLock_);
        programs_.erase(std::remove(programs_.begin(), programs_.end(), program), programs_.end());
    }
    program->Detach();
    program->NonDelegatingRelease();
    TreeChanged();
    return true;
}

CMuxStream* CMuxFilter::CreateInputPin(int pinNumber, CMuxProgram* program, bool found) {
    if (!program && !found) {
        // One spare pin stands ready: no second one while an unconnected pin waits.
        for (CMuxStream* s : streams_)
            if (!s->IsConnected() && !OwnValue(s->ConfigPart(), kParamAutoCreated)) return nullptr;
        program = programs_.empty() ? CreateProgram() : programs_.front();
        if (!program) return nullptr;
    }
    if (!program || (program->HoldsProgramStream() && !found)) return nullptr;
    if (pinNumber < 0) {
        pinNumber = 0;
        while (
            std::any_of(streams_.begin(), streams_.end(), [&](CMuxStream* s) { return s->PinNumber() == pinNumber; }))
            ++pinNumber;
    }
    wchar_t name[32];
    swprintf(name, 32, L"Input%d", pinNumber);
    HRESULT hr = S_OK;
    CMuxStream* stream = new (std::nothrow) CMuxStream(this, program, pinNumber, name, &hr);
    if (!stream) return nullptr;
    {
        CAutoLock tree(&treeLock_);
        streams_.push_back(stream);
        program->Streams().push_back(stream);
    }
    IncrementPinVersion();
    TreeChanged();
    return stream;
}

CMuxStream* CMuxFilter::AddFoundStream(CMuxStream* carrier, muxer::MuxProgram* program, muxer::StreamType type,
                                       const muxer::StreamMediaType& media) {
    // Held across the whole addition: Stop clears acceptFound_ and stops the found pools
    // under it, so no stream can join after the worker was told to end.
    CAutoLock hold(&attachLock_);
    if (!acceptFound_ || !engine_) return nullptr;
    CMuxStream* stream = CreateInputPin(-1, carrier->Program(), true);
    if (!stream) return nullptr;
    SetOwnValue(stream->ConfigPart(), kParamAutoCreated, 1);
    stream->SetStreamType(static_cast<int32_t>(type));
    AssignPesStreamId(stream);
    if (!stream->AttachFound(*engine_, program, carrier, type, media)) {
        DeleteStream(stream);
        return nullptr;
    }
    attached_.push_back(stream);
    return stream;
}

void CMuxFilter::StopFoundPools(CMuxStream* carrier, bool resume) {
    CAutoLock hold(&attachLock_);
    for (CMuxStream* s : attached_) {
        muxer::MuxStream* core = s->Core();
        if (!core || !s->Carrier() || (carrier && s->Carrier() != carrier)) continue;
        if (resume)
            core->Pool().Resume();
        else
            core->Pool().Stop();
    }
}

void CMuxFilter::DeleteStream(CMuxStream* stream) {
    if (!tearingDown_ && streams_.size() <= 1) return;
    stream->MarkDeleted();
    if (IPin* peer = stream->GetConnected()) {
        peer->AddRef();
        peer->Disconnect();
        stream->Disconnect();
        peer->Release();
    }
    {
        CAutoLock tree(&treeLock_);
        auto& list = stream->Program()->Streams();
        list.erase(std::remove(list.begin(), list.end(), stream), list.end());
        streams_.erase(std::remove(streams_.begin(), streams_.end(), stream), streams_.end());
        deleted_.push_back(stream);
    }
    IncrementPinVersion();
    if (!tearingDown_) TreeChanged();
}

bool CMuxFilter::MoveStream(CMuxStream* stream, CMuxProgram* target) {
    if (target->HoldsProgramStream()) return false;
    if (stream->Program() == target) return true;
    {
        CAutoLock tree(&treeLock_);
        auto& from = stream->Program()->Streams();
        from.erase(std::remove(from.begin(), from.end(), stream), from.end());
        target->Streams().push_back(stream);
        stream->SetProgram(target);
    }
    AssignPesStreamId(stream);
    RecomputeBitrates();
    TreeChanged();
    return true;
}

void CMuxFilter::RecomputeBitrates() {
    int64_t total = 0;
    for (CMuxProgram* p : programs_) {
        int64_t sum = 0;
        for (CMuxStream* s : p->Streams())
            if (s->IsConnected()) sum += OwnValue(s->ConfigPart(), kParamBitrate);
        sum = std::min<int64_t>(sum, INT32_MAX);
        SetOwnValue(p->ConfigPart(), kParamBitrate, sum);
        total += sum;
    }
    SetOwnValue(config_, kParamBitrate, std::min<int64_t>(total, INT32_MAX));
}

bool CMuxFilter::IsProgramObject(IUnknown* object, CMuxProgram** program) {
    CAutoLock tree(&treeLock_);
    for (CMuxProgram* p : programs_)
        if (static_cast<IUnknown*>(p->Config()) == object) {
            *program = p;
            return true;
        }
    return false;
}

bool CMuxFilter::IsStreamObject(IUnknown* object, CMuxStream** stream) {
    CAutoLock tree(&treeLock_);
    for (CMuxStream* s : streams_)
        if (static_cast<IUnknown*>(s->Config()) == object) {
            *stream = s;
            return true;
        }
    return false;
}

void CMuxFilter::MakeUniquePid(int32_t* field, const int32_t* self) {
    // The PIDs in use, but the field's own (a program's or stream's current one).
    std::vector<int32_t> used;
    for (CMuxProgram* p : programs_)
        used.push_back(static_cast<int32_t>(OwnValue(p->ConfigPart(), kParamProgramId)));
    for (CMuxStream* s : streams_)
        used.push_back(static_cast<int32_t>(OwnValue(s->ConfigPart(), kParamStreamId)));
    if (self) {
        auto it = std::find(used.begin(), used.end(), *self);
        if (it != used.end()) used.erase(it);
    }
    // The same rule as the engine's: 0x10..0x1FFE, unset starts at 1000, a conflict
    // restarts at 1000 and then steps by 1, wrapping to 0x10, never onto the null PID.
    int32_t candidate = *field >= 0x10 && *field <= 0x1FFE ? *field : 1000;
    bool restarted = false;
    for (int tries = 0; tries < 0x2000; ++tries) {
        if (std::find(used.begin(), used.end(), candidate) == used.end()) {
            *field = candidate;
            return;
        }
        if (!restarted) {
            candidate = 1000;
            restarted = true;
        } else {
            candidate = candidate >= 0x1FFE ? 0x10 : candidate + 1;
        }
    }
}

void CMuxFilter::MakeUniqueProgramNumber(CMuxProgram* program) {
    int32_t candidate = static_cast<int32_t>(OwnValue(program->ConfigPart(), kParamProgramNumber));
    if (candidate <= 0 || candidate > 0xFFFF) candidate = 1;
    bool restarted = false;
    for (int tries = 0; tries <= 0x10000; ++tries) {
        const bool taken = std::any_of(programs_.begin(), programs_.end(), [&](CMuxProgram* p) {
            return p != program && OwnValue(p->ConfigPart(), kParamProgramNumber) == candidate;
        });
        if (!taken) break;
        if (!restarted) {
            candidate = 1;
            restarted = true;
        } else if (++candidate > 0xFFFE) {
            candidate = 0xFFFF;
            break;
        }
    }
    SetOwnValue(program->ConfigPart(), kParamProgramNumber, candidate);
}

void CMuxFilter::AssignPesStreamId(CMuxStream* stream) {
    const int32_t type = stream->StreamType();
    int32_t first = 0, last = 0;
    if (type == 1 || type == 8 || type == 10 || (type >= 4 && type <= 6)) {
        first = 0xE0;
        last = 0xEF;
    } else if (type == 2 || type == 7 || type == 11) {
        first = 0xC0;
        last = 0xDF;
    } else if (type == 3) {
        SetOwnValue(stream->ConfigPart(), kParamStreamPesId, 0xBD);
        return;
    } else {
        return;
    }
    int32_t candidate = static_cast<int32_t>(OwnValue(stream->ConfigPart(), kParamStreamPesId));
    if (candidate < first || candidate > last) candidate = first;
    bool restarted = false;
    for (int tries = 0; tries <= last - first + 1; ++tries) {
        const bool taken =
            std::any_of(stream->Program()->Streams().begin(), stream->Program()->Streams().end(), [&](CMuxStream* s) {
                return s != stream && s->StreamType() != 3 && OwnValue(s->ConfigPart(), kParamStreamPesId) == candidate;
            });
        if (!taken) break;
        if (!restarted) {
            candidate = first;
            restarted = true;
        } else if (++candidate > last) {
            candidate = first;
        }
    }
    SetOwnValue(stream->ConfigPart(), kParamStreamPesId, candidate);
}

// ---- Values ----

HRESULT CMuxFilter::ConfigGetValue(const GUID* key, VARIANT* value) {
    if (!key || !value) return E_POINTER;
    if (*key == kParamRunning) {
        VariantClear(value);
        V_VT(value) = VT_BOOL;
        V_BOOL(value) = IsStopped() ? 0 : 1;
        return S_OK;
    }
    if (*key == kParamTreeCounter) {
        VariantClear(value);
        V_VT(value) = VT_I1;
        V_I1(value) = static_cast<CHAR>(OwnValue(config_, kParamTreeCounter));
        return S_OK;
    }
    if (*key == kQueryNextProgram) {
        CAutoLock tree(&treeLock_);
        size_t next = 0;
        if (V_VT(value) == VT_UNKNOWN && V_UNKNOWN(value)) {
            next = programs_.size();
            for (size_t i = 0; i < programs_.size(); ++i)
                if (static_cast<IUnknown*>(programs_[i]->Config()) == V_UNKNOWN(value)) next = i + 1;
        }
        if (next >= programs_.size()) {
            VariantClear(value);
            return E_FAIL;
        }
        PutObject(value, programs_[next]->Config());
        return S_OK;
    }
    return config_.BaseGetValue(key, value);
}

HRESULT CMuxFilter::SetOutput(VARIANT* value) {
    if (!IsStopped()) return E_FAIL;
    VARIANT v;
    VariantInit(&v);
    if (FAILED(VariantChangeType(&v, value, 0, VT_I4))) return E_FAIL;
    const int32_t wanted = V_I4(&v);
    if (wanted == 1)
        for (CMuxStream* s : streams_) {
            const int32_t t = s->StreamType();
            if ((t >= 4 && t <= 6) || t == 10) return E_FAIL;
        }
    if (wanted == Output()) return S_OK;
    const HRESULT hr = config_.BaseSetValue(&kParamOutput, value);
    if (FAILED(hr)) return hr;
    if (wanted == 1) {
        // One program remains: the last of the list holding a stream, else the first.
        CMuxProgram* keep = programs_.front();
        for (auto it = programs_.rbegin(); it != programs_.rend(); ++it)
            if (!(*it)->Streams().empty()) {
                keep = *it;
                break;
            }
        std::vector<CMuxProgram*> others;
        for (CMuxProgram* p : programs_)
            if (p != keep) others.push_back(p);
        for (CMuxProgram* p : others) {
            tearingDown_ = true;  // the program's last stream may go as well
            while (!p->Streams().empty())
                DeleteStream(p->Streams().front());
            tearingDown_ = false;
            DeleteProgram(p);
        }
        if (streams_.empty()) CreateInputPin(-1, keep);
    }
    config_.SetValueActive(&kParamTransportStreamId, wanted == 2);
    for (CMuxProgram* p : programs_)
        p->ShowIds(wanted == 2);
    for (CMuxStream* s : streams_)
        s->SetStreamType(s->StreamType());
    if (output_->IsConnected()) {
        output_->IncrementTypeVersion();
        IPin* peer = output_->GetConnected();
        peer->AddRef();
        peer->Disconnect();
        output_->Disconnect();
        // Connected again so that the new subtype is negotiated.
        output_->Connect(peer, nullptr);
        peer->Release();
    }
    TreeChanged();
    return S_OK;
}

HRESULT CMuxFilter::ConfigSetValue(const GUID* key, VARIANT* value) {
    if (!key || !value) return E_POINTER;
    CAutoLock lock(&filterLock_);
    if (*key == kParamOutputBufferSize) {
        VARIANT v;
        VariantInit(&v);
        if (SUCCEEDED(VariantChangeType(&v, value, 0, VT_I4)) && V_I4(&v) == OwnValue(config_, *key)) return S_FALSE;
        if (!output_->IsConnected() || !IsStopped()) return E_FAIL;
        const HRESULT hr = config_.BaseSetValue(key, value);
        if (FAILED(hr)) return hr;
        output_->ResizeBuffers();
        return hr;
    }
    if (*key == kParamOutput) return SetOutput(value);
    // The tree changes only while stopped: the worker and the upstream threads never see
    // programs or streams come and go under them.
    if (*key == kCommandCreateProgram) {
        if (Output() == 1 || !IsStopped()) return E_FAIL;
        CMuxProgram* p = CreateProgram();
        if (!p) return E_OUTOFMEMORY;
        PutObject(value, p->Config());
        return S_OK;
    }
    if (*key == kCommandDeleteProgram) {
        if (Output() == 1 || !IsStopped()) return E_FAIL;
        IUnknown* object = nullptr;
        CMuxProgram* program = nullptr;
        if (FAILED(ReadVariantKeyObject(value, &object)) || !IsProgramObject(object, &program)) return E_FAIL;
        if (!DeleteProgram(program)) return E_FAIL;
        VariantClear(value);
        return S_OK;
    }
    if (*key == kParamCompatibility || *key == kParamTransportStreamId) {
        if (!IsStopped()) return E_FAIL;
    }
    return config_.BaseSetValue(key, value);
}

HRESULT CMuxFilter::ConfigSave(IStream* stream, BOOL clearDirty) {
    CAutoLock lock(&filterLock_);
    HRESULT hr = config_.BaseSave(stream, clearDirty);
    if (FAILED(hr)) return hr;
    std::vector<CMuxProgram*> saved;
    for (CMuxProgram* p : programs_)
        if (p->ConnectedCount() > 0) saved.push_back(p);
    hr = kestrune::ConfigStreamWriteDword(stream, static_cast<std::uint32_t>(saved.size()));
    for (CMuxProgram* p : saved)
        if (SUCCEEDED(hr)) hr = p->ConfigPart().Save(stream, clearDirty);
    return hr;
}

HRESULT CMuxFilter::ConfigLoad(IStream* stream) {
    if (!stream) return E_POINTER;
    CAutoLock lock(&filterLock_);
    if (!IsStopped()) return E_FAIL;
    DeleteEverything();
    HRESULT hr = config_.BaseLoad(stream);
    if (SUCCEEDED(hr)) {
        std::uint32_t count = 0;
        hr = kestrune::ConfigStreamReadDword(stream, &count);
        if (SUCCEEDED(hr) && count > kMaxStoredPrograms) hr = E_FAIL;
        for (std::uint32_t i = 0; SUCCEEDED(hr) && i < count; ++i) {
            CMuxProgram* p = CreateProgram();
            hr = p ? p->ConfigPart().Load(stream) : E_OUTOFMEMORY;
        }
        config_.SetValueActive(&kParamTransportStreamId, Output() == 2);
    }
    // The stored streams were not connected yet; a spare pin stands ready in any case.
    CreateInputPin(-1, nullptr);
    if (programs_.empty()) CreateProgram();
    if (streams_.empty()) CreateInputPin(-1, programs_.front());
    TreeChanged();
    return hr;
}

// ---- State ----

HRESULT STDMETHODCALLTYPE CMuxFilter::Pause() {
    CAutoLock lock(&filterLock_);
    if (IsStopped()) {
        HRESULT hr = StartEngine();
        if (FAILED(hr)) return hr;
        hr = CBaseFilter::Pause();
        if (FAILED(hr)) {
            StopEngine();
            return hr;
        }
        SetOwnValue(config_, kParamRunning, 1);
        engine_->StartWorker();
        return S_OK;
    }
    return CBaseFilter::Pause();
}

HRESULT CMuxFilter::StartEngine() {
    const int32_t output = Output();
    muxer::MuxSettings settings;
    settings.output = output == 1 ? muxer::OutputKind::ProgramStream : muxer::OutputKind::TransportStream;
    settings.compatibility = static_cast<muxer::Compatibility>(Compatibility());
    settings.transportStreamId = static_cast<uint16_t>(OwnValue(config_, kParamTransportStreamId));
    engine_ = std::make_unique<muxer::MuxEngine>(settings, sink_);
    CAutoLock hold(&attachLock_);
    attached_.clear();
    // Programs that carry a connected stream, in list order (the first one exists already).
    bool first = true;
    for (CMuxProgram* p : programs_) {
        if (p->ConnectedCount() == 0) continue;
        muxer::MuxProgram* core = first ? engine_->FirstProgram() : nullptr;
        if (!first) {
            // New programs go to the front of the engine's list; keep the filter's order.
            core = engine_->Tree().CreateProgram();
        }
        first = false;
        core->programNumber = static_cast<int32_t>(OwnValue(p->ConfigPart(), kParamProgramNumber));
        core->pmtPid = static_cast<int32_t>(OwnValue(p->ConfigPart(), kParamProgramId));
        for (CMuxStream* s : p->Streams()) {
            if (!s->IsConnected()) continue;
            if (!s->Attach(*engine_, core)) {
                StopEngine();
                return E_OUTOFMEMORY;
            }
            attached_.push_back(s);
        }
    }
    SetOwnValue(config_, kParamMuxerTime, 0);
    SetOwnValue(config_, kParamOverhead, 0);
    SetOwnValue(config_, kParamPadding, 0);
    if (!engine_->Start()) {
        StopEngine();
        return E_FAIL;
    }
    for (CMuxStream* s : attached_)
        s->Publish();
    acceptFound_ = true;
    return S_OK;
}

void CMuxFilter::StopEngine() {
    if (!engine_) return;
    std::vector<CMuxStream*> found;
    {
        CAutoLock hold(&attachLock_);
        acceptFound_ = false;
        for (CMuxStream* s : attached_) {
            s->Detach();
            if (s->Carrier()) found.push_back(s);
        }
        attached_.clear();
    }
    engine_.reset();
    // The streams found in multiplexed inputs lived for this run only.
    for (CMuxStream* s : found)
        DeleteStream(s);
}

HRESULT STDMETHODCALLTYPE CMuxFilter::Stop() {
    CAutoLock lock(&filterLock_);
    if (engine_) {
        // No stream joins from now on, and an upstream thread waiting for room in a
        // found stream's pool is let go (the carrier's pin stops only later).
        {
            CAutoLock hold(&attachLock_);
            acceptFound_ = false;
        }
        StopFoundPools(nullptr);
        // The worker ends and the end step runs while the output pin still has its
        // allocator: nothing is written into a decommitted allocator or a released sample.
        engine_->Stop();
        PublishRunState();
    }
    const HRESULT hr = CBaseFilter::Stop();
    // The pins are inactive now: no upstream thread is inside its engine stream.
    StopEngine();
    SetOwnValue(config_, kParamRunning, 0);
    return hr;
}

void CMuxFilter::PublishRunState() {
    if (!engine_) return;
    SetOwnValue(config_, kParamMuxerTime, engine_->MuxerTime());
    const muxer::MuxStatistics st = engine_->Statistics();
    if (st.bytes) {
        SetOwnValue(config_, kParamPadding, st.paddingPercent);
        SetOwnValue(config_, kParamOverhead, st.overheadPercent);
    }
    CAutoLock hold(&attachLock_);
    for (CMuxStream* s : attached_)
        s->Publish();
}

void CMuxFilter::OutputSink::Write(const uint8_t* bytes, size_t size) {
    filter_->output_->Write(bytes, size);
    // The running values ("Muxer time", statistics, each stream's time and rate) are
    // published about once per output sample, on the worker, which owns them.
    sincePublished_ += size;
    if (sincePublished_ >= static_cast<uint64_t>(std::max<int64_t>(filter_->output_->SampleSize(), 2048))) {
        sincePublished_ = 0;
        filter_->PublishRunState();
    }
}

void CMuxFilter::OutputSink::DeliverPartial() {
    filter_->output_->DeliverPartial();
}

void CMuxFilter::OutputSink::DeliverEndOfStream() {
    filter_->PublishRunState();
    filter_->output_->DeliverEnd();
}

// ---- Seeking, forwarded upstream ----

IMediaSeeking* CMuxFilter::FindUpstreamSeeking(int n) {
    CAutoLock tree(&treeLock_);
    for (CMuxStream* s : streams_) {
        IMediaSeeking* seeking = s->UpstreamSeeking();
        if (!seeking) continue;
        if (n-- == 0) return seeking;
        seeking->Release();
    }
    return nullptr;
}

template <class Call>
HRESULT CMuxFilter::SeekQuery(Call call) {
    Held<IMediaSeeking> seeking{FindUpstreamSeeking(0)};
    return seeking.p ? call(seeking.p) : E_NOTIMPL;
}

template <class Call>
HRESULT CMuxFilter::SeekAll(Call call) {
    for (int n = 0;; ++n) {
        Held<IMediaSeeking> seeking{FindUpstreamSeeking(n)};
        if (!seeking.p) return S_OK;
        call(seeking.p);
    }
}

HRESULT STDMETHODCALLTYPE CMuxFilter::GetCapabilities(DWORD* c) {
    return SeekQuery([&](IMediaSeeking* s) { return s->GetCapabilities(c); });
}
HRESULT STDMETHODCALLTYPE CMuxFilter::CheckCapabilities(DWORD* c) {
    return SeekQuery([&](IMediaSeeking* s) { return s->CheckCapabilities(c); });
}
HRESULT STDMETHODCALLTYPE CMuxFilter::IsFormatSupported(const GUID* f) {
    return SeekQuery([&](IMediaSeeking* s) { return s->IsFormatSupported(f); });
}
HRESULT STDMETHODCALLTYPE CMuxFilter::QueryPreferredFormat(GUID* f) {
    return SeekQuery([&](IMediaSeeking* s) { return s->QueryPreferredFormat(f); });
}
HRESULT STDMETHODCALLTYPE CMuxFilter::GetTimeFormat(GUID* f) {
    return SeekQuery([&](IMediaSeeking* s) { return s->GetTimeFormat(f); });
}
HRESULT STDMETHODCALLTYPE CMuxFilter::IsUsingTimeFormat(const GUID* f) {
    return SeekQuery([&](IMediaSeeking* s) { return s->IsUsingTimeFormat(f); });
}
HRESULT STDMETHODCALLTYPE CMuxFilter::SetTimeFormat(const GUID* f) {
    return SeekAll([&](IMediaSeeking* s) { return s->SetTimeFormat(f); });
}
HRESULT STDMETHODCALLTYPE CMuxFilter::GetDuration(LONGLONG* d) {
    return SeekQuery([&](IMediaSeeking* s) { return s->GetDuration(d); });
}
HRESULT STDMETHODCALLTYPE CMuxFilter::GetStopPosition(LONGLONG* p) {
    return SeekQuery([&](IMediaSeeking* s) { return s->GetStopPosition(p); });
}
HRESULT STDMETHODCALLTYPE CMuxFilter::GetCurrentPosition(LONGLONG* p) {
    return SeekQuery([&](IMediaSeeking* s) { return s->GetCurrentPosition(p); });
}
HRESULT STDMETHODCALLTYPE CMuxFilter::ConvertTimeFormat(LONGLONG* t, const GUID* tf, LONGLONG s0, const GUID* sf) {
    return SeekQuery([&](IMediaSeeking* s) { return s->ConvertTimeFormat(t, tf, s0, sf); });
}
HRESULT STDMETHODCALLTYPE CMuxFilter::SetPositions(LONGLONG* c, DWORD cf, LONGLONG* st, DWORD sf) {
    return SeekAll([&](IMediaSeeking* s) { return s->SetPositions(c, cf, st, sf); });
}
HRESULT STDMETHODCALLTYPE CMuxFilter::GetPositions(LONGLONG* c, LONGLONG* st) {
    return SeekQuery([&](IMediaSeeking* s) { return s->GetPositions(c, st); });
}
HRESULT STDMETHODCALLTYPE CMuxFilter::GetAvailable(LONGLONG* e, LONGLONG* l) {
    return SeekQuery([&](IMediaSeeking* s) { return s->GetAvailable(e, l); });
}
HRESULT STDMETHODCALLTYPE CMuxFilter::SetRate(double r) {
    return SeekAll([&](IMediaSeeking* s) { return s->SetRate(r); });
}
HRESULT STDMETHODCALLTYPE CMuxFilter::GetRate(double* r) {
    return SeekQuery([&](IMediaSeeking* s) { return s->GetRate(r); });
}
HRESULT STDMETHODCALLTYPE CMuxFilter::GetPreroll(LONGLONG* p) {
    return SeekQuery([&](IMediaSeeking* s) { return s->GetPreroll(p); });
}
