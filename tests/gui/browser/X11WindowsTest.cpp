// The X11 window list against a private Xvfb server: stand-in windows titled like Edge's,
// owned dialogs, and windows that vanish between the list and the minimise.
#include <gtest/gtest.h>

#include "browser/core/SiteList.h"
#include "platform/linux/browser/X11Windows.h"

// clang-format off
// Last: Xlib's macros (None, Status, ...) would clash with the names above.
#include "tests/gui/browser/XvfbServer.h"
// clang-format on

namespace valdrune {
namespace {

using test::XvfbServer;

TEST(X11Windows, ListsTopLevelWindowsTopFirstWithTitlesAndOwners) {
    XvfbServer x;
    if (!x.display()) GTEST_SKIP() << "Xvfb could not be started; the X11 window list is untested";
    const Window edge = x.Make("New tab - Microsoft Edge");
    const Window dialog = x.Make("Microsoft Edge - Settings", edge);
    const Window other = x.Make("Edge - Microsoft");
    const Window untitled = x.Make("");
    const Window utf8 = x.Make("P\xC3\xA1gina \xE2\x80\x93 Microsoft Edge", None, true);
    Window hidden =
        XCreateSimpleWindow(x.display(), DefaultRootWindow(x.display()), 0, 0, 5, 5, 0, 0, 0);
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
    XvfbServer x;
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
