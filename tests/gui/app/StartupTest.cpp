#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QComboBox>
#include <QSettings>
#include <QTemporaryDir>

#include "WindowRig.h"
#include "app/PrivilegeNotice.h"
#include "app/SearchHint.h"
#include "app/TallyrigApp.h"
#include "platform/InstanceLock.h"
#include "tests/support/CaseNames.h"

namespace valdrune::test {
namespace {

TEST(SingleInstance, SecondLockFailsUntilTheFirstIsGone) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("Nodewren.InstanceString.lock").toStdString();
    CInstanceLock first(path);
    ASSERT_TRUE(first.TryAcquire());
    CInstanceLock second(path);
    EXPECT_FALSE(second.TryAcquire());
    first.Release();
    EXPECT_TRUE(second.TryAcquire());
}

TEST(SingleInstance, LockOfAKilledProcessIsFree) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("lock").toStdString();
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        CInstanceLock lock(path);
        const char ok = lock.TryAcquire() ? '1' : '0';
        (void)!write(ready[1], &ok, 1);
        pause();
        _exit(0);
    }
    char ok = 0;
    ASSERT_EQ(read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, '1');
    CInstanceLock mine(path);
    EXPECT_FALSE(mine.TryAcquire());
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_TRUE(mine.TryAcquire());
    close(ready[0]);
    close(ready[1]);
}

TEST(SingleInstance, DefaultPathLivesInTheRuntimeDirectory) {
    QTemporaryDir runtime, cache, home;  // 0700, this user's
    const auto dir = [](const QTemporaryDir& d) { return d.path().toStdString(); };
    EXPECT_EQ(CInstanceLock::DefaultPath({dir(runtime), dir(cache), dir(home)}),
              dir(runtime) + "/Nodewren.InstanceString.lock");
    const std::string inCache = CInstanceLock::DefaultPath({"", dir(cache), dir(home)});
    EXPECT_EQ(inCache.rfind(dir(cache) + "/Nodewren.InstanceString-", 0), 0u) << inCache;
    // Without a runtime directory the lock stays in a directory of the user's own, not in /tmp.
    EXPECT_EQ(CInstanceLock::DefaultPath({"", "", dir(home)}).rfind(dir(home) + "/.cache/", 0),
              0u);
    // Directories other users can write to are never taken, not even as a last resort: then
    // there is no lock file at all, and the window starts unguarded.
    QTemporaryDir shared;
    ::chmod(shared.path().toUtf8().constData(), 01777);
    EXPECT_EQ(CInstanceLock::DefaultPath({dir(shared), dir(shared), dir(shared)}), "");
    EXPECT_EQ(CInstanceLock::DefaultPath({"", dir(shared), ""}), "");
    CInstanceLock unguarded("");
    EXPECT_TRUE(unguarded.TryAcquire());
}

struct FakeServices : IEngineServices {
    WindowRig& rig;
    explicit FakeServices(WindowRig& r) : rig(r) {}
    ProtocolEnvironment Environment() override {
        return ProtocolEnvironment{rig.clock, rig.transport, rig.host, rig.prober, rig.neighbours};
    }
};

AppOptions Options(WindowRig& rig, const std::string& lockPath, bool servicesStart = true) {
    AppOptions options;
    options.lockPath = lockPath;
    options.store = rig.store.get();
    options.browsers = [&rig] { return rig.noBrowsers.Platform(); };
    // The tests read English whatever the host's locale says.
    options.languages = [] { return std::vector<std::string>{"en-US"}; };
    options.startServices = [&rig, servicesStart]() -> std::unique_ptr<IEngineServices> {
        if (!servicesStart) return nullptr;
        return std::make_unique<FakeServices>(rig);
    };
    return options;
}

TEST(Startup, RunsTheWindowWhileHoldingTheLock) {
    WindowRig rig;
    const std::string lockPath = rig.dir.filePath("lock").toStdString();
    AppOptions options = Options(rig, lockPath);
    bool ran = false;
    options.onDialogReady = [&](CTallyrigDlg& dlg) {
        ran = true;
        EXPECT_FALSE(CInstanceLock(lockPath).TryAcquire()) << "held while the window runs";
        EXPECT_EQ(rig.transport.Sent().size(), 1u);
        QTimer::singleShot(0, &dlg, [&dlg] { dlg.done(2); });
    };
    CTallyrigApp app(std::move(options));
    EXPECT_EQ(app.InitInstance(), 0);
    EXPECT_TRUE(ran);
    EXPECT_TRUE(rig.boxes.empty());
    app.ExitInstance();
    EXPECT_TRUE(CInstanceLock(lockPath).TryAcquire());
}

