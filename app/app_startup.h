// The start-up and shut-down steps of the application around its object: the splash's life,
// the skin's choice and load, the settings written for outside components, the GUI font,
// and the fixed-text message box.
#pragma once

#include <windows.h>

#include "framework/gdi.h"

class CSplashWnd;

// Skin file and image folder by screen width: "skin\skin1024x768.xml" and "skin\1024x768"
// from 1024 pixels, "skin\skin800x600.xml" and "skin\800x600" from 800, else "".
const char* GetSkinFileName(int screenWidth);
const char* GetSkinImageFolder(int screenWidth);
// The image folder for the current screen width becomes the skin's image source.
void SelectSkinImages();
// Loads the skin file for the current screen width: 1, or 0 after the message "Skin".
int LoadSkin();
void FreeSkin();

// The splash from dialog template 113, topmost and shown; null after "Create splash fail".
CSplashWnd* ShowSplash();
void SetSplashText(CSplashWnd* splash, const char* text);
// 0 without a splash; else destroys and deletes it, clears the pointer and returns 1.
int CloseSplash(CSplashWnd** splash);

// The settings of the maker's outside components under HKEY_CURRENT_USER, and the splitter
// cache folder; failures are ignored.
void WriteComponentSettings();
void RemoveComponentSettings();

// 1 when the system's default language is the installation's ("DovikSLang", 9 when missing).
int IsInstallLanguage();
// The GUI font: face and point size from the resource library (or the system's GUI font
// face when the languages differ), made for the display's vertical resolution so that its
// pixel height is the same at any resolution.
BOOL MakeGuiFont(CFont& font);
// The point size in tenths for CreatePointFont: size × 960 / dots per inch.
int GuiFontTenths(int size, int dotsPerInch);

// printf-style into a 544-byte text (cut to fit), shown in a message box with an OK button.
void ShowMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));
