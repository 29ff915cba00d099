// The one place that includes <windows.h>, with the settings the whole
// launcher relies on: narrow "A" functions in the user's ANSI code page, no
// min/max macros, Windows 7 API level.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifdef _WIN32_WINNT
#undef _WIN32_WINNT
#endif
#define _WIN32_WINNT 0x0601
#ifdef UNICODE
#error "qlx uses the narrow Win32 functions; do not define UNICODE"
#endif

#include <windows.h>
