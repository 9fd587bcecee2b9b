#include "app/services/resource_check.h"

#include <cstring>

namespace services {
namespace {
// DS_SETFONT and DS_SHELLFONT (DS_SETFONT | DS_FIXEDSYS) of the dialog style.
constexpr uint32_t DS_SETFONT_BIT = 0x40;
constexpr uint32_t DS_SHELLFONT_BIT = 0x48;
}  // namespace

bool ParsePrintfConversions(const std::string& format, std::vector<std::string>* conversions) {
    conversions->clear();
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') continue;
        if (++i >= format.size()) return false;
        if (format[i] == '%') continue;
        while (i < format.size() && std::strchr("-+ #0", format[i]))
            ++i;  // flags
        while (i < format.size() && ((format[i] >= '0' && format[i] <= '9') || format[i] == '*' || format[i] == '.'))
            ++i;  // width and precision
        std::string length;
        while (i < format.size() && std::strchr("hlLqjztI0123456789", format[i])) {
            // "I64" and "I32" are the Windows runtime's sizes.
            length += format[i];
            ++i;
        }
        if (i >= format.size() || !std::strchr("diouxXeEfgGaAcspnS", format[i])) return false;
        conversions->push_back(length + format[i]);
    }
    return true;
}

namespace {

class Reader {
public:
    Reader(const uint8_t* d, size_t n) : d_(d), n_(n) {}
    bool U16(uint16_t* v) {
        if (pos_ + 2 > n_) return false;
        *v = static_cast<uint16_t>(d_[pos_] | (d_[pos_ + 1] << 8));
        pos_ += 2;
        return true;
    }
    bool U32(uint32_t* v) {
        uint16_t lo, hi;
        if (!U16(&lo) || !U16(&hi)) return false;
        *v = lo | (static_cast<uint32_t>(hi) << 16);
        return true;
    }
    bool Skip(size_t bytes) {
        if (bytes > n_ - pos_) return false;
        pos_ += bytes;
        return true;
    }
    // A text (zero-terminated UTF-16) or an ordinal (0xFFFF then one word); 0x0000 alone is
    // an empty entry.
    bool SzOrOrd() {
        uint16_t first;
        if (!U16(&first)) return false;
        if (first == 0xFFFF) return Skip(2);
        for (uint16_t c = first; c != 0;)
            if (!U16(&c)) return false;
        return true;
    }
    bool Sz() {
        for (uint16_t c = 1; c != 0;)
            if (!U16(&c)) return false;
        return true;
    }
    bool Align4() { return Skip((4 - pos_ % 4) % 4); }

private:
    const uint8_t* d_;
    size_t n_;
    size_t pos_ = 0;
};

}  // namespace

bool ReadDialogControlIds(const uint8_t* data, size_t size, std::vector<uint32_t>* ids) {
    ids->clear();
    if (data == nullptr) return false;
    Reader r(data, size);
    uint16_t version, signature;
    if (!r.U16(&version) || !r.U16(&signature)) return false;
    const bool extended = version == 1 && signature == 0xFFFF;
    uint32_t style = 0, dummy;
    uint16_t count, word;
    if (extended) {
        // helpID, exStyle, style
        if (!r.U32(&dummy) || !r.U32(&dummy) || !r.U32(&style)) return false;
    } else {
        // version/signature were the style's two words; then exStyle.
        style = version | (static_cast<uint32_t>(signature) << 16);
        if (!r.U32(&dummy)) return false;
    }
    if (!r.U16(&count) || !r.Skip(8)) return false;             // item count, x, y, cx, cy
    if (!r.SzOrOrd() || !r.SzOrOrd() || !r.Sz()) return false;  // menu, class, title
    if (style & (DS_SETFONT_BIT | DS_SHELLFONT_BIT)) {
        if (!r.U16(&word)) return false;                              // point size
        if (extended && (!r.U16(&word) || !r.Skip(2))) return false;  // weight, italic, charset
        if (!r.Sz()) return false;
    }
    for (uint16_t i = 0; i < count; ++i) {
        uint32_t id;
        if (!r.Align4()) return false;
        if (extended) {
            // helpID, exStyle, style, x, y, cx, cy, id (32 bits)
            if (!r.Skip(12) || !r.Skip(8) || !r.U32(&id)) return false;
        } else {
            uint16_t id16;
            // style, exStyle, x, y, cx, cy, id (16 bits)
            if (!r.Skip(8) || !r.Skip(8) || !r.U16(&id16)) return false;
            id = id16;
        }
        uint16_t extra;
        if (!r.SzOrOrd() || !r.SzOrOrd() || !r.U16(&extra) || !r.Skip(extra)) return false;  // class, title, data
        ids->push_back(id);
    }
    return true;
}

}  // namespace services
