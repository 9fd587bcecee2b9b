// The multiplexer's property pages in a real property frame (OleCreatePropertyFrame) on the
// test display: the tree of the filter, its programs and streams, the parameter rows,
// edits typed into the in-place editors reaching the filter, the version page's text,
// a stream dragged to another program, and screenshots of both pages.
#include <windows.h>
#include <commctrl.h>
#include <dshow.h>
#include <olectl.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "filters/muxer/tests/varrow_test_util.h"
#include "filters/muxer/varrow_ids.h"
#include "tests/support/screen.h"

namespace {

using namespace varrowtest;

struct Found {
    HWND frame = nullptr;
    const wchar_t* className = nullptr;
    HWND window = nullptr;
};

BOOL CALLBACK FindFrame(HWND window, LPARAM data) {
    auto* f = reinterpret_cast<Found*>(data);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t title[128] = {};
    GetWindowTextW(window, title, 128);
    if (pid == GetCurrentProcessId() && IsWindowVisible(window) && wcsstr(title, L"Varrow")) {
        f->frame = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK FindChild(HWND window, LPARAM data) {
    auto* f = reinterpret_cast<Found*>(data);
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (_wcsicmp(name, f->className) == 0 && IsWindowVisible(window)) {
        f->window = window;
        return FALSE;
    }
    return TRUE;
}

HWND Child(HWND parent, const wchar_t* className) {
    Found f;
    f.className = className;
    EnumChildWindows(parent, FindChild, reinterpret_cast<LPARAM>(&f));
    return f.window;
}

// On the scripting thread: waits for the frame and its settings tree; the tree, or null
// when either never came.
HWND WaitForTree(Found* f) {
    for (int i = 0; i < 200 && !f->frame; ++i) {
        Sleep(50);
        EnumWindows(FindFrame, reinterpret_cast<LPARAM>(f));
    }
    HWND tree = nullptr;
    for (int i = 0; f->frame && i < 100 && !tree; ++i) {
        Sleep(50);
        tree = Child(f->frame, WC_TREEVIEWW);
    }
    return tree;
}

// Shows the property frame on `filter` with the first `pages` of the settings and version
// pages while `drive` scripts it on a thread of its own; returns when the frame has closed.
void RunFrame(IBaseFilter* filter, LPTHREAD_START_ROUTINE drive, void* script, ULONG pages) {
    HANDLE driver = CreateThread(nullptr, 0, drive, script, 0, nullptr);
    IUnknown* object = filter;
    CLSID ids[2] = {CLSID_VarrowSettingsPage, CLSID_VarrowVersionPage};
    EXPECT_EQ(OleCreatePropertyFrame(nullptr, 20, 20, L"Varrow", 1, &object, pages, ids, 0, 0, nullptr), S_OK);
    WaitForSingleObject(driver, 60000);
    CloseHandle(driver);
}

// A new filter with a second program beside the first, whose stream is Input0; null when
// either step failed.
IBaseFilter* NewVarrowWithTwoPrograms() {
    IBaseFilter* filter = NewVarrow();
    if (!filter) return nullptr;
    IKestruneConfigEx* config = ConfigOf(filter);
    VARIANT v;
    VariantInit(&v);
    const HRESULT hr = config->SetValue(&kCommandCreateProgram, &v);
    config->Release();
    if (hr == S_OK) return filter;
    filter->Release();
    return nullptr;
}

// What the scripting thread saw and did, checked on the test thread afterwards.
struct Script {
    bool frameFound = false;
    int treeItems = 0;
    int filterRows = 0;
    std::wstring bitrateText, tsidText, compatText, versionText;
    int streamRows = 0;
    bool editsApplied = false;
    bool screenshots = false;
    testsupport::Rgb rootIcon;
    std::string log;
};

std::wstring RowText(HWND list, int row, int column) {
    wchar_t text[128] = {};
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 128;
    SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    return text;
}

int FindRow(HWND list, const wchar_t* name) {
    const int rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < rows; ++i)
        if (RowText(list, i, 1) == name) return i;
    return -1;
}

void Settle() {
    Sleep(400);  // two refreshes of the page's timer
}

// Double-clicks row `name` and types `text` (or picks `choice` from the drop-down).
bool Edit(HWND page, HWND list, const wchar_t* name, const wchar_t* text, const wchar_t* choice) {
    const int row = FindRow(list, name);
    if (row < 0) return false;
    LVITEMW state = {};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
    NMHDR click = {list, 2, static_cast<UINT>(NM_DBLCLK)};
    SendMessageW(page, WM_NOTIFY, 2, reinterpret_cast<LPARAM>(&click));
    HWND editor = GetDlgItem(page, 3);
    if (!editor) return false;
    if (choice) {
        SendMessageW(editor, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(choice));
        SendMessageW(page, WM_COMMAND, MAKEWPARAM(3, CBN_SELENDOK), reinterpret_cast<LPARAM>(editor));
    } else {
        SendMessageW(editor, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
        PostMessageW(editor, WM_KEYDOWN, VK_RETURN, 0);  // Enter applies
    }
    for (int i = 0; i < 50 && IsWindow(editor); ++i)
        Sleep(20);
    return !IsWindow(editor);
}

DWORD WINAPI Drive(void* data) {
    auto* s = static_cast<Script*>(data);
    Found f;
    HWND tree = WaitForTree(&f);
    if (!f.frame) return 1;
    s->frameFound = true;
    HWND page = tree ? GetParent(tree) : nullptr;
    HWND list = page ? GetDlgItem(page, 2) : nullptr;
    if (!list) {
        PostMessageW(f.frame, WM_COMMAND, IDCANCEL, 0);
        return 1;
    }
    Settle();
    s->treeItems = static_cast<int>(SendMessageW(tree, TVM_GETCOUNT, 0, 0));
    s->filterRows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    bool shots = testsupport::CaptureScreen("varrow_settings_page.png");
    // The root's icon: the transport stream's first frame (orange) left of its text.
    HTREEITEM root = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
    RECT r = {};
    std::memcpy(&r, &root, sizeof root);  // the message takes the item in the rectangle
    SendMessageW(tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&r));
    POINT icon = {r.left - 9, (r.top + r.bottom) / 2};
    ClientToScreen(tree, &icon);
    testsupport::PixelAt("varrow_settings_page.png", icon.x, icon.y, &s->rootIcon);

    s->editsApplied = Edit(page, list, L"Bitrate", L"2M", nullptr) &&
                      Edit(page, list, L"Transport Stream ID", L"0x1F", nullptr) &&
                      Edit(page, list, L"Compatibility", nullptr, L"DVD");
    Settle();
    s->bitrateText = RowText(list, FindRow(list, L"Bitrate"), 0);
    s->tsidText = RowText(list, FindRow(list, L"Transport Stream ID"), 0);
    s->compatText = RowText(list, FindRow(list, L"Compatibility"), 0);
    shots = testsupport::CaptureScreen("varrow_settings_edited.png") && shots;

    // The first stream of the first program: its own rows.
    HTREEITEM program =
        reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(root)));
    HTREEITEM stream = nullptr;
    for (HTREEITEM p = program; p && !stream;
         p = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(p))))
        stream =
            reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(p)));
    if (stream) {
        SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(stream));
        Settle();
        s->streamRows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
        shots = testsupport::CaptureScreen("varrow_stream_rows.png") && shots;
    }

    // The version page, through the frame's tabs.
    HWND tabs = Child(f.frame, WC_TABCONTROLW);
    if (tabs) {
        SendMessageW(tabs, TCM_SETCURSEL, 1, 0);
        NMHDR change = {tabs, static_cast<UINT_PTR>(GetDlgCtrlID(tabs)), static_cast<UINT>(TCN_SELCHANGE)};
        SendMessageW(GetParent(tabs), WM_NOTIFY, change.idFrom, reinterpret_cast<LPARAM>(&change));
        Settle();
        Found v;
        v.className = L"Static";
        for (int i = 0; i < 20; ++i) {
            wchar_t text[128] = {};
            HWND versionPage = nullptr;
            // The version text sits in control 1055 of the shown page.
            struct Search {
                HWND result = nullptr;
            } search;
            EnumChildWindows(
                f.frame,
                [](HWND w, LPARAM d) -> BOOL {
                    if (GetDlgCtrlID(w) == 1055 && IsWindowVisible(w)) {
                        reinterpret_cast<Search*>(d)->result = w;
                        return FALSE;
                    }
                    return TRUE;
                },
                reinterpret_cast<LPARAM>(&search));
            versionPage = search.result;
            if (versionPage) {
                GetWindowTextW(versionPage, text, 128);
                s->versionText = text;
                break;
            }
            Sleep(100);
        }
        shots = testsupport::CaptureScreen("varrow_version_page.png") && shots;
    }
    s->screenshots = shots;
    PostMessageW(f.frame, WM_COMMAND, IDOK, 0);
    return 0;
}

