#include "framework/string.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "framework/parse.h"
#include "framework/resources.h"

int CString::Compare(const char* other) const {
    return std::strcmp(s_.c_str(), other ? other : "");
}

int CString::CompareNoCase(const char* other) const {
    return lstrcmpiA(s_.c_str(), other ? other : "");
}

int CString::Find(char c, int start) const {
    if (start < 0 || start > GetLength()) return -1;
    const size_t at = s_.find(c, static_cast<size_t>(start));
    return at == std::string::npos ? -1 : static_cast<int>(at);
}

int CString::Find(const char* sub, int start) const {
    if (!sub || start < 0 || start > GetLength()) return -1;
    const size_t at = s_.find(sub, static_cast<size_t>(start));
    return at == std::string::npos ? -1 : static_cast<int>(at);
}

int CString::ReverseFind(char c) const {
    const size_t at = s_.rfind(c);
    return at == std::string::npos ? -1 : static_cast<int>(at);
}

CString CString::Left(int count) const {
    return CString(s_.substr(0, static_cast<size_t>(std::clamp(count, 0, GetLength()))));
}

CString CString::Right(int count) const {
    const int n = std::clamp(count, 0, GetLength());
    return CString(s_.substr(static_cast<size_t>(GetLength() - n)));
}

CString CString::Mid(int first, int count) const {
    const int from = std::clamp(first, 0, GetLength());
    const int n = count < 0 ? GetLength() - from : std::min(count, GetLength() - from);
    return CString(s_.substr(static_cast<size_t>(from), static_cast<size_t>(n)));
}

