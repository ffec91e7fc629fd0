// Narrow text in the ANSI code page and the wide text of the Win32 "W"
// calls, one way and the other (Windows builds only).
#pragma once

#include <cstddef>
#include <string>

std::wstring WidenAnsi(const std::string& text);
std::string NarrowAnsi(const wchar_t* text, std::size_t length);
