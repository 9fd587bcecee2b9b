// The multiplexer's settings and version pages.
#include "filters/muxer/mux_pages.h"

#include <windowsx.h>

#include <algorithm>
#include <cstdio>
#include <new>

#include "filters/base/server.h"
#include "filters/muxer/mux_filter_rules.h"
#include "filters/muxer/varrow_ids.h"
#include "filters/muxer/varrow_resource.h"

namespace {

// Context-menu commands.
constexpr UINT kDeleteStream = 1023;
constexpr UINT kCreateProgram = 1012;
constexpr UINT kDeleteProgram = 40001;
constexpr UINT kCreateStream = 40002;
// Loops over objects an outside object reports are bounded.
constexpr int kMaxObjects = 1024;
constexpr ULONG kMaxParameters = 100;

struct Description {
    const GUID* key;
    const wchar_t* text;
};
const Description kDescriptions[] = {
    {&kParamOutput, L"H.264 and MPEG 4 allowed only in Transport Stream."},
    {&kParamBitrate, L"Bitrate (bits per second)"},
    {&kParamCompatibility, L"DVD, SVCD Compatibility"},
    {&kParamTransportStreamId, L"Transport stream ID."},
    {&kParamOutputBufferSize, L"Smaller values suit a network renderer downstream, larger ones a file writer."},
    {&kParamInputBufferSize, L"Automaticaly corrected when pin is active."},
    {&kParamMuxerTime, L"The current PCR or SCR value."},
    {&kParamOverhead, L"The total size of headers in result stream."},
    {&kParamPadding, L"The total size of padding in result stream."},
    {&kParamProgramNumber, L"Program number."},
    {&kParamProgramId, L"Program ID."},
    {&kParamStreamType, L"H.264 and MPEG 4 allowed only in Transport Stream."},
    {&kParamPesPacketSize, L"The PES packet size field value in Bytes."},
    {&kParamStreamId, L"Stream ID."},
    {&kParamStreamPesId, L"PES stream ID."},
    {&kParamPutPcr, L"Put PCR in this stream if set."},
    {&kParamTimeShift, L"Added to all media sample in stream."},
    {&kParamPtsSource, L"What suppose the truth? TimeStamp, Bitrate(audio only) or FrameRate(video only)?."},
    {&kParamCompleting, L"Parse input stream to get whole Access Unit."},
    {&kParamAnnouncedRate, L"Frame Rate from Media Type and Sequence Header."},
    {&kParamRealRate, L"Calculated stream FrameRate. It does't indicate speed."},
};

varrow::ValueText TextKindOf(const GUID& key) {
    if (key == kParamPadding || key == kParamOverhead) return varrow::ValueText::Percent;
    if (key == kParamMuxerTime || key == kParamCurrentPts || key == kParamTimeShift) return varrow::ValueText::Clock;
    if (key == kParamBitrate || key == kParamOutputBufferSize || key == kParamInputBufferSize ||
        key == kParamPesPacketSize)
        return varrow::ValueText::Grouped;
    if (key == kParamRealRate) return varrow::ValueText::FixedPoint;
    if (key == kParamTransportStreamId || key == kParamProgramNumber || key == kParamProgramId ||
        key == kParamStreamId || key == kParamStreamPesId)
        return varrow::ValueText::Id;
    return varrow::ValueText::Plain;
}

std::wstring Widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

// A 64-bit number of a VARIANT; 100-ns times become milliseconds (kept in 64 bits).
int64_t NumberOf(const VARIANT& v) {
    switch (V_VT(&v)) {
        case VT_BOOL:
            return V_BOOL(&v) != 0;
        case VT_I1:
            return V_I1(&v);
        case VT_UI1:
            return V_UI1(&v);
        case VT_I2:
            return V_I2(&v);
        case VT_I4:
        case VT_INT:
            return V_I4(&v);
        case VT_UI4:
            return V_UI4(&v);
        case VT_I8:
            return V_I8(&v) / 10000;
        default:
            return 0;
    }
}

// Image lists drawn in code: coloured 16-pixel squares.
HIMAGELIST MakeImages(const COLORREF* colours, int count) {
    HIMAGELIST list = ImageList_Create(16, 16, ILC_COLOR24, count, 0);
    if (!list) return nullptr;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 16 * count, 16);
    HGDIOBJ old = SelectObject(dc, bitmap);
    RECT all = {0, 0, 16 * count, 16};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    for (int i = 0; i < count; ++i) {
        HBRUSH brush = CreateSolidBrush(colours[i]);
        RECT r = {16 * i + 3, 3, 16 * i + 13, 13};
        FillRect(dc, &r, brush);
        DeleteObject(brush);
    }
    SelectObject(dc, old);
    ImageList_Add(list, bitmap, nullptr);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return list;
}