TEST(VarrowPages, BothPagesInAPropertyFrameWithScriptedEdits) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    {
        Registered reg;
        ASSERT_TRUE(reg.Ok());
        Watchdog dog(240000);
        // A second program, and a stream with a type, so that the tree has depth.
        IBaseFilter* filter = NewVarrowWithTwoPrograms();
        ASSERT_NE(filter, nullptr);
        IKestruneConfigEx* config = ConfigOf(filter);
        IPin* pin = FindPin(filter, L"Input0");
        IKestruneConfigEx* stream = ConfigOf(pin);
        ASSERT_EQ(SetInt(stream, kParamStreamType, 2), S_OK);

        Script script;
        RunFrame(filter, Drive, &script, 2);

        EXPECT_TRUE(script.frameFound);
        // Root, two programs, one stream.
        EXPECT_EQ(script.treeItems, 4);
        // Output, Bitrate, Compatibility, Transport Stream ID, Output Buffer Size(Byte),
        // Muxer time, Overhead %, Padding %.
        EXPECT_EQ(script.filterRows, 8);
        EXPECT_GT(script.rootIcon.r, 150);
        EXPECT_LT(script.rootIcon.b, 90);
        EXPECT_TRUE(script.editsApplied);
        EXPECT_EQ(script.bitrateText, L" 2 097 152");
        EXPECT_EQ(script.tsidText, L"31 (0x1f)");
        EXPECT_EQ(script.compatText, L"DVD");
        // Stream rows of an MPEG-2 audio stream in a transport stream.
        EXPECT_GE(script.streamRows, 10);
        EXPECT_EQ(script.versionText, L"Version 1.0.0 (build 24)");
        EXPECT_TRUE(script.screenshots);
        // The edits reached the filter.
        EXPECT_EQ(GetInt(config, kParamBitrate), 2097152);
        EXPECT_EQ(GetInt(config, kParamTransportStreamId), 31);
        EXPECT_EQ(GetInt(config, kParamCompatibility), 1);

        stream->Release();
        pin->Release();
        config->Release();
        EXPECT_EQ(filter->Release(), 0u);
    }
    CoUninitialize();
}

