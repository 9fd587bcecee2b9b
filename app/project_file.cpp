#include "app/project_file.h"

#include <shlwapi.h>

#include <cstring>
#include <string>

#include "app/profiles/profile_file_io.h"
#include "app/resources/resource_ids.h"
#include "app/services/preferences.h"
#include "app/skin/common_dialogs.h"
#include "engines/client/engine_client.h"
#include "framework/app.h"

namespace {

int QueryProbe(const char* path, engines::ClipInfo* info) {
    engines::ClipInfo probed{};
    QueryClipInfo(path, &probed, nullptr, nullptr, 0);
    *info = probed;
    return probed.mediaKind == engines::kClipVideo ? 1 : 0;
}

ClipProbe g_probe = QueryProbe;

FileBatchEntry* CopyEntry(const FileBatchEntry& entry) {
    auto* copy = new FileBatchEntry;
    std::memcpy(copy, &entry, sizeof entry);
    return copy;
}

// DVD title and recorder files are split into segments when added; one of them cannot stand
// for another, so a missing one is dropped without a question.
bool IsSegmentedFile(const char* path) {
    const char* ext = PathFindExtensionA(path);
    return lstrcmpiA(ext, ".VOB") == 0 || lstrcmpiA(ext, ".VRO") == 0;
}

// The entry for a replacement file: only the path, the probe's block and the points of the
// whole clip; everything else of the stored entry is dropped.
FileBatchEntry RebuiltEntry(const char* path, const engines::ClipInfo& info) {
    FileBatchEntry entry;
    std::memset(&entry, 0, sizeof entry);
    entry.progressMark = -1;
    entry.inPoint = 0;
    entry.outPoint = info.duration;
    lstrcpynA(entry.path, path, sizeof entry.path);
    entry.media = info;
    return entry;
}

}  // namespace

int ProbeClipFile(const char* path, engines::ClipInfo* info) {
    return g_probe(path, info);
}

void SetClipProbe(ClipProbe probe) {
    g_probe = probe ? probe : QueryProbe;
}

CProjectFile::CProjectFile() = default;

CProjectFile::~CProjectFile() {
    Clear();
}

void CProjectFile::Clear() {
    while (!entries_.IsEmpty())
        delete static_cast<FileBatchEntry*>(entries_.RemoveHead());
}

int CProjectFile::GetEntries(CPtrList** list) {
    *list = &entries_;
    return 1;
}

int CProjectFile::Load(const char* path) {
    std::string bytes;
    std::vector<FileBatchEntry> entries;
    std::string error;
    const auto read = profiles::DefaultProfileFileSystem().ReadAll(path ? path : "", project::kMaxFileBytes, bytes);
    if (read != profiles::ProfileFileSystem::ReadResult::kOk ||
        project::ParseStored(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &entries, &error) !=
            project::ParseResult::kOk) {
        AfxMessageBox(IDS_PROJECT_DAMAGED);
        return 0;
    }
    for (const FileBatchEntry& entry : entries)
        if (!AddEntry(&entry)) break;
    return 1;
}

int CProjectFile::Save(const char* path) {
    std::vector<FileBatchEntry> entries;
    entries.reserve(static_cast<size_t>(entries_.GetCount()));
    for (POSITION pos = entries_.GetHeadPosition(); pos;)
        entries.push_back(*static_cast<const FileBatchEntry*>(entries_.GetNext(pos)));
    const std::vector<uint8_t> stored = project::Scramble(project::BuildPlain(entries));
    const std::string_view content(reinterpret_cast<const char*>(stored.data()), stored.size());
    if (!path || !profiles::ReplaceFileContent(profiles::DefaultProfileFileSystem(), path, content)) {
        CString text;
        text.Format("The project cannot be saved as %s.", path ? path : "");
        AfxMessageBox(text, MB_OK | MB_ICONEXCLAMATION);
        return 0;
    }
    SetLastProjectName(path);
    return 1;
}

int CProjectFile::AddEntry(const FileBatchEntry* entry) {
    if (PathFileExistsA(entry->path)) {
        entries_.AddTail(CopyEntry(*entry));
        return 1;
    }
    if (skipMissing_ || IsSegmentedFile(entry->path)) return 1;
    CString chosen;
    int answer = LocateMissingFile(entry->path, chosen);
    if (answer != kLocateChosen) return answer == kLocateStop ? 0 : 1;
    engines::ClipInfo info{};
    while (!ProbeClipFile(chosen, &info)) {
        AfxMessageBox(IDS_NOT_A_USABLE_CLIP);
        answer = LocateMissingFile(entry->path, chosen);
        if (answer != kLocateChosen) return answer == kLocateStop ? 0 : 1;
    }
    entries_.AddTail(CopyEntry(RebuiltEntry(chosen, info)));
    return 1;
}

int CProjectFile::LocateMissingFile(const char* missing, CString& chosen) {
    chosen = "";
    CString message;
    message.FormatId(IDS_MISSING_INPUT_FILE, PathFindFileNameA(missing));
    CMessageFileDialog dialog(message, missing);
    switch (dialog.DoModal()) {
        case IDOK:
            if (!PathFileExistsA(dialog.GetFileName())) return kLocateSkip;
            chosen = dialog.GetFileName();
            return kLocateChosen;
        case IDC_MESSAGE_SKIP_ALL:
            skipMissing_ = 1;
            return kLocateSkip;
        case IDC_MESSAGE_SKIP:
            return kLocateSkip;
        default:  // Stop, or the dialog could not be shown
            return kLocateStop;
    }
}