TEST(Startup, SecondCopyShows225Once) {
    WindowRig rig;
    const std::string lockPath = rig.dir.filePath("lock").toStdString();
    CInstanceLock first(lockPath);
    ASSERT_TRUE(first.TryAcquire());
    CTallyrigApp app(Options(rig, lockPath));
    EXPECT_EQ(app.InitInstance(), 1);
    ASSERT_EQ(rig.boxes.size(), 1u);
    EXPECT_EQ(rig.boxes[0].textId, 225);
    EXPECT_EQ(rig.boxes[0].boxType, MB_OK_ | MB_ICONERROR_);
    EXPECT_EQ(rig.boxes[0].owner, nullptr);
    EXPECT_TRUE(rig.transport.Sent().empty());
}

TEST(Startup, NetworkStartFailureComesBeforeTheInstanceCheck) {
    WindowRig rig;
    const std::string lockPath = rig.dir.filePath("lock").toStdString();
    CInstanceLock first(lockPath);
    ASSERT_TRUE(first.TryAcquire());
    CTallyrigApp app(Options(rig, lockPath, false));
    EXPECT_EQ(app.InitInstance(), 1);
    ASSERT_EQ(rig.boxes.size(), 1u);
    EXPECT_EQ(rig.boxes[0].textId, 224);
}

TEST(Startup, WindowWithoutASocketIsAFailedStartToo) {
    WindowRig rig(false);
    const std::string lockPath = rig.dir.filePath("lock").toStdString();
    CTallyrigApp app(Options(rig, lockPath));
    EXPECT_EQ(app.InitInstance(), 1) << "a start that ended at text 224 must not exit with 0";
    EXPECT_EQ(app.StartFailure(), 224);
    ASSERT_EQ(rig.boxes.size(), 1u);
    EXPECT_EQ(rig.boxes[0].textId, 224);
    app.ExitInstance();
    EXPECT_TRUE(CInstanceLock(lockPath).TryAcquire());
}

// ---- Settings store ---------------------------------------------------------------------

TEST(SettingsStore, DefaultsWhenAbsentAndIgnoresValuesThatDoNotFit) {
    QTemporaryDir dir;
    const QString file = dir.filePath("s.ini");
    CSettingsStore store(file);
    EXPECT_EQ(store.ReadBrowser(), 0);
    EXPECT_EQ(store.ReadIfMac(), MacAddress{});
    EXPECT_FALSE(QFile::exists(file));
    {
        QSettings raw(file, QSettings::IniFormat);
        raw.setValue("Setup_5/BROWSER", "not a number");
        raw.setValue("Setup_5/IFMAC", QByteArray("\x01\x02\x03\x04\x05\x06\x07", 7));
    }
    EXPECT_EQ(store.ReadBrowser(), 0);
    EXPECT_EQ(store.ReadIfMac(), MacAddress{});
    {
        QSettings raw(file, QSettings::IniFormat);
        raw.setValue("Setup_5/IFMAC", QByteArray("\x0A\x0B", 2));
    }
    EXPECT_EQ(store.ReadIfMac(), (MacAddress{0x0A, 0x0B, 0, 0, 0, 0}));
}

