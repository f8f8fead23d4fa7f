// A progress line on a terminal's standard error: redrawn in place while a search or a change
// runs, wiped before anything else is written to the same stream, gone when the work ends.
#pragma once

#include <functional>
#include <ostream>
#include <streambuf>
#include <string>

#include "protocol/Seams.h"

namespace valdrune::cli {

// Forwards to `target`; a shown status line is wiped first, so messages never run into it.
class StatusLine final : public std::streambuf {
  public:
    explicit StatusLine(std::streambuf* target) : target_(target) {}
    void Show(const std::string& text);
    void Wipe();

  protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;
    int sync() override { return target_->pubsync(); }

  private:
    std::streambuf* target_;
    bool shown_ = false;
};

// Shows text() every 250 ms until destroyed. A null line makes it do nothing.
class Progress {
  public:
    Progress(IScheduler& clock, StatusLine* line, std::function<std::string()> text);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

  private:
    IScheduler& clock_;
    StatusLine* line_;
    TimerId timer_ = 0;
};

// "12.3 s"
std::string Seconds(Milliseconds elapsed);

}  // namespace valdrune::cli
