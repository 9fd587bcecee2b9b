// ANSI text as the application keeps it: a value type with printf-style formatting and
// loading by id from the resource module; plus the small collections the pages use.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <list>
#include <map>
#include <string>
#include <vector>

#include "framework/object.h"

class CString {
public:
    CString() = default;
    CString(const char* text) : s_(text ? text : "") {}  // NOLINT: implicit like the framework's
    CString(const char* text, int length) : s_(text ? std::string(text, length < 0 ? 0 : length) : std::string()) {}
    CString(char c, int repeat) : s_(repeat > 0 ? repeat : 0, c) {}
    CString(const std::string& text) : s_(text) {}  // NOLINT

    int GetLength() const { return static_cast<int>(s_.size()); }
    bool IsEmpty() const { return s_.empty(); }
    void Empty() { s_.clear(); }
    operator const char*() const { return s_.c_str(); }  // NOLINT
    const char* c_str() const { return s_.c_str(); }
    const std::string& str() const { return s_; }
    char GetAt(int i) const { return s_.at(static_cast<size_t>(i)); }
    void SetAt(int i, char c) { s_.at(static_cast<size_t>(i)) = c; }

    CString& operator=(const char* text) {
        s_ = text ? text : "";
        return *this;
    }
    CString& operator+=(const char* text) {
        s_ += text ? text : "";
        return *this;
    }
    CString& operator+=(const CString& other) {
        s_ += other.s_;
        return *this;
    }
    CString& operator+=(char c) {
        s_ += c;
        return *this;
    }
    friend CString operator+(const CString& a, const CString& b) { return CString(a.s_ + b.s_); }
    friend CString operator+(const CString& a, const char* b) { return CString(a.s_ + (b ? b : "")); }
    friend CString operator+(const char* a, const CString& b) { return CString((a ? a : "") + b.s_); }
    friend CString operator+(const CString& a, char b) { return CString(a.s_ + b); }
    friend bool operator==(const CString& a, const CString& b) { return a.s_ == b.s_; }
    friend bool operator==(const CString& a, const char* b) { return a.s_ == (b ? b : ""); }
    friend bool operator<(const CString& a, const CString& b) { return a.s_ < b.s_; }

    int Compare(const char* other) const;
    int CompareNoCase(const char* other) const;
    // Positions are 0-based; -1 when not found.
    int Find(char c, int start = 0) const;
    int Find(const char* sub, int start = 0) const;
    int ReverseFind(char c) const;
    CString Left(int count) const;
    CString Right(int count) const;
    CString Mid(int first, int count = -1) const;
    void MakeLower();
    void MakeUpper();
    void TrimLeft();
    void TrimRight();
    int Replace(const char* from, const char* to);

