// The multiplexer's property pages: the settings page (the tree of the filter, its
// programs and streams, and the parameters of the selected one, edited in place) and the
// version page.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "filters/base/property_page.h"
#include "filters/config/kestrune_config.h"

class CParamSink;

class CMuxPropertyPage final : public CBasePropertyPage {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);

    HRESULT OnConnect(IUnknown* object) override;
    HRESULT OnDisconnect() override;
    HRESULT OnActivate() override;
    HRESULT OnDeactivate() override;
    HRESULT OnApplyChanges() override;
    INT_PTR OnReceiveMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) override;

    // A change reported by an object's sink (any thread); applied on the page's thread.
    void Enqueue(IUnknown* object, const GUID& key, const VARIANT* value);

    // Control identifiers inside the page.
    static constexpr int kTreeId = 1;
    static constexpr int kListId = 2;
    static constexpr int kEditorId = 3;
    static constexpr UINT kTimerId = 1;
    static constexpr UINT kTimerMs = 150;

private:
    CMuxPropertyPage(IUnknown* outer, HRESULT* hr);
    ~CMuxPropertyPage() override;

    struct Node {
        char kind = 'm';                      // 'm' filter, 'p' program, 's' stream
        IKestruneConfigEx* config = nullptr;  // counted
        CParamSink* sink = nullptr;           // counted
        HTREEITEM item = nullptr;
        Node* program = nullptr;  // a stream's program node
        bool needsRebuild = false;
        GUID lastEdited{};
        std::vector<std::unique_ptr<Node>> children;
        ~Node();
    };
    // Notices hold the object only as an identity, never a node that a rebuild may delete.
    struct Notice {
        IUnknown* object = nullptr;
        GUID key{};
        bool hasValue = false;
        VARIANT value{};
    };

    void BuildTree();
    void DestroyTree();
    Node* AddNode(Node* parent, char kind, IKestruneConfigEx* config, const std::wstring& text, int image);
    Node* FindNode(Node* node, IUnknown* object);
    void FillList();
    void ApplyChange(Notice& notice);
    void ApplyPending();
    void Animate();
    void SelectNode(Node* node);
    void ShowDescription(const GUID& key);
    bool OpenEditor();
    bool ApplyEditor();
    void CloseEditor(bool apply);
    void ContextMenu();
    // Dragging a stream: its drag image follows the mouse, the cursor hidden meanwhile.
    void BeginDrag(Node* stream, HTREEITEM item, POINT at);
    void EndDrag();
    // The drag image of a tree item drawn by the page: its icon and text on white.
    HIMAGELIST MakeDragImage(HTREEITEM item) const;
    // A point of the tree's client area in the tree window's own coordinates.
    POINT TreeWindowPoint(POINT client) const;
    void Drop(Node* stream, HTREEITEM target);
    bool GuidOfRow(int row, GUID* key);

    IKestruneConfigEx* filter_ = nullptr;  // counted
    HWND tree_ = nullptr;
    HWND list_ = nullptr;
    HIMAGELIST treeImages_ = nullptr;
    HIMAGELIST listImages_ = nullptr;
    std::unique_ptr<Node> root_;
    Node* shown_ = nullptr;
    Node* dragged_ = nullptr;
    HIMAGELIST dragImage_ = nullptr;  // non-null while dragging
    bool cursorHidden_ = false;
    HWND editor_ = nullptr;
    HHOOK hook_ = nullptr;
    std::vector<GUID> rowKeys_;  // item data of a row is its index here
    std::mutex pendingLock_;
    std::vector<Notice> pending_;
    bool running_ = false;
    bool runningChanged_ = false;
    int firstImage_ = 4, lastImage_ = 11, currentImage_ = 4;
    bool rebuildWanted_ = false;
};

class CVersionPage final : public CBasePropertyPage {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);
    HRESULT OnActivate() override;

    // "Version a.b.c (build d)" of the library's file version; empty without one.
    static std::wstring VersionText(HMODULE module);

private:
    CVersionPage(IUnknown* outer, HRESULT* hr);
};
