// The platform headers every part of Vorandel builds on, included in one order.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <algorithm>
// With NOMINMAX the GDI+ headers still expect min and max in their namespace.
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

// Vorandel speaks to GDI+ through its flat interface only.
using namespace Gdiplus;
using namespace Gdiplus::DllExports;