    // printf-style; a format error leaves the text empty.
    void Format(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void FormatV(const char* format, va_list args);
    // Formats resource string `id` (printf-style); false, text unchanged, when it is missing.
    bool FormatId(UINT id, ...);

    // Resource string `id` of the resource module; false (text emptied, the error in
    // AfxGetResourceError) when it is missing.
    bool LoadString(UINT id);

    // Room for at least `min_length` characters to be written in place; ReleaseBuffer
    // then takes the length up to the first zero (or `length` when not negative).
    char* GetBuffer(int min_length);
    void ReleaseBuffer(int length = -1);

private:
    std::string s_;
};

// Resource string `id`, or an empty text when missing.
CString AfxLoadString(UINT id);

class CStringArray : public CObject {
public:
    int GetSize() const { return static_cast<int>(v_.size()); }
    int GetCount() const { return GetSize(); }
    int GetUpperBound() const { return GetSize() - 1; }
    const CString& GetAt(int i) const { return v_.at(static_cast<size_t>(i)); }
    CString& ElementAt(int i) { return v_.at(static_cast<size_t>(i)); }
    const CString& operator[](int i) const { return GetAt(i); }
    CString& operator[](int i) { return ElementAt(i); }
    void SetAt(int i, const CString& s) { ElementAt(i) = s; }
    int Add(const CString& s) {
        v_.push_back(s);
        return GetSize() - 1;
    }
    void InsertAt(int i, const CString& s) { v_.insert(v_.begin() + Bounded(i), s); }
    void RemoveAt(int i, int count = 1);
    void RemoveAll() { v_.clear(); }
    void SetSize(int n) { v_.resize(n < 0 ? 0 : static_cast<size_t>(n)); }

private:
    ptrdiff_t Bounded(int i) const { return i < 0 ? 0 : (i > GetSize() ? GetSize() : i); }
    std::vector<CString> v_;
};

// Indexed array of values (the framework's CArray / CDWordArray / CPtrArray family).
template <typename T>
class CArray : public CObject {
public:
    int GetSize() const { return static_cast<int>(v_.size()); }
    int GetCount() const { return GetSize(); }
    const T& GetAt(int i) const { return v_.at(static_cast<size_t>(i)); }
    T& ElementAt(int i) { return v_.at(static_cast<size_t>(i)); }
    const T& operator[](int i) const { return GetAt(i); }
    T& operator[](int i) { return ElementAt(i); }
    void SetAt(int i, const T& value) { ElementAt(i) = value; }
    int Add(const T& value) {
        v_.push_back(value);
        return GetSize() - 1;
    }
    void RemoveAt(int i, int count = 1) {
        if (i < 0 || count <= 0 || i >= GetSize()) return;
        const int end = (count > GetSize() - i) ? GetSize() : i + count;
        v_.erase(v_.begin() + i, v_.begin() + end);
    }
    void RemoveAll() { v_.clear(); }
    void SetSize(int n) { v_.resize(n < 0 ? 0 : static_cast<size_t>(n)); }

private:
    std::vector<T> v_;
};
using CDWordArray = CArray<DWORD>;
using CPtrArray = CArray<void*>;
using CUIntArray = CArray<UINT>;

// Position of an element of a list; null when past the end.
using POSITION = struct ListPosition*;

// Doubly linked list of pointers (the framework's CPtrList / CObList); positions stay
// valid while their element stays in the list.
class CPtrList : public CObject {
public:
    CPtrList() = default;
    CPtrList(const CPtrList&) = delete;
    CPtrList& operator=(const CPtrList&) = delete;
    ~CPtrList() override { RemoveAll(); }

    int GetCount() const { return count_; }
    bool IsEmpty() const { return count_ == 0; }
    POSITION AddHead(void* item);
    POSITION AddTail(void* item);
    void* RemoveHead();
    void* RemoveTail();
    void RemoveAt(POSITION pos);
    void RemoveAll();
    POSITION GetHeadPosition() const;
    POSITION GetTailPosition() const;
    void* GetHead() const;
    void* GetTail() const;
    // Returns the element at pos and moves pos to the next (previous) element.
    void* GetNext(POSITION& pos) const;
    void* GetPrev(POSITION& pos) const;
    void* GetAt(POSITION pos) const;
    void SetAt(POSITION pos, void* item);
    POSITION Find(void* item, POSITION after = nullptr) const;
    POSITION FindIndex(int index) const;

private:
    ListPosition* head_ = nullptr;
    ListPosition* tail_ = nullptr;
    int count_ = 0;
};
using CObList = CPtrList;

// Map from text to object pointer; keys compare exactly. Values are not owned.
class CMapStringToOb : public CObject {
public:
    explicit CMapStringToOb(int block_size = 10) { (void)block_size; }
    int GetCount() const { return static_cast<int>(m_.size()); }
    bool IsEmpty() const { return m_.empty(); }
    bool Lookup(const char* key, CObject*& value) const;
    void SetAt(const char* key, CObject* value) { m_[key ? key : ""] = value; }
    bool RemoveKey(const char* key) { return m_.erase(key ? key : "") > 0; }
    void RemoveAll() { m_.clear(); }
    // Iteration in key order: call with the position from GetStartPosition until it is null.
    POSITION GetStartPosition() const;
    void GetNextAssoc(POSITION& pos, CString& key, CObject*& value) const;

private:
    std::map<std::string, CObject*> m_;
};
