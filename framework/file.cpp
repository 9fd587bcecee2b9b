#include "framework/file.h"

CString CFileException::GetErrorMessage() const {
    CString text;
    text.Format("File operation failed on '%s' (error %lu)", m_strFileName.c_str(),
                static_cast<unsigned long>(m_lOsError));
    return text;
}

CFile::CFile(const char* fileName, UINT flags) {
    CFileException error(0, fileName);
    if (!Open(fileName, flags, &error)) throw error;
}

CFile::~CFile() {
    if (m_hFile != INVALID_HANDLE_VALUE) CloseHandle(m_hFile);
}

BOOL CFile::Open(const char* fileName, UINT flags, CFileException* error) {
    Close();
    DWORD access = GENERIC_READ;
    if ((flags & 3) == modeWrite)
        access = GENERIC_WRITE;
    else if ((flags & 3) == modeReadWrite)
        access = GENERIC_READ | GENERIC_WRITE;
    DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    if (flags & shareExclusive)
        share = 0;
    else if (flags & shareDenyWrite)
        share = FILE_SHARE_READ;
    DWORD disposition = OPEN_EXISTING;
    if (flags & modeCreate) disposition = (flags & modeNoTruncate) ? OPEN_ALWAYS : CREATE_ALWAYS;
    m_hFile = CreateFileA(fileName, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_hFile == INVALID_HANDLE_VALUE) {
        if (error) {
            error->m_lOsError = GetLastError();
            error->m_strFileName = fileName;
        }
        return FALSE;
    }
    path_ = fileName;
    return TRUE;
}

void CFile::Close() {
    if (m_hFile == INVALID_HANDLE_VALUE) return;
    const BOOL closed = CloseHandle(m_hFile);
    m_hFile = INVALID_HANDLE_VALUE;
    if (!closed) Throw();
}

void CFile::Throw() const {
    throw CFileException(GetLastError(), path_);
}

UINT CFile::Read(void* buffer, UINT count) {
    DWORD done = 0;
    if (!ReadFile(m_hFile, buffer, count, &done, nullptr)) Throw();
    return done;
}

void CFile::Write(const void* buffer, UINT count) {
    DWORD done = 0;
    if (!WriteFile(m_hFile, buffer, count, &done, nullptr) || done != count) Throw();
}

int64_t CFile::Seek(int64_t offset, UINT from) {
    LARGE_INTEGER move, now;
    move.QuadPart = offset;
    if (!SetFilePointerEx(m_hFile, move, &now, from)) Throw();
    return now.QuadPart;
}

int64_t CFile::GetLength() const {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(m_hFile, &size)) Throw();
    return size.QuadPart;
}

int64_t CFile::GetPosition() const {
    LARGE_INTEGER zero{}, now;
    if (!SetFilePointerEx(m_hFile, zero, &now, FILE_CURRENT)) Throw();
    return now.QuadPart;
}

void CFile::SetLength(int64_t length) {
    Seek(length, begin);
    if (!SetEndOfFile(m_hFile)) Throw();
}

void CFile::Flush() {
    if (!FlushFileBuffers(m_hFile)) Throw();
}

void CFile::Remove(const char* fileName) {
    if (!DeleteFileA(fileName)) throw CFileException(GetLastError(), fileName);
}

void CFile::Rename(const char* from, const char* to) {
    if (!MoveFileA(from, to)) throw CFileException(GetLastError(), from);
}

BOOL CFileFind::FindFile(const char* pattern) {
    Close();
    const CString what = pattern ? pattern : "*.*";
    const int slash = what.ReverseFind('\\');
    root_ = slash >= 0 ? what.Left(slash) : CString();
    find_ = FindFirstFileA(what, &next_);
    has_next_ = find_ != INVALID_HANDLE_VALUE;
    return has_next_;
}

BOOL CFileFind::FindNextFile() {
    if (!has_next_) return FALSE;
    current_ = next_;
    has_next_ = FindNextFileA(find_, &next_) != 0;
    return has_next_;
}

void CFileFind::Close() {
    if (find_ != INVALID_HANDLE_VALUE) FindClose(find_);
    find_ = INVALID_HANDLE_VALUE;
    has_next_ = false;
}

CString CFileFind::GetFilePath() const {
    if (root_.IsEmpty()) return GetFileName();
    return root_ + "\\" + GetFileName();
}

BOOL CFileFind::IsDots() const {
    return IsDirectory() && (lstrcmpA(current_.cFileName, ".") == 0 || lstrcmpA(current_.cFileName, "..") == 0);
}