HIMAGELIST MakeTreeImages() {
    COLORREF colours[20] = {RGB(40, 80, 200), RGB(160, 160, 160), RGB(30, 160, 60), RGB(200, 40, 40)};
    for (int i = 0; i < 8; ++i) {
        colours[4 + i] = RGB(120 + i * 16, 60, 160);   // program stream: violet frames
        colours[12 + i] = RGB(200, 120 + i * 16, 20);  // transport stream: orange frames
    }
    return MakeImages(colours, 20);
}

HIMAGELIST MakeListImages() {
    const COLORREF colours[4] = {RGB(30, 160, 60), RGB(40, 80, 200), RGB(170, 170, 170), RGB(120, 120, 150)};
    return MakeImages(colours, 4);
}

LRESULT CALLBACK EditorProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    const auto old = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_GETDLGCODE)
        return DLGC_WANTALLKEYS | (old ? CallWindowProcW(old, window, message, wparam, lparam) : 0);
    if (message == WM_KEYDOWN && (wparam == VK_RETURN || wparam == VK_ESCAPE)) {
        // Enter and Escape both apply what was typed; only leaving the editor discards it.
        PostMessageW(GetParent(window), WM_USER, 0, 0);
        return 0;
    }
    return old ? CallWindowProcW(old, window, message, wparam, lparam)
               : DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

// A node's change sink: a counted object of its own, so that a notice in flight never
// reaches a node or a page that is gone; Detach is serialised with calls in progress.
class CParamSink final : public IKestruneConfigSink {
public:
    CParamSink(CMuxPropertyPage* page, IUnknown* object) : page_(page), object_(object) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IKestruneConfigSink) {
            *out = static_cast<IKestruneConfigSink*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }
    HRESULT STDMETHODCALLTYPE OnValueChanged(const GUID* key, VARIANT* value) override {
        if (!key) return E_POINTER;
        std::lock_guard hold(lock_);
        if (page_) page_->Enqueue(object_, *key, value);
        return S_OK;
    }
    void Detach() {
        std::lock_guard hold(lock_);
        page_ = nullptr;
    }

private:
    ~CParamSink() = default;
    LONG refs_ = 1;
    std::mutex lock_;
    CMuxPropertyPage* page_;
    IUnknown* object_;  // identity only
};

CMuxPropertyPage::Node::~Node() {
    children.clear();
    if (config) config->SetNotifySink(nullptr);
    if (sink) {
        sink->Detach();
        sink->Release();
    }
    if (config) config->Release();
}

CUnknown* CMuxPropertyPage::CreateInstance(IUnknown* outer, HRESULT* hr) {
    auto* page = new (std::nothrow) CMuxPropertyPage(outer, hr);
    if (!page) *hr = E_OUTOFMEMORY;
    return page;
}

CMuxPropertyPage::CMuxPropertyPage(IUnknown* outer, HRESULT*)
    : CBasePropertyPage(L"Varrow settings page", outer, IDD_VARROW_SETTINGS, IDS_VARROW_SETTINGS) {}

CMuxPropertyPage::~CMuxPropertyPage() {
    root_.reset();
    for (Notice& n : pending_)
        VariantClear(&n.value);
    if (filter_) filter_->Release();
}

HRESULT CMuxPropertyPage::OnConnect(IUnknown* object) {
    if (filter_) filter_->Release();
    filter_ = nullptr;
    if (!object) return E_POINTER;
    object->QueryInterface(IID_IKestruneConfigEx, reinterpret_cast<void**>(&filter_));
    return S_OK;
}

HRESULT CMuxPropertyPage::OnDisconnect() {
    root_.reset();
    shown_ = nullptr;
    if (filter_) filter_->Release();
    filter_ = nullptr;
    return S_OK;
}

HRESULT CMuxPropertyPage::OnActivate() {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    RECT client;
    GetClientRect(window_, &client);
    const int w = client.right, h = client.bottom;
    const HINSTANCE module = ServerModule();
    tree_ = CreateWindowExW(0, WC_TREEVIEWW, L"",
                            WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | TVS_HASBUTTONS | TVS_HASLINES |
                                TVS_LINESATROOT | TVS_SHOWSELALWAYS,
                            2, 2, 2 * w / 5 - 2, h - 34, window_, reinterpret_cast<HMENU>(kTreeId), module, nullptr);
    list_ = CreateWindowExW(
        0, WC_LISTVIEWW, L"",
        WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_SHOWSELALWAYS | LVS_SINGLESEL, 2 * w / 5, 2,
        w - 2 - 2 * w / 5, h - 34, window_, reinterpret_cast<HMENU>(kListId), module, nullptr);
    if (!tree_ || !list_) return E_FAIL;
    treeImages_ = MakeTreeImages();
    listImages_ = MakeListImages();
    TreeView_SetImageList(tree_, treeImages_, TVSIL_NORMAL);
    ListView_SetImageList(list_, listImages_, LVSIL_SMALL);
    ListView_SetExtendedListViewStyle(list_, LVS_EX_FULLROWSELECT);
    RECT lr;
    GetClientRect(list_, &lr);
    LVCOLUMNW column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.cx = lr.right / 2;
    column.pszText = const_cast<LPWSTR>(L"Parameter");
    ListView_InsertColumn(list_, 0, &column);
    column.pszText = const_cast<LPWSTR>(L"Value");
    ListView_InsertColumn(list_, 0, &column);
    BuildTree();
    SetTimer(window_, kTimerId, kTimerMs, nullptr);
    return S_OK;
}

