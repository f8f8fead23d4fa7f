// The X11 window list against a private Xvfb server: stand-in windows titled like Edge's,
// owned dialogs, and windows that vanish between the list and the minimise.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "browser/core/SiteList.h"
#include "platform/linux/browser/X11Windows.h"

// Last: Xlib's macros (None, Status, ...) would clash with the names above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace valdrune {
namespace {

class Xvfb {
public:
    Xvfb() {
        if (::access("/usr/bin/Xvfb", X_OK) != 0) return;
        const int number = 90 + static_cast<int>(::getpid() % 400);
        name_ = ":" + std::to_string(number);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::execl("/usr/bin/Xvfb", "Xvfb", name_.c_str(), "-nolisten", "tcp", "-screen", "0",
                    "640x480x24", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        for (int i = 0; i < 200 && !display_; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
            display_ = XOpenDisplay(name_.c_str());
        }
    }
    ~Xvfb() {
        if (display_) XCloseDisplay(display_);
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    ::Display* display() const { return display_; }
    const std::string& name() const { return name_; }

    Window Make(const char* title, Window owner = None, bool utf8 = false) {
        const Window w = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 50, 50,
                                             0, 0, 0);
        if (utf8) {
            XChangeProperty(display_, w, XInternAtom(display_, "_NET_WM_NAME", False),
                            XInternAtom(display_, "UTF8_STRING", False), 8, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(title),
                            static_cast<int>(std::string(title).size()));
        } else if (*title) {
            XStoreName(display_, w, title);
        }
        if (owner != None) XSetTransientForHint(display_, w, owner);
        XMapWindow(display_, w);
        XSync(display_, False);
        return w;
    }

private:
    pid_t pid_ = -1;
    std::string name_;
    ::Display* display_ = nullptr;
};

TEST(X11Windows, ListsTopLevelWindowsTopFirstWithTitlesAndOwners) {
    Xvfb x;
    if (!x.display()) GTEST_SKIP() << "Xvfb could not be started; the X11 window list is untested";
    const Window edge = x.Make("New tab - Microsoft Edge");
    const Window dialog = x.Make("Microsoft Edge - Settings", edge);
    const Window other = x.Make("Edge - Microsoft");
    const Window untitled = x.Make("");
    const Window utf8 = x.Make("P\xC3\xA1gina \xE2\x80\x93 Microsoft Edge", None, true);
    Window hidden = XCreateSimpleWindow(x.display(), DefaultRootWindow(x.display()), 0, 0, 5, 5,
                                        0, 0, 0);
    XStoreName(x.display(), hidden, "Hidden Microsoft Edge");  // never mapped: not listed
    XSync(x.display(), False);

    X11Windows windows(x.name());
    const std::vector<TopLevelWindow> list = windows.List();
    ASSERT_EQ(list.size(), 5u);
    EXPECT_EQ(list[0].handle, utf8);  // mapped last: top of the stack
    EXPECT_EQ(list[0].title, "P\xC3\xA1gina \xE2\x80\x93 Microsoft Edge");
    EXPECT_EQ(list[1].handle, untitled);
    EXPECT_TRUE(list[1].title.empty());
    EXPECT_EQ(list[2].handle, other);
    EXPECT_EQ(list[3].handle, dialog);
    EXPECT_TRUE(list[3].hasOwner);
    EXPECT_EQ(list[4].handle, edge);
    EXPECT_FALSE(list[4].hasOwner);

    int edgeWindows = 0;
    for (const auto& w : list) edgeWindows += (!w.hasOwner && IsEdgeWindowTitle(w.title)) ? 1 : 0;
    EXPECT_EQ(edgeWindows, 2);
}

TEST(X11Windows, AWindowGoneBeforeItsMinimiseDoesNotEndTheProcess) {
    Xvfb x;
    if (!x.display()) GTEST_SKIP() << "Xvfb could not be started; the X11 window list is untested";
    const Window edge = x.Make("Microsoft Edge");
    X11Windows windows(x.name());
    ASSERT_EQ(windows.List().size(), 1u);
    XDestroyWindow(x.display(), edge);
    XSync(x.display(), False);
    windows.ShowMinimized(edge);
    windows.ShowMinimized(0x7fffff);
    EXPECT_TRUE(windows.List().empty());
}

}  // namespace
}  // namespace valdrune
