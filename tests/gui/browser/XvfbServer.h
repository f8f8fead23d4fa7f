// A private Xvfb server for one test, stopped when the object goes. display() is null when Xvfb
// is missing or did not come up; tests then skip.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

namespace valdrune::test {

class XvfbServer {
  public:
    XvfbServer() {
        if (::access("/usr/bin/Xvfb", X_OK) != 0) return;
        // The server picks a free display number itself and reports it on the pipe, so tests
        // running side by side never share or fight over a display.
        int fds[2];
        if (::pipe(fds) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            ::execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp",
                    "-screen", "0", "640x480x24", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        std::string number;
        char c = 0;
        while (::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
        ::close(fds[0]);
        if (number.empty()) return;
        name_ = ":" + number;
        for (int i = 0; i < 200 && !display_; ++i) {
            display_ = XOpenDisplay(name_.c_str());
            if (!display_) std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
    }
    ~XvfbServer() {
        if (display_) XCloseDisplay(display_);
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    ::Display* display() const { return display_; }
    const std::string& name() const { return name_; }

    // A mapped top-level window with a title (as WM_NAME, or as UTF-8 _NET_WM_NAME).
    Window Make(const char* title, Window owner = 0, bool utf8 = false) {
        const Window w =
            XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 50, 50, 0, 0, 0);
        if (utf8) {
            XChangeProperty(display_, w, XInternAtom(display_, "_NET_WM_NAME", False),
                            XInternAtom(display_, "UTF8_STRING", False), 8, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(title),
                            static_cast<int>(std::string(title).size()));
        } else if (*title) {
            XStoreName(display_, w, title);
        }
        if (owner != 0) XSetTransientForHint(display_, w, owner);
        XMapWindow(display_, w);
        XSync(display_, False);
        return w;
    }

  private:
    pid_t pid_ = -1;
    std::string name_;
    ::Display* display_ = nullptr;
};

}  // namespace valdrune::test