HRESULT CMuxPropertyPage::OnDeactivate() {
    KillTimer(window_, kTimerId);
    CloseEditor(true);
    DestroyTree();
    if (tree_) DestroyWindow(tree_);
    if (list_) DestroyWindow(list_);
    tree_ = list_ = nullptr;
    if (treeImages_) ImageList_Destroy(treeImages_);
    if (listImages_) ImageList_Destroy(listImages_);
    treeImages_ = listImages_ = nullptr;
    std::lock_guard hold(pendingLock_);
    for (Notice& n : pending_)
        VariantClear(&n.value);
    pending_.clear();
    return S_OK;
}

HRESULT CMuxPropertyPage::OnApplyChanges() {
    CloseEditor(true);
    if (shown_ && shown_->needsRebuild) {
        shown_->config->Commit(nullptr);
        shown_->needsRebuild = false;
        DestroyTree();
        BuildTree();
    } else {
        FillList();
    }
    return S_OK;
}

void CMuxPropertyPage::Enqueue(IUnknown* object, const GUID& key, const VARIANT* value) {
    Notice n;
    n.object = object;
    n.key = key;
    VariantInit(&n.value);
    if (value && SUCCEEDED(VariantCopy(&n.value, const_cast<VARIANT*>(value)))) n.hasValue = true;
    std::lock_guard hold(pendingLock_);
    for (Notice& old : pending_)
        if (old.object == object && old.key == key) {
            VariantClear(&old.value);
            old = n;
            return;
        }
    pending_.push_back(n);
}

void CMuxPropertyPage::ApplyPending() {
    std::vector<Notice> batch;
    {
        std::lock_guard hold(pendingLock_);
        batch.swap(pending_);
    }
    for (Notice& n : batch) {
        ApplyChange(n);
        VariantClear(&n.value);
    }
    if (rebuildWanted_) {
        rebuildWanted_ = false;
        DestroyTree();
        BuildTree();
    }
}

void CMuxPropertyPage::Animate() {
    if (!root_ || !root_->item) return;
    TVITEMW item = {};
    item.mask = TVIF_IMAGE | TVIF_SELECTEDIMAGE;
    item.hItem = root_->item;
    if (running_) {
        item.iImage = item.iSelectedImage = currentImage_;
        TreeView_SetItem(tree_, &item);
        currentImage_ = currentImage_ >= lastImage_ ? firstImage_ : currentImage_ + 1;
    } else if (runningChanged_) {
        runningChanged_ = false;
        currentImage_ = firstImage_;
        item.iImage = item.iSelectedImage = firstImage_;
        TreeView_SetItem(tree_, &item);
    }
}

CMuxPropertyPage::Node* CMuxPropertyPage::AddNode(Node* parent, char kind, IKestruneConfigEx* config,
                                                  const std::wstring& text, int image) {
    auto node = std::make_unique<Node>();
    node->kind = kind;
    node->config = config;  // the reference passes to the node
    node->sink = new (std::nothrow) CParamSink(this, config);
    if (node->sink) config->SetNotifySink(node->sink);
    TVINSERTSTRUCTW insert = {};
    insert.hParent = parent ? parent->item : TVI_ROOT;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM;
    insert.item.pszText = const_cast<LPWSTR>(text.c_str());
    insert.item.iImage = insert.item.iSelectedImage = image;
    Node* raw = node.get();
    insert.item.lParam = reinterpret_cast<LPARAM>(raw);
    raw->item = TreeView_InsertItem(tree_, &insert);
    if (parent) {
        raw->program = parent->kind == 'p' ? parent : nullptr;
        parent->children.push_back(std::move(node));
        TreeView_Expand(tree_, parent->item, TVE_EXPAND);
    } else {
        root_ = std::move(node);
    }
    return raw;
}

namespace {

// The enumerated name of a value, or empty.
std::wstring EnumName(IKestruneConfigEx* config, const GUID& key) {
    VARIANT v;
    VariantInit(&v);
    std::wstring text;
    if (SUCCEEDED(config->GetValue(&key, &v))) {
        BSTR name = nullptr;
        if (config->GetEnumName(&key, &v, &name) == S_OK && name) text = name;
        SysFreeString(name);
    }
    VariantClear(&v);
    return text;
}

bool NumberValue(IKestruneConfigEx* config, const GUID& key, int64_t* out) {
    VARIANT v;
    VariantInit(&v);
    const bool ok = SUCCEEDED(config->GetValue(&key, &v));
    if (ok) *out = NumberOf(v);
    VariantClear(&v);
    return ok;
}

// The object after `previous` that a next-object query answers, or null.
IKestruneConfigEx* NextObject(IKestruneConfigEx* owner, const GUID& query, VARIANT* cursor) {
    if (FAILED(owner->GetValue(&query, cursor)) || V_VT(cursor) != VT_UNKNOWN || !V_UNKNOWN(cursor)) return nullptr;
    IKestruneConfigEx* next = nullptr;
    V_UNKNOWN(cursor)->QueryInterface(IID_IKestruneConfigEx, reinterpret_cast<void**>(&next));
    return next;
}

}  // namespace