struct RunningScript {
    bool found = false;
    int rows = 0;
    int writableRows = 0;
    testsupport::Rgb first, later;
};

testsupport::Rgb RootIcon(HWND tree, const char* png) {
    testsupport::Rgb rgb;
    HTREEITEM root = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
    RECT r = {};
    std::memcpy(&r, &root, sizeof root);
    SendMessageW(tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&r));
    POINT icon = {r.left - 9, (r.top + r.bottom) / 2};
    ClientToScreen(tree, &icon);
    if (testsupport::CaptureScreen(png)) testsupport::PixelAt(png, icon.x, icon.y, &rgb);
    return rgb;
}

DWORD WINAPI DriveRunning(void* data) {
    auto* s = static_cast<RunningScript*>(data);
    Found f;
    HWND tree = WaitForTree(&f);
    if (!tree) {
        if (f.frame) PostMessageW(f.frame, WM_COMMAND, IDCANCEL, 0);
        return 1;
    }
    s->found = true;
    HWND list = GetDlgItem(GetParent(tree), 2);
    Settle();
    s->rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < s->rows; ++i) {
        LVITEMW item = {};
        item.mask = LVIF_IMAGE;
        item.iItem = i;
        SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        if (item.iImage < 2) ++s->writableRows;
    }
    // The icon steps every 150 ms through a few frames: a second reading a fixed time later
    // may meet the same frame again (a whole turn, or a late timer on a loaded machine), so
    // the icon is read again for up to 5 s until it has changed.
    s->first = RootIcon(tree, "varrow_running_1.png");
    for (int waited = 0; waited < 5000; waited += 200) {
        Sleep(200);
        s->later = RootIcon(tree, "varrow_running_2.png");
        if (s->later != s->first) break;
    }
    PostMessageW(f.frame, WM_COMMAND, IDOK, 0);
    return 0;
}

