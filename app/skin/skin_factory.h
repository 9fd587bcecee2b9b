// The control factory: a page names the skinned controls it wants in a table, and the
// factory builds them from the page's skin view (the first description of each name in any
// subview) and tears them down again. Operations return 1; a row whose name matches no
// description of its kind is skipped (its control stays empty).
#pragma once

#include <windows.h>

#include <cstdint>

#include "framework/wnd.h"

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
