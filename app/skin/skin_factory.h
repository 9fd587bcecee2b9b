// The control factory: a page names the skinned controls it wants in a table, and the
// factory builds them from the page's skin view (the first description of each name in any
// subview) and tears them down again. Operations return 1; a row whose name matches no
// description of its kind is skipped (its control stays empty).
#pragma once

#include <windows.h>

#include <cstdint>

#include "framework/wnd.h"

struct SkinNode;
class CGRegionSlider;

struct SkinControlBinding {
    char name[40];       // the ID of the control description
    uint32_t id;         // control id; for static text also the string id of its text
    uint32_t tooltipId;  // string id of the tooltip; 0 for none
    CWnd* control;       // filled by the factory, cleared by the destroy operation
    uint32_t repeat;     // buttons only: auto-repeat while held
};

// `visible` 1: created visible; any other value: created hidden.
int CreateSkinButtons(CWnd* parent, const char* view, SkinControlBinding* table, int count, int visible);
int DestroySkinButtons(SkinControlBinding* table, int count);
// At most 11 rows form one group (each button's group holds the other rows); further rows
// are created but join no group.
int CreateSkinRadioButtons(CWnd* parent, const char* view, SkinControlBinding* table, int count);
int DestroySkinRadioButtons(SkinControlBinding* table, int count);
int CreateSkinStatics(CWnd* parent, const char* view, SkinControlBinding* table, int count, int visible);
int DestroySkinStatics(const char* view, SkinControlBinding* table, int count);

// EDIT rows: type 1 a CGLEDEdit, type 2 a CGSimpleTimeEdit; other types get no control.
int CreateSkinEdits(CWnd* parent, const char* view, SkinControlBinding* table, int count);
int DestroySkinEdits(const char* view, SkinControlBinding* table, int count);
// SPINTIMEEDIT rows: a CGTimeCodeEdit with its two spin buttons.
int CreateSkinTimeCodeEdits(CWnd* parent, const char* view, SkinControlBinding* table, int count);
int DestroySkinTimeCodeEdits(const char* view, SkinControlBinding* table, int count);
// NEWSCROLLBAR rows: a CGNewScrollBar laid out from the node (range 0..0 until the owner
// sets it).
int CreateSkinNewScrollBars(CWnd* parent, const char* view, SkinControlBinding* table, int count);
int DestroySkinNewScrollBars(const char* view, SkinControlBinding* table, int count);
// Moves each row's scroll bar to its node's place and size.
int RepositionSkinNewScrollBars(const char* view, SkinControlBinding* table, int count);
// SELECTSLIDER rows: a CGSelectSlider over 0..500 with one region, the selection 0..100.
int CreateSkinSelectSliders(CWnd* parent, const char* view, SkinControlBinding* table, int count);
int DestroySkinSelectSliders(const char* view, SkinControlBinding* table, int count);
// MAGNIFYSLIDER rows: a CGMagnifySlider over 0..100 with one region.
int CreateSkinMagnifySliders(CWnd* parent, const char* view, SkinControlBinding* table, int count);
int DestroySkinMagnifySliders(const char* view, SkinControlBinding* table, int count);
// A progress bar on the SIMPLESLIDER node `node` of `view`'s `layout`: a CGRegionSlider over
// 0..100 with one empty region, `fill` drawn over `background` (skin image files), neither the
// region's edges nor its body draggable. Null when the node is missing or the window fails.
CGRegionSlider* CreateSkinProgressSlider(CWnd* parent, const char* view, const char* layout, const char* node, UINT id,
                                         const char* background, const char* fill);
// A node's images are loaded (each user counted) and given back; the video viewer uses
// these when it re-skins its sliders.
void AcquireSkinNodeImages(SkinNode* node);
void ReleaseSkinNodeImages(SkinNode* node);