TEST(VarrowPages, WhileRunningRowsAreReadOnlyAndTheIconTurns) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    {
        Registered reg;
        ASSERT_TRUE(reg.Ok());
        Watchdog dog(240000);
        Elementary video;
        ASSERT_TRUE(MakeElementary("m2v", &video));
        IGraphBuilder* graph = nullptr;
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                   reinterpret_cast<void**>(&graph)),
                  S_OK);
        IBaseFilter* filter = NewVarrow();
        testfilters::CTestPushSource* source = MakeSource(video);
        testfilters::CTestSink* sink = testfilters::CTestSink::Create({});
        ASSERT_TRUE(filter && source && sink);
        graph->AddFilter(filter, L"Varrow");
        graph->AddFilter(source, L"source");
        graph->AddFilter(sink, L"sink");
        IPin* out = comtest::FindPinByDirection(source, PINDIR_OUTPUT);
        IPin* in = FindPin(filter, L"Input0");
        EXPECT_EQ(graph->ConnectDirect(out, in, nullptr), S_OK);
        out->Release();
        in->Release();
        out = FindPin(filter, L"Varrow Out");
        in = comtest::FindPinByDirection(sink, PINDIR_INPUT);
        EXPECT_EQ(graph->ConnectDirect(out, in, nullptr), S_OK);
        out->Release();
        in->Release();
        ASSERT_EQ(Control(graph, &IMediaControl::Pause), S_OK);

        RunningScript script;
        RunFrame(filter, DriveRunning, &script, 1);
        EXPECT_EQ(Control(graph, &IMediaControl::Stop), S_OK);

        EXPECT_TRUE(script.found);
        EXPECT_EQ(script.rows, 8);
        EXPECT_EQ(script.writableRows, 0) << "every row is read-only while the filter runs";
        EXPECT_GE(script.first.r, 0);
        EXPECT_NE(script.first, script.later) << "the root's icon steps through its frames";
        EXPECT_EQ(graph->Release(), 0u);
        EXPECT_EQ(source->Release(), 0u);
        EXPECT_EQ(sink->Release(), 0u);
        EXPECT_EQ(filter->Release(), 0u);
    }
    CoUninitialize();
}

struct DragScript {
    bool found = false;
    bool cursorHiddenWhileDragging = false, dropTargetShown = false;
    bool cursorShownAfter = false;
    int streamsUnderFirst = -1, streamsUnderSecond = -1;  // the stream's program, the other
    bool screenshot = false;
    // The screenshot during the drag: the stream's icon in the tree, and the place where the
    // icon of its drag image must be (the image's top-left corner at the cursor).
    testsupport::Rgb streamIcon, underCursor;
    bool dragImage = false, dragImageAfter = true;
};

HTREEITEM TreeNext(HWND tree, UINT how, HTREEITEM from) {
    return reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(from)));
}

int Children(HWND tree, HTREEITEM item) {
    int n = 0;
    for (HTREEITEM c = TreeNext(tree, TVGN_CHILD, item); c; c = TreeNext(tree, TVGN_NEXT, c))
        ++n;
    return n;
}

RECT ItemTextRect(HWND tree, HTREEITEM item) {
    RECT r = {};
    std::memcpy(&r, &item, sizeof item);  // the message takes the item in the rectangle
    SendMessageW(tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&r));
    return r;
}

