// Which ANSI code page the simulated machine gives the process.
#pragma once

#include <cstdint>

#include "platform/ansi.h"

namespace platform::sim {

// 1252 (the default) or kCodePageUtf8; any other value is taken as 1252. The setting is the
// process's, as GetACP is: a test that changes it puts it back (ScopedAnsiCodePage).
void SetAnsiCodePage(uint32_t codePage);

class ScopedAnsiCodePage {
  public:
    explicit ScopedAnsiCodePage(uint32_t codePage) : saved_(AnsiCodePage()) { SetAnsiCodePage(codePage); }
    ~ScopedAnsiCodePage() { SetAnsiCodePage(saved_); }
    ScopedAnsiCodePage(const ScopedAnsiCodePage&) = delete;
    ScopedAnsiCodePage& operator=(const ScopedAnsiCodePage&) = delete;

  private:
    uint32_t saved_;
};

}  // namespace platform::sim
