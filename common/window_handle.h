#pragma once

// The main window's handle as portable code sees it: an opaque pointer that
// only the Windows layer turns back into an HWND.
using WindowHandle = void*;