void CMuxPropertyPage::BuildTree() {
    if (!filter_ || !tree_) return;
    filter_->AddRef();
    int64_t output = 2;
    NumberValue(filter_, kParamOutput, &output);
    firstImage_ = output == 1 ? 4 : 12;
    lastImage_ = firstImage_ + 7;
    currentImage_ = firstImage_;
    int64_t running = 0;
    NumberValue(filter_, kParamRunning, &running);
    running_ = running != 0;
    Node* root = AddNode(nullptr, 'm', filter_, EnumName(filter_, kParamOutput), firstImage_);
    VARIANT programs;
    VariantInit(&programs);
    for (int i = 0; i < kMaxObjects; ++i) {
        IKestruneConfigEx* program = NextObject(filter_, kQueryNextProgram, &programs);
        if (!program) break;
        int64_t id = 0, number = 0;
        wchar_t text[64] = L"Program";
        if (NumberValue(program, kParamProgramNumber, &number)) {
            NumberValue(program, kParamProgramId, &id);
            swprintf(text, 64, L"Program 0x%x (#%d)", static_cast<unsigned>(id), static_cast<int>(number));
        }
        Node* pnode = AddNode(root, 'p', program, text, 0);
        VARIANT streams;
        VariantInit(&streams);
        for (int j = 0; j < kMaxObjects; ++j) {
            IKestruneConfigEx* stream = NextObject(program, kQueryNextStream, &streams);
            if (!stream) break;
            std::wstring name;
            VARIANT v;
            VariantInit(&v);
            if (SUCCEEDED(stream->GetValue(&kQueryPinName, &v)) && V_VT(&v) == VT_BSTR && V_BSTR(&v)) name = V_BSTR(&v);
            VariantClear(&v);
            int64_t live = 0, ended = 0;
            NumberValue(stream, kQueryLive, &live);
            NumberValue(stream, kParamEnded, &ended);
            AddNode(pnode, 's', stream, name + L" " + EnumName(stream, kParamStreamType), !live ? 1 : ended ? 3 : 2);
        }
        VariantClear(&streams);
    }
    VariantClear(&programs);
    TreeView_Expand(tree_, root->item, TVE_EXPAND);
    TreeView_SelectItem(tree_, root->item);
    if (shown_ != root) SelectNode(root);
}

void CMuxPropertyPage::DestroyTree() {
    CloseEditor(false);
    shown_ = nullptr;
    dragged_ = nullptr;
    EndDrag();
    if (list_) ListView_DeleteAllItems(list_);
    rowKeys_.clear();
    if (tree_) {
        Node* keep = nullptr;
        std::swap(keep, shown_);
        TreeView_DeleteAllItems(tree_);
    }
    shown_ = nullptr;
    root_.reset();
}

CMuxPropertyPage::Node* CMuxPropertyPage::FindNode(Node* node, IUnknown* object) {
    if (!node) return nullptr;
    if (static_cast<IUnknown*>(node->config) == object) return node;
    for (auto& child : node->children)
        if (Node* found = FindNode(child.get(), object)) return found;
    return nullptr;
}

void CMuxPropertyPage::SelectNode(Node* node) {
    CloseEditor(true);
    SetDlgItemTextW(window_, IDC_VARROW_DESCRIPTION, L"");
    shown_ = node;
    FillList();
}

void CMuxPropertyPage::FillList() {
    if (!list_) return;
    ListView_DeleteAllItems(list_);
    rowKeys_.clear();
    if (!shown_) return;
    ULONG count = kMaxParameters;
    const GUID* keys[kMaxParameters] = {};
    shown_->config->EnumParameters(&count, keys);
    std::vector<GUID> copies;
    for (ULONG i = 0; i < std::min(count, kMaxParameters); ++i)
        if (keys[i]) copies.push_back(*keys[i]);
    // The list answers the last value first; rows are inserted at the top.
    for (const GUID& key : copies) {
        Notice n;
        n.object = shown_->config;
        n.key = key;
        ApplyChange(n);
    }
}

bool CMuxPropertyPage::GuidOfRow(int row, GUID* key) {
    LVITEMW item = {};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    if (row < 0 || !ListView_GetItem(list_, &item)) return false;
    if (item.lParam < 0 || static_cast<size_t>(item.lParam) >= rowKeys_.size()) return false;
    *key = rowKeys_[item.lParam];
    return true;
}

