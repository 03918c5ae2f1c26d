#pragma once
// Settings of the Linux code-page layer.

namespace sellmeter {

// The system's ANSI code page, what code page 0 stands for: 936 unless set (936 or 1252; any
// other value is ignored).
void SetAnsiCodePage(unsigned codePage);
unsigned AnsiCodePage();

}  // namespace sellmeter
