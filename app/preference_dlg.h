// The preferences sheet, as the main panel opens it: a property sheet with the caption of a
// resource string, over the panel. Its pages and values live with the class's own
// implementation.
#pragma once

#include "framework/dialog.h"

class CPreferenceDlg {
public:
    CPreferenceDlg(UINT captionId, CWnd* parent);
    virtual ~CPreferenceDlg();
    // IDOK or IDCANCEL.
    virtual INT_PTR DoModal();

private:
    UINT captionId_;
    CWnd* parent_;
};