void CMuxPropertyPage::ApplyChange(Notice& n) {
    if (n.key == kParamRunning) {
        const bool running = n.hasValue && NumberOf(n.value) != 0;
        if (running != running_) {
            running_ = running;
            runningChanged_ = true;
            FillList();  // every row's writability changes
        }
        return;
    }
    if (n.key == kParamEnded) {
        Node* node = FindNode(root_.get(), n.object);
        if (node && node->item && n.hasValue) {
            TVITEMW item = {};
            item.mask = TVIF_IMAGE | TVIF_SELECTEDIMAGE;
            item.hItem = node->item;
            item.iImage = item.iSelectedImage = NumberOf(n.value) ? 3 : 2;
            TreeView_SetItem(tree_, &item);
        }
        return;
    }
    if (n.key == kParamTreeCounter) {
        rebuildWanted_ = true;
        return;
    }
    if (!shown_ || static_cast<IUnknown*>(shown_->config) != n.object || !list_) return;
    IKestruneConfigEx* config = shown_->config;
    VARIANT value;
    VariantInit(&value);
    if (FAILED(config->GetValue(&n.key, &value))) return;  // hidden now
    const bool writable = !running_ && config->IsWritable(&n.key) == S_OK;
    BSTR name = nullptr;
    ULONG names = 0;
    config->GetParameterInfo(&n.key, &name, &names, nullptr, nullptr);
    std::wstring label = name ? name : L"";
    SysFreeString(name);
    std::wstring text;
    VARIANT copy;
    VariantInit(&copy);
    VariantCopy(&copy, &value);
    BSTR enumName = nullptr;
    const bool named = config->GetEnumName(&n.key, &copy, &enumName) == S_OK && enumName;
    if (named) text = enumName;
    SysFreeString(enumName);
    VariantClear(&copy);
    if (!named) text = Widen(varrow::FormatValue(TextKindOf(n.key), NumberOf(value)));
    VariantClear(&value);
    const int image = (writable ? 0 : 2) + (named ? 1 : 0);

    int row = -1;
    for (int i = 0, rows = ListView_GetItemCount(list_); i < rows; ++i) {
        GUID key;
        if (GuidOfRow(i, &key) && key == n.key) row = i;
    }
    if (row >= 0) {
        LVITEMW item = {};
        item.mask = LVIF_TEXT | LVIF_IMAGE;
        item.iItem = row;
        item.pszText = const_cast<LPWSTR>(text.c_str());
        item.iImage = image;
        ListView_SetItem(list_, &item);
        return;
    }
    rowKeys_.push_back(n.key);
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    item.iItem = 0;
    item.pszText = const_cast<LPWSTR>(text.c_str());
    item.iImage = image;
    item.lParam = static_cast<LPARAM>(rowKeys_.size() - 1);
    row = ListView_InsertItem(list_, &item);
    ListView_SetItemText(list_, row, 1, const_cast<LPWSTR>(label.c_str()));
}

void CMuxPropertyPage::ShowDescription(const GUID& key) {
    const wchar_t* text = L"";
    for (const Description& d : kDescriptions)
        if (*d.key == key) text = d.text;
    SetDlgItemTextW(window_, IDC_VARROW_DESCRIPTION, text);
}

bool CMuxPropertyPage::OpenEditor() {
    CloseEditor(true);
    if (!shown_) return false;
    const int row = ListView_GetNextItem(list_, -1, LVNI_SELECTED);
    GUID key;
    if (!GuidOfRow(row, &key)) return false;
    shown_->lastEdited = key;
    IKestruneConfigEx* config = shown_->config;
    ULONG names = 0;
    config->GetParameterInfo(&key, nullptr, &names, nullptr, nullptr);
    RECT r;
    ListView_GetItemRect(list_, row, &r, LVIR_LABEL);
    MapWindowPoints(list_, window_, reinterpret_cast<POINT*>(&r), 2);
    const HINSTANCE module = ServerModule();
    if (names > 0) {
        names = std::min<ULONG>(names, 64);
        std::vector<VARIANT> values(names);
        std::vector<BSTR> texts(names, nullptr);
        for (VARIANT& v : values)
            VariantInit(&v);
        ULONG got = names;
        config->GetParameterInfo(&key, nullptr, &got, values.data(), texts.data());
        editor_ = CreateWindowExW(
            0, L"COMBOBOX", L"", WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_BORDER | CBS_DROPDOWNLIST, r.left, r.top,
            std::max<LONG>(r.right - r.left, 80), 280, window_, reinterpret_cast<HMENU>(kEditorId), module, nullptr);
        for (ULONG i = 0; i < std::min(got, names); ++i)
            if (editor_ && texts[i]) SendMessageW(editor_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(texts[i]));
        for (ULONG i = 0; i < names; ++i) {
            SysFreeString(texts[i]);
            VariantClear(&values[i]);
        }
        const std::wstring current = EnumName(config, key);
        if (editor_)
            SendMessageW(editor_, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(current.c_str()));
    } else {
        VARIANT v;
        VariantInit(&v);
        std::wstring text;
        if (SUCCEEDED(config->GetValue(&key, &v)) && SUCCEEDED(VariantChangeType(&v, &v, 0, VT_BSTR)) && V_BSTR(&v))
            text = V_BSTR(&v);
        VariantClear(&v);
        editor_ = CreateWindowExW(0, L"EDIT", text.c_str(), WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL, r.left,
                                  r.top, std::max<LONG>(r.right - r.left, 80), r.bottom - r.top + 4, window_,
                                  reinterpret_cast<HMENU>(kEditorId), module, nullptr);
    }
    if (!editor_) return false;
    SendMessageW(editor_, WM_SETFONT, SendMessageW(window_, WM_GETFONT, 0, 0), TRUE);
    const LONG_PTR old = SetWindowLongPtrW(editor_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&EditorProc));
    SetWindowLongPtrW(editor_, GWLP_USERDATA, old);
    SetWindowPos(editor_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetFocus(editor_);
    if (names > 0) SendMessageW(editor_, CB_SHOWDROPDOWN, TRUE, 0);
    return true;
}

