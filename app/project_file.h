// The project file (".qzt"): the file conversion page's batch list on disk. Declared here as
// the main page uses it; its format, its loader and its missing-file dialog live with the
// class's own implementation.
#pragma once

#include "app/pages/page_slots.h"

class CProjectFile {
public:
    CProjectFile();
    virtual ~CProjectFile();
    // 1 when the file was read (also when reading stopped at the user's request); 0 when it
    // could not be used, after a message of its own.
    int Load(const char* path);
    // 1.
    int Save(const char* path);
    // The entry list, still owned by the project object: 1.
    int GetEntries(FileBatchEntryList** out);

private:
    FileBatchEntryList entries_;
    int skipMissing_ = 0;
};
