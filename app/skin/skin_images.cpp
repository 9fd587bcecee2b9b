#include "app/skin/skin_images.h"

#include <shlwapi.h>

#include <algorithm>

#include "app/services/paths.h"
#include "app/services/system_utils.h"
#include "framework/app.h"

namespace {

int g_mode = 0;
std::string g_folder;
HMODULE g_library = nullptr;

bool DeleteBitmapHandle(SkinBitmap bitmap) {
    return DeleteObject(static_cast<HBITMAP>(bitmap)) != 0;
}

// Installs the bitmap deleter before any bitmap is loaded into the tree.
struct DeleterInstaller {
    DeleterInstaller() { SetSkinBitmapDeleter(&DeleteBitmapHandle); }
} g_installer;

bool IsDirectory(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string TrimSlash(std::string path) {
    while (path.size() > 3 && (path.back() == '\\' || path.back() == '/'))
        path.pop_back();
    return path;
}

std::string ImagePath(const char* source) {
    return g_folder + "\\" + (source ? source : "");
}

void ReportMissing(const std::string& path) {
    const SkinErrorLevel level =
        CurrentSkinReaderState().controlTag == "BACKGROUNDIMAGE" ? SkinErrorLevel::Control : SkinErrorLevel::Node;
    ReportSkinError(level, path.c_str());
}

}  // namespace

int SetSkinImageFolder(const char* path) {
    if (!path) return 0;
    std::string p = TrimSlash(path);
    if (!PathIsRelativeA(p.c_str())) {
        if (!IsDirectory(p) || p.size() > MAX_PATH - 1) return 0;
        g_folder = p;
        return 1;
    }
    char program[MAX_PATH] = {};
    GetModuleFolder(nullptr, program, sizeof program);
    std::string candidate = TrimSlash(std::string(program) + p);
    if (IsDirectory(candidate) && candidate.size() < MAX_PATH) {
        g_folder = candidate;
        return 1;
    }
    char current[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof current, current);
    g_folder = TrimSlash(std::string(current) + "\\" + p).substr(0, MAX_PATH - 1);
    return IsDirectory(g_folder) ? 1 : 0;
}

std::string GetSkinImageFolder() {
    return g_folder;
}

int SetSkinImageSource(const char* name, int mode) {
    if (mode == kSkinImageFolder) {
        g_mode = mode;
        SetSkinImageFolder(name);
        return 1;
    }
    if (mode == kSkinImageLibrary) {
        HMODULE library = name ? LoadLibraryExA(name, nullptr, LOAD_LIBRARY_AS_DATAFILE) : nullptr;
        if (!library) return 0;
        if (g_library) FreeLibrary(g_library);
        g_library = library;
        g_mode = mode;
        return 1;
    }
    return 0;
}

HBITMAP LoadSkinNodeBackground(const char* source, int left, int top, int width, int height) {
    if (g_mode == kSkinImageFolder) {
        const std::string path = ImagePath(source);
        if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
            ReportMissing(path);
            return nullptr;
        }
        return LoadBitmapFileRect(path.c_str(), left, top, width, height);
    }
    if (g_mode == kSkinImageLibrary) return LoadBitmapResourceRect(g_library, source, left, top, width, height);
    return nullptr;
}

int StretchBitmap(HDC dc, const SkinImage* node) {
    if (!dc || !node || node->source.empty()) return 0;
    HBITMAP bitmap = LoadSkinNodeBackground(node->source.c_str(), node->left, node->top, node->width, node->height);
    if (!bitmap) return 0;
    BITMAP info{};
    GetObjectA(bitmap, sizeof info, &info);
    HDC memory = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(memory, bitmap);
    StretchBlt(dc, 0, 0, node->left + node->width, node->top + node->height, memory, 0, 0, info.bmWidth, info.bmHeight,
               SRCCOPY);
    SelectObject(memory, old);
    DeleteDC(memory);
    DeleteObject(bitmap);
    return 1;
}

HBITMAP LoadSkinBitmap(const char* fileName) {
    if (g_mode == kSkinImageFolder) return LoadImageFileBitmap(ImagePath(fileName).c_str());
    if (g_mode == kSkinImageLibrary) return LoadBitmapResource(g_library, fileName);
    return nullptr;
}

int CheckSkinImageFile(const char* source) {
    const std::string path = ImagePath(source);
    if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) return 1;
    ReportMissing(path);
    return 0;
}

int EnsureSkinImageLoaded(SkinImage* image) {
    if (image && !image->bitmap && !image->source.empty())
        image->bitmap =
            LoadSkinNodeBackground(image->source.c_str(), image->left, image->top, image->width, image->height);
    return 1;
}

int ReleaseSkinImage(SkinImage* image) {
    if (!image || !image->bitmap) return 0;
    if (!DeleteObject(static_cast<HBITMAP>(image->bitmap))) return 0;
    image->bitmap = nullptr;
    image->users = 0;
    return 1;
}

