#include "cli/Progress.h"

#include <cstdio>

namespace valdrune::cli {

namespace {
constexpr char kWipe[] = "\r\x1b[K";
}

void StatusLine::Show(const std::string& text) {
    const std::string line = "\r" + text + "\x1b[K";
    target_->sputn(line.data(), static_cast<std::streamsize>(line.size()));
    target_->pubsync();
    shown_ = true;
}

void StatusLine::Wipe() {
    if (!shown_) return;
    target_->sputn(kWipe, sizeof kWipe - 1);
    target_->pubsync();
    shown_ = false;
}

StatusLine::int_type StatusLine::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    Wipe();
    return target_->sputc(traits_type::to_char_type(c));
}

std::streamsize StatusLine::xsputn(const char* s, std::streamsize n) {
    Wipe();
    return target_->sputn(s, n);
}

Progress::Progress(IScheduler& clock, StatusLine* line, std::function<std::string()> text)
    : clock_(clock), line_(line) {
    if (!line_) return;
    line_->Show(text());
    timer_ = clock_.StartTimer(Milliseconds{250}, true,
                               [line, text = std::move(text)] { line->Show(text()); });
}

Progress::~Progress() {
    if (!line_) return;
    clock_.CancelTimer(timer_);
    line_->Wipe();
}

std::string Seconds(Milliseconds elapsed) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f s", static_cast<double>(elapsed.count()) / 1000.0);
    return buf;
}

}  // namespace valdrune::cli
