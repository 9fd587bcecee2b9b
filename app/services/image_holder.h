// The image holder: decodes one BMP, PNG or JPEG picture (skin art) through the Windows
// Imaging Component and hands it out as a DIB section or a device-dependent bitmap. The
// format is sniffed from the content and the header checked (image_check.h) before the
// decoder sees the file; a damaged or hostile file fails with kImageLoadFailed and leaves the
// holder empty. Built on the stack for one load; user-interface thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "framework/string.h"

class CLeadImage {
public:
    // The only failure code of Load.
    static constexpr HRESULT kImageLoadFailed = static_cast<HRESULT>(0x80A00003);
    // Files larger than this are refused before they are read.
    static constexpr uint64_t kMaxFileBytes = 64ull << 20;

    CLeadImage();
    virtual ~CLeadImage();
    CLeadImage(const CLeadImage&) = delete;
    CLeadImage& operator=(const CLeadImage&) = delete;

    // Frees any loaded image, then decodes `name`: 0 on success, kImageLoadFailed otherwise
    // (the reason in GetError).
    HRESULT Load(const char* name);
    // Frees the image; name empty, size 0, no transparent colour.
    void Free();
    // A bitmap compatible with `dc` holding the picture; null when nothing is loaded.
    HBITMAP CreateDdb(HDC dc) const;
    // A top-down DIB section holding the picture: 32 bits per pixel (with alpha) for files of
    // 32 bits, else 24; null when nothing is loaded.
    HBITMAP CreateDib() const;

    bool IsLoaded() const { return !pixels_.empty(); }
    int GetWidth() const { return width_; }
    int GetHeight() const { return height_; }
    // Bits per pixel of the file.
    int GetBitsPerPixel() const { return bitsPerPixel_; }
    // COLORREF of the file's transparent colour, or 0xFFFFFFFF when it has none.
    COLORREF GetTransparentColor() const { return transparent_; }
    const CString& GetFileName() const { return fileName_; }
    const std::string& GetError() const { return error_; }
    // The decoded picture: top-down rows of blue, green, red, alpha bytes (width x 4 each).
    const std::vector<uint8_t>& GetPixels() const { return pixels_; }

    // Decodes a picture held in memory, as Load does with a file's bytes.
    HRESULT LoadFromMemory(const uint8_t* data, size_t size);

private:
    CString fileName_;
    int width_ = 0;
    int height_ = 0;
    int bitsPerPixel_ = 0;
    COLORREF transparent_ = 0xFFFFFFFF;
    std::vector<uint8_t> pixels_;
    std::string error_;
};