bool CMuxPropertyPage::ApplyEditor() {
    if (!editor_ || !shown_) return false;
    wchar_t text[101] = {};
    GetWindowTextW(editor_, text, 101);
    IKestruneConfigEx* config = shown_->config;
    const GUID key = shown_->lastEdited;
    ULONG names = 0;
    config->GetParameterInfo(&key, nullptr, &names, nullptr, nullptr);
    VARIANT v;
    VariantInit(&v);
    if (names > 0) {
        BSTR b = SysAllocString(text);
        const HRESULT found = config->GetEnumValue(&key, &b, &v);
        SysFreeString(b);
        if (found != S_OK) return false;
    } else {
        char narrow[101] = {};
        WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, 100, nullptr, nullptr);
        int32_t number = 0;
        if (!varrow::ParseEditedValue(narrow, &number)) return false;
        V_VT(&v) = VT_I4;
        V_I4(&v) = number;
    }
    const HRESULT hr = config->SetValue(&key, &v);
    VariantClear(&v);
    if (FAILED(hr)) return false;
    if (shown_->kind == 'm' && key == kParamOutput) rebuildWanted_ = true;
    if (shown_->kind == 'p' && (key == kParamProgramNumber || key == kParamProgramId)) shown_->needsRebuild = true;
    if (shown_->kind == 's' && key == kParamStreamType) shown_->needsRebuild = true;
    return true;
}

void CMuxPropertyPage::CloseEditor(bool apply) {
    if (!editor_) return;
    HWND editor = editor_;
    const bool applied = apply && ApplyEditor();
    editor_ = nullptr;
    DestroyWindow(editor);
    if (applied && shown_) {
        Enqueue(shown_->config, shown_->lastEdited, nullptr);
        // The frame's Apply then commits and refreshes the names a rebuild shows.
        SetDirty(true);
    }
}

void CMuxPropertyPage::ContextMenu() {
    POINT at;
    GetCursorPos(&at);
    TVHITTESTINFO hit = {};
    hit.pt = at;
    ScreenToClient(tree_, &hit.pt);
    HTREEITEM item = TreeView_HitTest(tree_, &hit);
    if (!item) return;
    TreeView_SelectItem(tree_, item);
    TVITEMW tv = {};
    tv.mask = TVIF_PARAM;
    tv.hItem = item;
    TreeView_GetItem(tree_, &tv);
    Node* node = reinterpret_cast<Node*>(tv.lParam);
    if (!node || node->kind == 'm') return;
    HMENU menu = CreatePopupMenu();
    if (node->kind == 'p') {
        AppendMenuW(menu, MF_STRING, kDeleteProgram, L"Delete Program");
        AppendMenuW(menu, MF_STRING, kCreateProgram, L"Create Program");
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(menu, MF_STRING, kCreateStream, L"Create Stream");
    } else {
        AppendMenuW(menu, MF_STRING, kDeleteStream, L"Delete Stream");
    }
    const UINT command = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0, window_, nullptr);
    DestroyMenu(menu);
    if (!command || !filter_) return;
    VARIANT v;
    VariantInit(&v);
    if (command == kCreateProgram) {
        filter_->SetValue(&kCommandCreateProgram, &v);
    } else if (command == kDeleteProgram) {
        V_VT(&v) = VT_UNKNOWN;
        V_UNKNOWN(&v) = node->config;
        node->config->AddRef();
        filter_->SetValue(&kCommandDeleteProgram, &v);
    } else if (command == kCreateStream) {
        node->config->SetValue(&kCommandCreateStream, &v);
    } else if (command == kDeleteStream && node->program) {
        V_VT(&v) = VT_UNKNOWN;
        V_UNKNOWN(&v) = node->config;
        node->config->AddRef();
        node->program->config->SetValue(&kCommandDeleteStream, &v);
    }
    VariantClear(&v);
    rebuildWanted_ = true;
}

