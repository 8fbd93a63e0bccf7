// The page's texts. Every message is a printf-style UTF-16 literal (the control's catalogue) and
// reaches the page as it is, never through the desktop's code page; each conversion (%s, %d,
// %lld, %04X ...) takes the next argument, already text, so paths and system texts keep every
// character they have.
#pragma once
#include <initializer_list>
#include <string>

namespace tarnwick {

// The message with its conversions replaced by args in order ("%%" gives "%").
std::wstring Render(const wchar_t* message, std::initializer_list<std::wstring> args = {});

// Numbers as the conversions would write them.
std::wstring Decimal(long long value);
std::wstring Hex4(unsigned value);  // %04X

}  // namespace tarnwick
