// The skin file through the MSXML DOM: parsing, the parse-error report, and the conversion of
// the DOM into the element tree the layout reader walks (bounded in depth and node count).
#pragma once

#include "app/skin/skin_layout.h"

// Parses `path` into `document`: 1 on success; 0 when the DOM cannot be made or the file
// cannot be loaded or parsed (the parse error is reported when its position is known).
int LoadSkinXml(const char* path, SkinXmlNode* document);
// Parses and reads `path` into the layout: 1 on success, 0 on failure.
int ParseSkinFile(const char* path);
