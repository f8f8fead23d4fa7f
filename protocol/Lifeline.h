// What an object hands to the callbacks it leaves behind (posted calls, timers, other objects'
// completions), so that they do nothing once the object has ended or dropped them.
#pragma once

#include <functional>
#include <memory>
#include <utility>

#include "protocol/Seams.h"

namespace valdrune {

class Lifeline {
public:
    using Token = std::weak_ptr<bool>;

    Lifeline() = default;
    ~Lifeline() { *alive_ = false; }
    Lifeline(const Lifeline&) = delete;
    Lifeline& operator=(const Lifeline&) = delete;

    // For a callback to keep and test with Alive before it does anything.
    Token Hold() const { return alive_; }
    static bool Alive(const Token& token) {
        const auto flag = token.lock();
        return flag && *flag;
    }
    // Every token handed out so far reads dead from now on; new ones live.
    void Cut() {
        *alive_ = false;
        alive_ = std::make_shared<bool>(true);
    }
    // done(code) after the current event, never from inside the caller, and only when the
    // line still holds then.
    void PostResult(IScheduler& scheduler, std::function<void(int)> done, int code) const {
        scheduler.Post([token = Hold(), done = std::move(done), code] {
            if (Alive(token) && done) done(code);
        });
    }

private:
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace valdrune
