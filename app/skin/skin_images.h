// Where skin images come from and how they are loaded (lazily, by rectangle, or whole), the
// state strip of a skinned button, painting a view's subview backgrounds, the skin error
// message, and the screen-saver switch of the pages. User-interface thread only.
#pragma once

#include <windows.h>

#include <string>

#include "app/skin/skin_layout.h"

// Image source modes.
constexpr int kSkinImageFolder = 1;
constexpr int kSkinImageLibrary = 2;

// Mode 1: `name` becomes the image folder (SetSkinImageFolder, result not looked at); 1.
// Mode 2: the module `name` is loaded and its bitmap resources are the images; 0 when it
// cannot be loaded. Other modes: 0, nothing changes.
int SetSkinImageSource(const char* name, int mode);
// 1 when the resulting folder is a directory. An absolute path is taken only when it is a
// directory; a relative one is joined to the program's folder, else to the current
// directory (which then stays in force whether or not it exists).
int SetSkinImageFolder(const char* path);
// The image folder in force (no trailing backslash).
std::string GetSkinImageFolder();

// The rectangle of image `source`: a new bitmap, or null (a missing file is reported).
HBITMAP LoadSkinNodeBackground(const char* source, int left, int top, int width, int height);
// Copies the rectangle of `node`'s image onto `dc` from (0, 0), stretched to the node's
// left + width by top + height; the bitmap is loaded for the call and freed after it. 1 when
// drawn, 0 when the image cannot be loaded.
int StretchBitmap(HDC dc, const SkinImage* node);
// The whole image `fileName`, or null; nothing is reported.
HBITMAP LoadSkinBitmap(const char* fileName);
// 1 when the image folder holds `source` (a folder counts); otherwise reports the image error
// naming the path and returns 0.
int CheckSkinImageFile(const char* source);
// Loads the image's bitmap when it has none and names a source; 1.
int EnsureSkinImageLoaded(SkinImage* image);
// 1 when a bitmap was deleted and cleared; 0 when there was none or deletion failed.
int ReleaseSkinImage(SkinImage* image);
int EnsureSubViewBackground(SkinSubView* sub);
// A control's use of a node image: loads it on first use and counts the users, so that a
// bitmap shared by several controls is freed once, after the last of them lets it go.
HBITMAP AcquireSkinImage(SkinImage* image);
void ReleaseSkinImageUse(SkinImage* image);

// The button's state strip: 4 cells (push button) or 8 (toggle) of the node's size side by
// side. The caller owns it; null when the art cannot be loaded.
HBITMAP BuildButtonStateStrip(const SkinButtonNode* node);

// Paints every subview background of view `viewName` on `dc`: 0 when there is no such view.
int PaintSkinViewBackground(HDC dc, const char* viewName);
void SetScreenSaverActive(BOOL active);
// Shows the skin error of `level` for `item` in a message box.
void ReportSkinError(SkinErrorLevel level, const char* item);