TEST(SettingsStore, UserStoreUsesOrganisationApplicationAndGroup) {
    QTemporaryDir dir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
    CSettingsStore store;
    ASSERT_TRUE(store.WriteBrowser(3));
    ASSERT_TRUE(store.WriteIfMac(MacAddress{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(store.ReadBrowser(), 3);
    EXPECT_EQ(store.ReadIfMac(), (MacAddress{1, 2, 3, 4, 5, 6}));
    QSettings raw(dir.filePath("Morvane/networkcamera.conf"), QSettings::IniFormat);
    EXPECT_EQ(raw.value("Setup_5/BROWSER").toInt(), 3);
    EXPECT_EQ(raw.value("Setup_5/IFMAC").toByteArray().size(), 6);
}

TEST(SettingsStore, FailedWriteIsSilentAndTheChoiceStillApplies) {
    WindowRig rig;
    // A regular file where the store's folder should be: no write can succeed, even as root.
    QFile blocker(rig.dir.filePath("blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    rig.store = std::make_unique<CSettingsStore>(rig.dir.filePath("blocker/s.ini"));
    EXPECT_FALSE(rig.store->WriteBrowser(3));
    CTallyrigDlg& dlg = rig.Open();
    auto* combo = dlg.ControlAs<QComboBox>(IDC_BROWSER_COMBO);
    const int last = combo->count() - 1;
    emit combo->activated(last);
    EXPECT_EQ(dlg.BrowserCode(), dlg.BrowserCodes()[static_cast<std::size_t>(last)]);
    EXPECT_EQ(rig.store->ReadBrowser(), 0);
    EXPECT_TRUE(rig.boxes.empty()) << "store failures are never reported";
}

// ---- Privilege notice -------------------------------------------------------------------

struct PrivilegeCase {
    bool canProbe;
    bool canFlush;
    int textId;  // 0: no box
};

class PrivilegeNoticeAtStart : public testing::TestWithParam<PrivilegeCase> {};

TEST_P(PrivilegeNoticeAtStart, ComesOnceOverTheShownWindowOnlyWhenEchoIsMissing) {
    const PrivilegeCase c = GetParam();
    WindowRig rig;
    AppOptions options = Options(rig, rig.dir.filePath("lock").toStdString());
    int checks = 0;
    options.privilegeNotice = [&](CTallyrigDlg& window) {
        ++checks;
        PrivilegeReport report;
        report.canProbe = c.canProbe;
        report.canFlush = c.canFlush;
        report.helper = "/usr/libexec/valdrune/valdrune-netprobe";
        report.pingGroupCommand = "sysctl -w net.ipv4.ping_group_range=\"1000 1000\"";
        GivePrivilegeNotice(window, report);
    };
    bool shownAtBox = false;
    std::size_t sentAtBox = 0;
    SetMessageBoxHandler([&](const MessageBoxRequest& r) {
        shownAtBox = r.owner != nullptr && r.owner->isVisible();
        sentAtBox = rig.transport.Sent().size();
        rig.boxes.push_back(r);
        return ID_OK;
    });
    CTallyrigDlg* window = nullptr;
    QString note;
    options.onDialogReady = [&](CTallyrigDlg& dlg) {
        window = &dlg;
        EXPECT_EQ(checks, 0) << "asked only once the window runs";
        QTimer::singleShot(0, &dlg, [&dlg, &note] {
            note = dlg.Hint().NoteText();
            dlg.done(2);
        });
    };
    CTallyrigApp app(std::move(options));
    EXPECT_EQ(app.InitInstance(), 0);
    EXPECT_EQ(checks, 1);
    if (c.textId == 0) {
        EXPECT_TRUE(rig.boxes.empty());
        // Without the flush the note stays in the window, with the grant.
        EXPECT_EQ(note.contains(QStringLiteral("sudo setcap cap_net_raw,cap_net_admin+p /")),
                  c.canProbe && !c.canFlush)
            << note.toStdString();
        return;
    }
    ASSERT_EQ(rig.boxes.size(), 1u);
    const MessageBoxRequest& box = rig.boxes[0];
    EXPECT_EQ(box.textId, c.textId);
    EXPECT_EQ(box.boxType, MB_OK_ | MB_ICONEXCLAMATION_);
    EXPECT_EQ(box.owner, window);
    EXPECT_TRUE(shownAtBox) << "the box must come after the window is shown";
    EXPECT_EQ(sentAtBox, 1u) << "the first search goes out before the box";
    const std::string& text = box.extraText;
    EXPECT_EQ(text.find("%s"), std::string::npos);
    EXPECT_NE(text.find(c.canFlush ? "privilege cap_net_raw is" : "cap_net_raw, cap_net_admin"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("sudo setcap cap_net_raw,cap_net_admin+p /"), std::string::npos) << text;
    EXPECT_NE(text.find("sudo sysctl -w net.ipv4.ping_group_range=\"1000 1000\""),
              std::string::npos)
        << text;
}

INSTANTIATE_TEST_SUITE_P(States, PrivilegeNoticeAtStart,
                         testing::Values(PrivilegeCase{false, false, kTextNoEchoNoFlush},
                                         PrivilegeCase{false, true, kTextNoEcho},
                                         PrivilegeCase{true, false, 0},
                                         PrivilegeCase{true, true, 0}),
    NamedBy([](const PrivilegeCase& c) {
                             return CaseName(c.canProbe ? "Echo" : "NoEcho",
                                             c.canFlush ? "Flush" : "NoFlush");
                         }));

TEST(PrivilegeNotice, FillsEveryLanguageAndQuotesAnAwkwardPath) {
    PrivilegeReport report;  // nothing granted, no ping-group advice from the platform
    const Language languages[] = {Language::English, Language::Japanese,
                                  Language::ChineseSimplified, Language::Portuguese};
    for (Language lang : languages) {
        SetCurrentLanguage(lang);
        const QString text =
            MakePrivilegeNotice(report, QStringLiteral("/opt/it's %s/valdrune")).text;
        EXPECT_EQ(text.count(QStringLiteral("%s")), 1) << "only the one in the path";
        EXPECT_TRUE(text.contains(
            QStringLiteral("sudo setcap cap_net_raw,cap_net_admin+p '/opt/it'\\''s %s/valdrune'")))
            << text.toStdString();
        EXPECT_TRUE(text.contains(QStringLiteral("ping_group_range=\"0 2147483647\"")));
    }
    SetCurrentLanguage(Language::English);
    report.canProbe = true;
    const PrivilegeNotice console = MakePrivilegeNotice(report, QStringLiteral("/usr/bin/valdrune"));
    EXPECT_EQ(console.textId, 0);
    EXPECT_TRUE(console.text.endsWith(
        QStringLiteral("sudo setcap cap_net_raw,cap_net_admin+p /usr/bin/valdrune")));
}

}  // namespace
}  // namespace valdrune::test