void CMuxPropertyPage::BeginDrag(Node* stream, HTREEITEM item, POINT at) {
    EndDrag();
    dragged_ = stream;
    dragImage_ = TreeView_CreateDragImage(tree_, item);
    // Some common-control versions answer an image list without the image (its bitmap made
    // narrower than the list's image size): the page then draws the item itself.
    if (dragImage_ && ImageList_GetImageCount(dragImage_) < 1) {
        ImageList_Destroy(dragImage_);
        dragImage_ = nullptr;
    }
    if (!dragImage_) dragImage_ = MakeDragImage(item);
    const POINT image = TreeWindowPoint(at);
    if (dragImage_ && ImageList_BeginDrag(dragImage_, 0, 0, 0)) ImageList_DragEnter(tree_, image.x, image.y);
    ShowCursor(FALSE);
    cursorHidden_ = true;
    SetCapture(window_);
}

HIMAGELIST CMuxPropertyPage::MakeDragImage(HTREEITEM item) const {
    wchar_t text[256] = {};
    TVITEMW tv = {};
    tv.mask = TVIF_TEXT | TVIF_IMAGE;
    tv.hItem = item;
    tv.pszText = text;
    tv.cchTextMax = static_cast<int>(sizeof text / sizeof text[0]) - 1;
    if (!TreeView_GetItem(tree_, &tv)) return nullptr;
    int iconW = 0, iconH = 0;
    ImageList_GetIconSize(treeImages_, &iconW, &iconH);
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HGDIOBJ oldFont = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(tree_, WM_GETFONT, 0, 0)));
    SIZE textSize = {};
    const int length = lstrlenW(text);
    GetTextExtentPoint32W(dc, text, length, &textSize);
    // The icon, a gap of two pixels, then the text, as the tree lays out an item.
    const int width = iconW + 2 + textSize.cx, height = std::max<int>(iconH, textSize.cy);
    HIMAGELIST list = ImageList_Create(width, height, ILC_COLOR24, 1, 0);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    if (list && bitmap) {
        HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
        RECT all = {0, 0, width, height};
        FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        ImageList_Draw(treeImages_, tv.iImage, dc, 0, (height - iconH) / 2, ILD_NORMAL);
        RECT textRect = {iconW + 2, 0, width, height};
        SetBkMode(dc, TRANSPARENT);
        DrawTextW(dc, text, length, &textRect, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        SelectObject(dc, oldBitmap);
        if (ImageList_Add(list, bitmap, nullptr) < 0) {
            ImageList_Destroy(list);
            list = nullptr;
        }
    } else if (list) {
        ImageList_Destroy(list);
        list = nullptr;
    }
    if (bitmap) DeleteObject(bitmap);
    SelectObject(dc, oldFont);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return list;
}

POINT CMuxPropertyPage::TreeWindowPoint(POINT client) const {
    // Drag images are placed in window coordinates: the tree's border comes first.
    RECT frame = {};
    GetWindowRect(tree_, &frame);
    ClientToScreen(tree_, &client);
    return {client.x - frame.left, client.y - frame.top};
}

void CMuxPropertyPage::EndDrag() {
    // State first: releasing the capture sends WM_CAPTURECHANGED back here.
    HIMAGELIST image = dragImage_;
    const bool hidden = cursorHidden_;
    dragImage_ = nullptr;
    cursorHidden_ = false;
    if (image) {
        ImageList_DragLeave(tree_);
        ImageList_EndDrag();
        ImageList_Destroy(image);
    }
    if (hidden) ShowCursor(TRUE);
    if (window_ && GetCapture() == window_) ReleaseCapture();
}

void CMuxPropertyPage::Drop(Node* stream, HTREEITEM target) {
    TreeView_SelectDropTarget(tree_, nullptr);
    if (!stream || !target) return;
    TVITEMW tv = {};
    tv.mask = TVIF_PARAM;
    tv.hItem = target;
    TreeView_GetItem(tree_, &tv);
    Node* program = reinterpret_cast<Node*>(tv.lParam);
    if (!program || program->kind != 'p' || program == stream->program) return;
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_UNKNOWN;
    V_UNKNOWN(&v) = program->config;
    program->config->AddRef();
    stream->config->SetValue(&kCommandMoveStream, &v);
    VariantClear(&v);
    rebuildWanted_ = true;
}

