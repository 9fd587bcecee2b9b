// Stand-ins for the project file and the preferences sheet, which come with their own
// implementation: a project cannot be opened or saved yet (Load reports failure, so the
// main page turns to a new project; Save writes nothing and is not reported as written),
// and the preferences sheet is not shown.
#include "app/preference_dlg.h"
#include "app/project_file.h"

CProjectFile::CProjectFile() = default;
CProjectFile::~CProjectFile() = default;
int CProjectFile::Load(const char*) {
    return 0;
}
int CProjectFile::Save(const char*) {
    return 0;
}
int CProjectFile::GetEntries(FileBatchEntryList** out) {
    *out = &entries_;
    return 1;
}

CPreferenceDlg::CPreferenceDlg(UINT captionId, CWnd* parent) : captionId_(captionId), parent_(parent) {}
CPreferenceDlg::~CPreferenceDlg() = default;
INT_PTR CPreferenceDlg::DoModal() {
    return IDCANCEL;
}
