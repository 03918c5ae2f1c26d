#pragma once
// Settings of the Linux code-page layer.

namespace sellmeter {

// The system's ANSI code page, what code page 0 stands for: 936 unless set (936 or 1252; any
// other value is ignored).
void SetAnsiCodePage(unsigned codePage);
unsigned AnsiCodePage();

// Makes code page 0 stand for codePage while it lives, then restores the one before.
class ScopedAnsiCodePage {
 public:
  explicit ScopedAnsiCodePage(unsigned codePage) : previous_(AnsiCodePage()) {
    SetAnsiCodePage(codePage);
  }
  ~ScopedAnsiCodePage() { SetAnsiCodePage(previous_); }
  ScopedAnsiCodePage(const ScopedAnsiCodePage&) = delete;
  ScopedAnsiCodePage& operator=(const ScopedAnsiCodePage&) = delete;

 private:
  unsigned previous_;
};

}  // namespace sellmeter
