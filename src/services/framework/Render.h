// The page's texts. Every message is kept as a printf-style literal in code page 936 (the sources
// are UTF-8; the compiler writes narrow literals in code page 936), and reaches the page as
// UTF-16: the literal is converted from code page 936 explicitly, never through the desktop's
// code page, and each conversion (%s, %d, %lld, %04X ...) takes the next argument, already text,
// so paths and system texts keep every character they have.
#pragma once
#include <initializer_list>
#include <string>

namespace tarnwick {

std::wstring FromCodePage936(const char* text);

// The message with its conversions replaced by args in order ("%%" gives "%").
std::wstring Render(const char* message, std::initializer_list<std::wstring> args = {});

// Numbers as the conversions would write them.
std::wstring Decimal(long long value);
std::wstring Hex4(unsigned value);  // %04X

}  // namespace tarnwick