int EnsureSubViewBackground(SkinSubView* sub) {
    return sub ? EnsureSkinImageLoaded(&sub->background) : 0;
}

HBITMAP AcquireSkinImage(SkinImage* image) {
    if (!image) return nullptr;
    EnsureSkinImageLoaded(image);
    if (image->bitmap) ++image->users;
    return static_cast<HBITMAP>(image->bitmap);
}

void ReleaseSkinImageUse(SkinImage* image) {
    if (!image || !image->bitmap) return;
    if (image->users > 1) {
        --image->users;
        return;
    }
    ReleaseSkinImage(image);
}

HBITMAP BuildButtonStateStrip(const SkinButtonNode* node) {
    if (!node) return nullptr;
    const SkinImage& normal = node->normal;
    if (!node->toggle) {
        const int64_t width = 4ll * normal.width;
        if (width <= 0 || width > INT32_MAX) return nullptr;
        return LoadSkinNodeBackground(normal.source.c_str(), normal.left, normal.top, static_cast<int>(width),
                                      normal.height);
    }
    HBITMAP file = LoadSkinBitmap(normal.source.c_str());
    if (!file) return nullptr;
    BITMAP info{};
    GetObjectA(file, sizeof info, &info);
    const int64_t stripWidth = 8ll * node->width;
    if (info.bmWidth == stripWidth) return file;
    if (stripWidth <= 0 || stripWidth > 32767 || node->height <= 0 || node->height > 32767) {
        DeleteObject(file);
        return nullptr;
    }
    HDC screen = GetDC(nullptr);
    HBITMAP strip = CreateCompatibleBitmap(screen, static_cast<int>(stripWidth), node->height);
    HDC from = CreateCompatibleDC(screen);
    HDC to = CreateCompatibleDC(screen);
    HGDIOBJ oldFrom = SelectObject(from, file);
    HGDIOBJ oldTo = SelectObject(to, strip);
    const int w = node->width, h = node->height;
    BitBlt(to, 0, 0, 4 * w, h, from, 0, 0, SRCCOPY);
    const SkinImage* cells[4] = {&node->check, &node->hoverDown, &node->downCheck, &node->disabledCheck};
    for (int i = 0; i < 4; ++i)
        BitBlt(to, (4 + i) * w, 0, w, h, from, cells[i]->left, cells[i]->top, SRCCOPY);
    SelectObject(from, oldFrom);
    SelectObject(to, oldTo);
    DeleteDC(from);
    DeleteDC(to);
    ReleaseDC(nullptr, screen);
    DeleteObject(file);
    return strip;
}

int PaintSkinViewBackground(HDC dc, const char* viewName) {
    SkinView* view = CSkinLayout::FindView(viewName);
    if (!view) return 0;
    HDC memory = CreateCompatibleDC(dc);
    HGDIOBJ old = nullptr;
    for (SkinSubView* sub = view->subviews; sub; sub = sub->next) {
        EnsureSubViewBackground(sub);
        HBITMAP bitmap = static_cast<HBITMAP>(sub->background.bitmap);
        // A subview whose background gives no bitmap paints nothing.
        if (!bitmap) continue;
        HGDIOBJ previous = SelectObject(memory, bitmap);
        if (!old) old = previous;
        const SkinImage& image = sub->background;
        if (sub->width == image.width && sub->height == image.height) {
            BitBlt(dc, sub->left, sub->top, image.width, image.height, memory, 0, 0, SRCCOPY);
            continue;
        }
        // Tiles from the image's top-left corner; a declared size of 0 or less cannot tile,
        // so such a subview is left unpainted rather than looping.
        if (image.width <= 0 || image.height <= 0) continue;
        // Only the tiles that meet the target's clip box are copied, so a hostile subview
        // size cannot make the loop run long.
        RECT clip{};
        if (GetClipBox(dc, &clip) == ERROR) continue;
        const int64_t x0 = std::max<int64_t>(0, (clip.left - int64_t{sub->left}) / image.width * image.width);
        const int64_t y0 = std::max<int64_t>(0, (clip.top - int64_t{sub->top}) / image.height * image.height);
        for (int64_t x = x0; x < sub->width && sub->left + x < clip.right; x += image.width) {
            const int w = static_cast<int>(std::min<int64_t>(image.width, sub->width - x));
            for (int64_t y = y0; y < sub->height && sub->top + y < clip.bottom; y += image.height) {
                const int h = static_cast<int>(std::min<int64_t>(image.height, sub->height - y));
                BitBlt(dc, static_cast<int>(sub->left + x), static_cast<int>(sub->top + y), w, h, memory, 0, 0,
                       SRCCOPY);
            }
        }
    }
    if (old) SelectObject(memory, old);
    DeleteDC(memory);
    return 1;
}

void SetScreenSaverActive(BOOL active) {
    SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, active, nullptr, SPIF_SENDWININICHANGE);
}

void ReportSkinError(SkinErrorLevel level, const char* item) {
    AfxMessageBox(FormatSkinError(level, item ? item : "").c_str(), MB_OK);
}
