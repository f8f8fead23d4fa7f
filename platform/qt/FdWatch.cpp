#include "platform/qt/FdWatch.h"

#include <QSocketNotifier>

namespace valdrune {

FdWatch::FdWatch(std::intptr_t fd, std::function<void()> onReadable)
    : fd_(fd),
      onReadable_(std::move(onReadable)),
      notifier_(new QSocketNotifier(fd, QSocketNotifier::Read)) {
    QObject::connect(notifier_, &QSocketNotifier::activated, notifier_, [this]() {
        bool destroyed = false;
        destroyedFlag_ = &destroyed;
        // Off while the handler runs: a nested event loop inside it must neither re-enter the
        // handler nor spin on a descriptor that is still readable.
        notifier_->setEnabled(false);
        // Copy: the handler may destroy this watch and with it onReadable_.
        const auto handler = onReadable_;
        if (handler) handler();
        if (destroyed) return;
        destroyedFlag_ = nullptr;
        notifier_->setEnabled(true);
    });
}

FdWatch::~FdWatch() {
    notifier_->setEnabled(false);
    QObject::disconnect(notifier_, nullptr, nullptr, nullptr);
    if (destroyedFlag_ != nullptr) {
        // Inside the notifier's own signal: let the event loop delete it.
        *destroyedFlag_ = true;
        notifier_->deleteLater();
    } else {
        delete notifier_;
    }
}

}  // namespace valdrune