INT_PTR CMuxPropertyPage::OnReceiveMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    try {
        switch (message) {
            case WM_TIMER:
                if (wparam == kTimerId) {
                    ApplyPending();
                    Animate();
                    return TRUE;
                }
                break;
            case WM_USER:
                CloseEditor(true);
                if (rebuildWanted_) ApplyPending();
                return TRUE;
            case WM_COMMAND:
                if (LOWORD(wparam) == kEditorId) {
                    const WORD code = HIWORD(wparam);
                    if (code == CBN_SELENDOK) {
                        CloseEditor(true);
                        return TRUE;
                    }
                    if (code == CBN_SELENDCANCEL || code == EN_KILLFOCUS) {
                        CloseEditor(false);
                        return TRUE;
                    }
                }
                break;
            case WM_MOUSEMOVE:
                if (dragged_) {
                    TVHITTESTINFO hit = {};
                    POINT at = {GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
                    MapWindowPoints(window, tree_, &at, 1);
                    hit.pt = at;
                    // The image is hidden while the tree repaints its drop highlight; the
                    // repaint is done at once, or it would come later and paint over the image.
                    if (dragImage_) ImageList_DragShowNolock(FALSE);
                    TreeView_SelectDropTarget(tree_, TreeView_HitTest(tree_, &hit));
                    UpdateWindow(tree_);
                    if (dragImage_) {
                        const POINT image = TreeWindowPoint(at);
                        ImageList_DragMove(image.x, image.y);
                        ImageList_DragShowNolock(TRUE);
                    }
                    return TRUE;
                }
                break;
            case WM_LBUTTONUP:
                if (dragged_) {
                    Node* stream = dragged_;
                    const HTREEITEM target = TreeView_GetDropHilight(tree_);
                    dragged_ = nullptr;
                    EndDrag();
                    Drop(stream, target);
                    if (rebuildWanted_) ApplyPending();
                    return TRUE;
                }
                break;
            case WM_CAPTURECHANGED:
                // The capture taken away mid-drag (another window, a menu): no move.
                if (dragged_ && reinterpret_cast<HWND>(lparam) != window) {
                    dragged_ = nullptr;
                    EndDrag();
                    TreeView_SelectDropTarget(tree_, nullptr);
                    return TRUE;
                }
                break;
            case WM_NOTIFY: {
                const auto* header = reinterpret_cast<const NMHDR*>(lparam);
                if (header->idFrom == kTreeId) {
                    if (header->code == TVN_SELCHANGEDW) {
                        const auto* change = reinterpret_cast<const NMTREEVIEWW*>(lparam);
                        Node* node = reinterpret_cast<Node*>(change->itemNew.lParam);
                        if (node && root_ && node != shown_) SelectNode(node);
                        return TRUE;
                    }
                    if (header->code == NM_RCLICK) {
                        ContextMenu();
                        if (rebuildWanted_) ApplyPending();
                        return TRUE;
                    }
                    if (header->code == TVN_BEGINDRAGW) {
                        const auto* drag = reinterpret_cast<const NMTREEVIEWW*>(lparam);
                        Node* node = reinterpret_cast<Node*>(drag->itemNew.lParam);
                        if (node && node->kind == 's') BeginDrag(node, drag->itemNew.hItem, drag->ptDrag);
                        return TRUE;
                    }
                }
                if (header->idFrom == kListId) {
                    if (header->code == NM_DBLCLK) {
                        OpenEditor();
                        return TRUE;
                    }
                    if (header->code == LVN_ITEMCHANGED) {
                        const auto* change = reinterpret_cast<const NMLISTVIEW*>(lparam);
                        GUID key;
                        if ((change->uChanged & LVIF_STATE) && (change->uNewState & LVIS_SELECTED) &&
                            GuidOfRow(change->iItem, &key)) {
                            if (editor_) CloseEditor(true);
                            ShowDescription(key);
                        }
                        return TRUE;
                    }
                }
                break;
            }
            default:
                break;
        }
    } catch (...) {
        // A failing handler ends quietly; the next refresh shows the current state.
    }
    return CBasePropertyPage::OnReceiveMessage(window, message, wparam, lparam);
}

// ---- Version page ----

CUnknown* CVersionPage::CreateInstance(IUnknown* outer, HRESULT* hr) {
    auto* page = new (std::nothrow) CVersionPage(outer, hr);
    if (!page) *hr = E_OUTOFMEMORY;
    return page;
}

CVersionPage::CVersionPage(IUnknown* outer, HRESULT*)
    : CBasePropertyPage(L"Varrow version page", outer, IDD_VARROW_VERSION, IDS_VARROW_ABOUT) {}

std::wstring CVersionPage::VersionText(HMODULE module) {
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));
    if (!found) return L"";
    HGLOBAL loaded = LoadResource(module, found);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    const DWORD size = SizeofResource(module, found);
    if (!data || size == 0) return L"";
    // VerQueryValue works on a writable copy of the block.
    std::vector<BYTE> copy(static_cast<const BYTE*>(data), static_cast<const BYTE*>(data) + size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(copy.data(), L"\\", reinterpret_cast<void**>(&info), &length) || !info ||
        length < sizeof(VS_FIXEDFILEINFO))
        return L"";
    wchar_t text[96];
    swprintf(text, 96, L"Version %u.%u.%u (build %u)", HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS),
             HIWORD(info->dwFileVersionLS), LOWORD(info->dwFileVersionLS));
    return text;
}

HRESULT CVersionPage::OnActivate() {
    SetDlgItemTextW(window_, IDC_VARROW_VERSION, VersionText(ServerModule()).c_str());
    return S_OK;
}
