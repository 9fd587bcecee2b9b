// The application framework layer: include this one header.
#pragma once

#include "framework/app.h"
#include "framework/controls.h"
#include "framework/dialog.h"
#include "framework/file.h"
#include "framework/frame.h"
#include "framework/gdi.h"
#include "framework/html_view.h"
#include "framework/object.h"
#include "framework/resources.h"
#include "framework/string.h"
#include "framework/wnd.h"