// Centre of an item's text, in the tree's client coordinates.
POINT ItemCentre(HWND tree, HTREEITEM item) {
    const RECT r = ItemTextRect(tree, item);
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

bool CursorShowing() {
    CURSORINFO info = {};
    info.cbSize = sizeof info;
    return GetCursorInfo(&info) && (info.flags & CURSOR_SHOWING) != 0;
}

// Drags the stream onto the other program as the tree reports it to the page: the cursor
// hidden and the drop target marked while dragging (the drag image is in the screenshot),
// the cursor back after the drop, and the stream then under the other program.
DWORD WINAPI DriveDrag(void* data) {
    auto* s = static_cast<DragScript*>(data);
    Found f;
    HWND tree = WaitForTree(&f);
    if (!tree) {
        if (f.frame) PostMessageW(f.frame, WM_COMMAND, IDCANCEL, 0);
        return 1;
    }
    HWND page = GetParent(tree);
    Settle();
    // The program that holds the stream, and the other one.
    HTREEITEM first = TreeNext(tree, TVGN_CHILD, TreeNext(tree, TVGN_ROOT, nullptr));
    HTREEITEM second = first ? TreeNext(tree, TVGN_NEXT, first) : nullptr;
    const bool streamInFirst = first && Children(tree, first) > 0;
    HTREEITEM from = streamInFirst ? first : second;
    HTREEITEM to = streamInFirst ? second : first;
    HTREEITEM stream = from ? TreeNext(tree, TVGN_CHILD, from) : nullptr;
    if (!to || !stream) {
        PostMessageW(f.frame, WM_COMMAND, IDCANCEL, 0);
        return 1;
    }
    s->found = true;
    // The cursor's show count belongs to the page thread's input, shared once attached.
    const DWORD pageThread = GetWindowThreadProcessId(page, nullptr);
    AttachThreadInput(GetCurrentThreadId(), pageThread, TRUE);

    NMTREEVIEWW begin = {};
    begin.hdr = {tree, 1, static_cast<UINT>(TVN_BEGINDRAGW)};
    begin.itemNew.mask = TVIF_HANDLE | TVIF_PARAM;
    begin.itemNew.hItem = stream;
    SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&begin.itemNew));
    begin.ptDrag = ItemCentre(tree, stream);
    SendMessageW(page, WM_NOTIFY, 1, reinterpret_cast<LPARAM>(&begin));
    s->cursorHiddenWhileDragging = !CursorShowing();

    POINT over = ItemCentre(tree, to);
    MapWindowPoints(tree, page, &over, 1);
    SendMessageW(page, WM_MOUSEMOVE, 0, MAKELPARAM(over.x, over.y));
    s->dropTargetShown = TreeNext(tree, TVGN_DROPHILITE, nullptr) == to;
    // The drag image list of the process (common controls keep one drag at a time).
    s->dragImage = ImageList_GetDragImage(nullptr, nullptr) != nullptr;
    Settle();
    s->screenshot = testsupport::CaptureScreen("varrow_drag.png");
    // Icons are 10-pixel squares in 16-pixel cells, left of the text.
    const RECT text = ItemTextRect(tree, stream);
    POINT icon = {text.left - 9, (text.top + text.bottom) / 2};
    POINT image = ItemCentre(tree, to);
    image.x += 8;
    image.y += 8;
    ClientToScreen(tree, &icon);
    ClientToScreen(tree, &image);
    testsupport::PixelAt("varrow_drag.png", icon.x, icon.y, &s->streamIcon);
    testsupport::PixelAt("varrow_drag.png", image.x, image.y, &s->underCursor);
    SendMessageW(page, WM_LBUTTONUP, 0, MAKELPARAM(over.x, over.y));
    Settle();
    s->cursorShownAfter = CursorShowing();
    s->dragImageAfter = ImageList_GetDragImage(nullptr, nullptr) != nullptr;
    AttachThreadInput(GetCurrentThreadId(), pageThread, FALSE);
    // The tree is built again after the move.
    first = TreeNext(tree, TVGN_CHILD, TreeNext(tree, TVGN_ROOT, nullptr));
    second = first ? TreeNext(tree, TVGN_NEXT, first) : nullptr;
    s->streamsUnderFirst = first ? Children(tree, streamInFirst ? first : second) : -1;
    s->streamsUnderSecond = second ? Children(tree, streamInFirst ? second : first) : -1;
    PostMessageW(f.frame, WM_COMMAND, IDOK, 0);
    return 0;
}

TEST(VarrowPages, DraggingAStreamHidesTheCursorAndMovesIt) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    {
        Registered reg;
        ASSERT_TRUE(reg.Ok());
        Watchdog dog(240000);
        IBaseFilter* filter = NewVarrowWithTwoPrograms();
        ASSERT_NE(filter, nullptr);
        IPin* pin = FindPin(filter, L"Input0");
        IKestruneConfigEx* stream = ConfigOf(pin);
        ASSERT_EQ(SetInt(stream, kParamStreamType, 2), S_OK);
        stream->Release();
        pin->Release();

        DragScript script;
        RunFrame(filter, DriveDrag, &script, 1);

        ASSERT_TRUE(script.found);
        EXPECT_TRUE(script.cursorHiddenWhileDragging);
        EXPECT_TRUE(script.dropTargetShown);
        EXPECT_TRUE(script.screenshot);
        EXPECT_TRUE(script.dragImage);
        EXPECT_FALSE(script.dragImageAfter) << "the drop ends the drag image";
        EXPECT_LT(script.streamIcon.r, 200) << "the stream's icon is a darker grey";
        // The drag image shows the stream's grey icon at the cursor, blended with the white
        // under it: the same grey, between the icon's and white (without the image: white).
        const testsupport::Rgb& at = script.underCursor;
        EXPECT_TRUE(at.r == at.g && at.g == at.b && at.r >= script.streamIcon.r && at.r < 250)
            << at.r << "," << at.g << "," << at.b << " against the icon's " << script.streamIcon.r;
        EXPECT_TRUE(script.cursorShownAfter);
        EXPECT_EQ(script.streamsUnderFirst, 0);
        EXPECT_EQ(script.streamsUnderSecond, 1);
        EXPECT_EQ(filter->Release(), 0u);
    }
    CoUninitialize();
}

}  // namespace
