#include "app/services/image_holder.h"

#include <objbase.h>
#include <wincodec.h>

#include <cstring>

#include "app/services/image_check.h"

namespace {

template <typename T>
struct ComPtr {
    T* p = nullptr;
    ~ComPtr() {
        if (p) p->Release();
    }
    T** operator&() { return &p; }
    T* operator->() const { return p; }
};

// COM for the calling thread for the time of one decode, balanced on every path.
struct ComScope {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ~ComScope() {
        if (SUCCEEDED(hr)) CoUninitialize();
    }
};

}  // namespace

CLeadImage::CLeadImage() = default;

CLeadImage::~CLeadImage() {
    Free();
}

void CLeadImage::Free() {
    pixels_.clear();
    pixels_.shrink_to_fit();
    fileName_.Empty();
    width_ = height_ = bitsPerPixel_ = 0;
    transparent_ = 0xFFFFFFFF;
}

HRESULT CLeadImage::Load(const char* name) {
    Free();
    error_.clear();
    if (name == nullptr || name[0] == '\0') {
        error_ = "no file name";
        return kImageLoadFailed;
    }
    HANDLE file =
        CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error_ = "the file cannot be opened";
        return kImageLoadFailed;
    }
    LARGE_INTEGER size{};
    std::vector<uint8_t> bytes;
    bool read =
        GetFileSizeEx(file, &size) && size.QuadPart >= 0 && static_cast<uint64_t>(size.QuadPart) <= kMaxFileBytes;
    if (read) {
        bytes.resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        read = bytes.empty() ||
               (ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) && got == bytes.size());
    }
    CloseHandle(file);
    if (!read) {
        error_ = "the file cannot be read or is larger than 64 MB";
        return kImageLoadFailed;
    }
    const HRESULT hr = LoadFromMemory(bytes.data(), bytes.size());
    if (hr == S_OK) fileName_ = name;
    return hr;
}

HRESULT CLeadImage::LoadFromMemory(const uint8_t* data, size_t size) {
    Free();
    error_.clear();
    services::ImageHeader header;
    if (!services::CheckImageHeader(data, size, &header, &error_)) return kImageLoadFailed;

    const GUID* container = header.format == services::ImageFormat::kBmp   ? &GUID_ContainerFormatBmp
                            : header.format == services::ImageFormat::kPng ? &GUID_ContainerFormatPng
                                                                           : &GUID_ContainerFormatJpeg;
    ComScope com;
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    ComPtr<IWICBitmapSource> converted;
    UINT width = 0, height = 0;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                  reinterpret_cast<void**>(&factory));
    if (SUCCEEDED(hr)) hr = factory->CreateStream(&stream);
    if (SUCCEEDED(hr)) hr = stream->InitializeFromMemory(const_cast<BYTE*>(data), static_cast<DWORD>(size));
    // The decoder is the one of the sniffed format, whatever the file's extension says.
    if (SUCCEEDED(hr)) hr = factory->CreateDecoder(*container, nullptr, &decoder);
    if (SUCCEEDED(hr)) hr = decoder->Initialize(stream.p, WICDecodeMetadataCacheOnDemand);
    if (SUCCEEDED(hr)) hr = decoder->GetFrame(0, &frame);
    if (SUCCEEDED(hr)) hr = frame->GetSize(&width, &height);
    if (FAILED(hr)) {
        error_ = "the picture cannot be decoded";
        return kImageLoadFailed;
    }
    if (width != header.width || height != header.height) {
        error_ = "the decoder disagrees with the header about the picture's size";
        return kImageLoadFailed;
    }
    hr = WICConvertBitmapSource(GUID_WICPixelFormat32bppBGRA, frame.p, &converted);
    std::vector<uint8_t> pixels;
    if (SUCCEEDED(hr)) {
        const UINT stride = width * 4;
        pixels.resize(static_cast<size_t>(stride) * height);
        hr = converted->CopyPixels(nullptr, stride, static_cast<UINT>(pixels.size()), pixels.data());
    }
    if (FAILED(hr)) {
        error_ = "the picture's pixels cannot be decoded";
        return kImageLoadFailed;
    }
    pixels_ = std::move(pixels);
    width_ = static_cast<int>(width);
    height_ = static_cast<int>(height);
    bitsPerPixel_ = static_cast<int>(header.bitsPerPixel);
    uint32_t key = 0;
    if (services::FindTransparentColour(data, size, &key)) transparent_ = key;
    return S_OK;
}

HBITMAP CLeadImage::CreateDib() const {
    if (!IsLoaded()) return nullptr;
    const WORD bits = bitsPerPixel_ >= 32 ? 32 : 24;
    uint64_t imageBytes = 0;
    // The size comes from the dimensions and depth alone.
    if (!services::DibImageSize(width_, height_, bits, &imageBytes)) return nullptr;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width_;
    info.bmiHeader.biHeight = -height_;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = bits;
    info.bmiHeader.biCompression = BI_RGB;
    info.bmiHeader.biSizeImage = static_cast<DWORD>(imageBytes);
    HDC dc = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    void* bitsOut = nullptr;
    HBITMAP dib = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bitsOut, nullptr, 0);
    if (dc) DeleteDC(dc);
    if (dib == nullptr || bitsOut == nullptr) {
        if (dib) DeleteObject(dib);
        return nullptr;
    }
    const size_t stride = static_cast<size_t>(imageBytes / static_cast<uint64_t>(height_));
    auto* out = static_cast<uint8_t*>(bitsOut);
    for (int y = 0; y < height_; ++y) {
        const uint8_t* src = pixels_.data() + static_cast<size_t>(y) * width_ * 4;
        uint8_t* dst = out + static_cast<size_t>(y) * stride;
        if (bits == 32) {
            std::memcpy(dst, src, static_cast<size_t>(width_) * 4);
        } else {
            for (int x = 0; x < width_; ++x) {
                dst[3 * x + 0] = src[4 * x + 0];
                dst[3 * x + 1] = src[4 * x + 1];
                dst[3 * x + 2] = src[4 * x + 2];
            }
        }
    }
    GdiFlush();
    return dib;
}

HBITMAP CLeadImage::CreateDdb(HDC dc) const {
    if (!IsLoaded() || dc == nullptr) return nullptr;
    HBITMAP ddb = CreateCompatibleBitmap(dc, width_, height_);
    if (ddb == nullptr) return nullptr;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width_;
    info.bmiHeader.biHeight = -height_;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    if (SetDIBits(dc, ddb, 0, static_cast<UINT>(height_), pixels_.data(), &info, DIB_RGB_COLORS) != height_) {
        DeleteObject(ddb);
        return nullptr;
    }
    return ddb;
}
