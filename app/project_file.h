// The project file (".qzt"): the file conversion page's batch list saved and read back, with
// the question for entries whose input file has gone (locate, skip, skip all, stop). The main
// page creates one object per open or save and deletes it afterwards. User-interface thread.
#pragma once

#include <windows.h>

#include "app/project_format.h"
#include "framework/string.h"

// Fills `info` from the clip query: 1 when the query worked and the clip is a video
// (mediaKind kClipVideo), else 0.
int ProbeClipFile(const char* path, engines::ClipInfo* info);
// Where ProbeClipFile's answers come from; null restores the clip query. Tests replace it.
using ClipProbe = int (*)(const char* path, engines::ClipInfo* info);
void SetClipProbe(ClipProbe probe);

class CProjectFile {
public:
    CProjectFile();
    virtual ~CProjectFile();
    CProjectFile(const CProjectFile&) = delete;
    CProjectFile& operator=(const CProjectFile&) = delete;

    // Reads the project: 1 when it was read (also when the user stopped at a missing file, the
    // entries read so far staying); 0 after resource string 361 when the file cannot be read or
    // is damaged, with the list left empty and nothing asked.
    int Load(const char* path);
    // Replaces the file at `path` by the list, only after the new content is written whole
    // beside it, and stores the path as "LastProjectName": 1. On a failure the old file stays,
    // the user is told, and 0 is returned.
    int Save(const char* path);
    // The entry list (FileBatchEntry pointers, owned by this object): 1.
    int GetEntries(CPtrList** list);
    // Appends a copy when its input file exists; otherwise drops it or asks the user (see
    // LocateMissingFile). 0 when the user asked to stop reading, else 1.
    int AddEntry(const FileBatchEntry* entry);
    int GetSkipMissing() const { return skipMissing_; }

    // The answers of the missing-file question.
    enum LocateResult { kLocateStop = -1, kLocateSkip = 0, kLocateChosen = 1 };
    // Asks with resource string 256 about `missing`: the chosen existing file (kLocateChosen,
    // its path in `chosen`), skip (also for a chosen file that does not exist), skip all (sets
    // the skip-missing flag), or stop.
    int LocateMissingFile(const char* missing, CString& chosen);

private:
    void Clear();
    CPtrList entries_;
    int skipMissing_ = 0;
};
