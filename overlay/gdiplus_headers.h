// GDI+ for every unit that draws or decodes. The SDK's GDI+ headers call min
// and max unqualified, which NOMINMAX takes away; they find std's here.
// objidl.h comes first: WIN32_LEAN_AND_MEAN leaves out PROPID and IStream.
#pragma once

#include <windows.h>

#include <algorithm>
#include <objidl.h>

namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus

#include <gdiplus.h>