void CString::MakeLower() {
    for (char& c : s_)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

void CString::MakeUpper() {
    for (char& c : s_)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

void CString::TrimLeft() {
    size_t i = 0;
    while (i < s_.size() && std::isspace(static_cast<unsigned char>(s_[i])))
        ++i;
    s_.erase(0, i);
}

void CString::TrimRight() {
    while (!s_.empty() && std::isspace(static_cast<unsigned char>(s_.back())))
        s_.pop_back();
}

int CString::Replace(const char* from, const char* to) {
    if (!from || !*from) return 0;
    const std::string with = to ? to : "";
    const size_t from_len = std::strlen(from);
    int count = 0;
    for (size_t at = s_.find(from); at != std::string::npos; at = s_.find(from, at + with.size())) {
        s_.replace(at, from_len, with);
        ++count;
    }
    return count;
}

void CString::Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    FormatV(format, args);
    va_end(args);
}

void CString::FormatV(const char* format, va_list args) {
    va_list measure;
    va_copy(measure, args);
    const int n = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (n < 0) {
        s_.clear();
        return;
    }
    std::string out(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(out.data(), out.size(), format, args);
    out.resize(static_cast<size_t>(n));
    s_ = std::move(out);
}

bool CString::FormatId(UINT id, ...) {
    CString format;
    if (!format.LoadString(id)) return false;
    va_list args;
    va_start(args, id);
    FormatV(format, args);
    va_end(args);
    return true;
}

bool CString::LoadString(UINT id) {
    // String resources live in blocks of 16 counted UTF-16 strings (block id / 16 + 1); an
    // absent string has length 0 in its block.
    DWORD size = 0;
    const auto* block =
        static_cast<const WCHAR*>(AfxFindResourceData(id / 16 + 1, MAKEINTRESOURCEA(6), &size, "string"));
    s_.clear();
    if (!block) {
        AfxSetResourceError("string", id);
        return false;
    }
    const uint16_t* text = nullptr;
    size_t units = 0;
    if (!fwparse::FindBlockString(reinterpret_cast<const uint16_t*>(block), size / sizeof(WCHAR), id % 16, &text,
                                  &units)) {
        AfxSetResourceError("string", id);
        return false;
    }
    const auto* chars = reinterpret_cast<const WCHAR*>(text);
    const int length = static_cast<int>(units);
    const int bytes = WideCharToMultiByte(CP_ACP, 0, chars, length, nullptr, 0, nullptr, nullptr);
    s_.resize(static_cast<size_t>(bytes));
    WideCharToMultiByte(CP_ACP, 0, chars, length, s_.data(), bytes, nullptr, nullptr);
    AfxClearResourceError();
    return true;
}

char* CString::GetBuffer(int min_length) {
    if (min_length > GetLength()) s_.resize(static_cast<size_t>(min_length));
    return s_.data();
}

void CString::ReleaseBuffer(int length) {
    if (length < 0)
        s_.resize(std::strlen(s_.c_str()));
    else
        s_.resize(std::min(static_cast<size_t>(length), s_.size()));
}

CString AfxLoadString(UINT id) {
    CString s;
    s.LoadString(id);
    return s;
}

void CStringArray::RemoveAt(int i, int count) {
    if (i < 0 || count <= 0 || i >= GetSize()) return;
    const int end = (count > GetSize() - i) ? GetSize() : i + count;
    v_.erase(v_.begin() + i, v_.begin() + end);
}

struct ListPosition {
    ListPosition* prev;
    ListPosition* next;
    void* data;
};

POSITION CPtrList::AddHead(void* item) {
    auto* node = new ListPosition{nullptr, head_, item};
    (head_ ? head_->prev : tail_) = node;
    head_ = node;
    ++count_;
    return node;
}

POSITION CPtrList::AddTail(void* item) {
    auto* node = new ListPosition{tail_, nullptr, item};
    (tail_ ? tail_->next : head_) = node;
    tail_ = node;
    ++count_;
    return node;
}

void CPtrList::RemoveAt(POSITION pos) {
    if (!pos) return;
    (pos->prev ? pos->prev->next : head_) = pos->next;
    (pos->next ? pos->next->prev : tail_) = pos->prev;
    delete pos;
    --count_;
}

void* CPtrList::RemoveHead() {
    if (!head_) return nullptr;
    void* data = head_->data;
    RemoveAt(head_);
    return data;
}

void* CPtrList::RemoveTail() {
    if (!tail_) return nullptr;
    void* data = tail_->data;
    RemoveAt(tail_);
    return data;
}

void CPtrList::RemoveAll() {
    while (head_)
        RemoveAt(head_);
}

POSITION CPtrList::GetHeadPosition() const {
    return head_;
}
POSITION CPtrList::GetTailPosition() const {
    return tail_;
}
void* CPtrList::GetHead() const {
    return head_ ? head_->data : nullptr;
}
void* CPtrList::GetTail() const {
    return tail_ ? tail_->data : nullptr;
}

void* CPtrList::GetNext(POSITION& pos) const {
    ListPosition* node = pos;
    pos = node->next;
    return node->data;
}

void* CPtrList::GetPrev(POSITION& pos) const {
    ListPosition* node = pos;
    pos = node->prev;
    return node->data;
}

void* CPtrList::GetAt(POSITION pos) const {
    return pos->data;
}
void CPtrList::SetAt(POSITION pos, void* item) {
    pos->data = item;
}

POSITION CPtrList::Find(void* item, POSITION after) const {
    for (ListPosition* p = after ? after->next : head_; p; p = p->next)
        if (p->data == item) return p;
    return nullptr;
}

POSITION CPtrList::FindIndex(int index) const {
    if (index < 0 || index >= count_) return nullptr;
    ListPosition* p = head_;
    while (index-- > 0)
        p = p->next;
    return p;
}

bool CMapStringToOb::Lookup(const char* key, CObject*& value) const {
    auto it = m_.find(key ? key : "");
    if (it == m_.end()) return false;
    value = it->second;
    return true;
}

// A map position is the 1-based index of the next entry in key order, carried in the
// pointer-sized POSITION.
POSITION CMapStringToOb::GetStartPosition() const {
    return m_.empty() ? nullptr : reinterpret_cast<POSITION>(static_cast<uintptr_t>(1));
}

void CMapStringToOb::GetNextAssoc(POSITION& pos, CString& key, CObject*& value) const {
    const auto index = reinterpret_cast<uintptr_t>(pos) - 1;
    if (index >= m_.size()) {
        pos = nullptr;
        return;
    }
    auto it = std::next(m_.begin(), static_cast<ptrdiff_t>(index));
    key = it->first.c_str();
    value = it->second;
    pos = index + 1 < m_.size() ? reinterpret_cast<POSITION>(index + 2) : nullptr;
}
