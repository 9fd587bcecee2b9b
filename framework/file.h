// Files with exceptions, and the walk over a folder's entries.
#pragma once

#include <windows.h>

#include <cstdint>

#include "framework/string.h"

class CFileException : public CObject {
public:
    CFileException(DWORD osError, const char* fileName) : m_lOsError(osError), m_strFileName(fileName) {}
    DWORD m_lOsError;
    CString m_strFileName;
    // "<what failed> '<file>' (error n)".
    CString GetErrorMessage() const;
};

class CFile : public CObject {
public:
    enum OpenFlags : UINT {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareDenyNone = 0x0040,
        shareDenyWrite = 0x0020,
        shareExclusive = 0x0010,
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
    };
    enum SeekPosition { begin = FILE_BEGIN, current = FILE_CURRENT, end = FILE_END };

    CFile() = default;
    // Opens or throws CFileException.
    CFile(const char* fileName, UINT flags);
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;
    ~CFile() override;

    HANDLE m_hFile = INVALID_HANDLE_VALUE;
    // False when it cannot open; the reason goes into `error` when given.
    virtual BOOL Open(const char* fileName, UINT flags, CFileException* error = nullptr);
    virtual void Close();
    // Reads up to `count` bytes; returns how many were read (0 at the end). Throws on failure.
    virtual UINT Read(void* buffer, UINT count);
    // Writes all `count` bytes or throws.
    virtual void Write(const void* buffer, UINT count);
    virtual int64_t Seek(int64_t offset, UINT from);
    virtual int64_t GetLength() const;
    virtual int64_t GetPosition() const;
    virtual void SetLength(int64_t length);
    virtual void Flush();
    CString GetFilePath() const { return path_; }

    static void Remove(const char* fileName);
    static void Rename(const char* from, const char* to);

private:
    [[noreturn]] void Throw() const;
    CString path_;
};

class CFileFind : public CObject {
public:
    CFileFind() = default;
    CFileFind(const CFileFind&) = delete;
    CFileFind& operator=(const CFileFind&) = delete;
    ~CFileFind() override { Close(); }

    // Starts a walk over `pattern` ("C:\dir\*.*" by default "*.*"); false when nothing matches.
    BOOL FindFile(const char* pattern = nullptr);
    // Moves to the next entry; false when the current one is the last (it stays readable).
    BOOL FindNextFile();
    void Close();

    CString GetFileName() const { return CString(current_.cFileName); }
    CString GetFilePath() const;
    CString GetRoot() const { return root_; }
    uint64_t GetLength() const { return (static_cast<uint64_t>(current_.nFileSizeHigh) << 32) | current_.nFileSizeLow; }
    BOOL IsDirectory() const { return (current_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
    BOOL IsDots() const;
    BOOL IsReadOnly() const { return (current_.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0; }
    BOOL GetLastWriteTime(FILETIME* time) const {
        *time = current_.ftLastWriteTime;
        return TRUE;
    }

private:
    HANDLE find_ = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAA current_{};
    WIN32_FIND_DATAA next_{};
    bool has_next_ = false;
    CString root_;
};
