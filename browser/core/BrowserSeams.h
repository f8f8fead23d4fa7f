// The small interfaces through which the browser decisions reach the host: installed browsers
// and launching, a registry-like key/value store, the site-list file, the top-level window
// list and the main dialog's services. Production bindings live in platform/; tests use fakes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "protocol/BoxTypes.h"
#include "protocol/Messages.h"
#include "protocol/Record.h"

namespace valdrune {

// Where each browser's executable may live, most preferred first. An empty list means the
// browser does not exist on this platform.
struct BrowserCandidates {
    std::vector<std::string> edge;
    std::vector<std::string> chrome;
    std::vector<std::string> firefox;
    std::vector<std::string> ie;
};

// The Edge version as its per-user source holds it.
struct EdgeVersionValue {
    bool sourceOpened = false;  // the place that holds the version exists
    bool valueRead = false;     // the version value could be read
    std::string text;
};

// What became of starting a browser. A start that the system accepted may still end at once
// (a broken installation, a handler that refuses the URL): `exited` tells, when asked later.
struct LaunchResult {
    enum class Status { Started, FailedToStart, ExitedAtOnce };
    Status status = Status::Started;
    std::string program;  // what was started, as the user would recognise it
    std::string reason;   // FailedToStart: the system's own words
    int exitStatus = 0;   // ExitedAtOnce
    // Started: the program's exit status once it has ended, nothing while it runs. Empty when
    // the program cannot be watched. Dropping it never ends the program.
    std::function<std::optional<int>()> exited;

    static LaunchResult Failed(std::string program, std::string reason) {
        LaunchResult r;
        r.status = Status::FailedToStart;
        r.program = std::move(program);
        r.reason = std::move(reason);
        return r;
    }
};

struct LocalDateTime {
    int year = 1970;
    int month = 1;  // 1-12
    int day = 1;    // 1-31
    int hour = 0;
    int minute = 0;
    int second = 0;
};

class IBrowserEnvironment {
  public:
    virtual ~IBrowserEnvironment() = default;
    virtual BrowserCandidates CandidatePaths() const = 0;
    virtual bool FileExists(const std::string& path) const = 0;
    virtual EdgeVersionValue ReadEdgeVersion() const = 0;
    // The identifier of the user's default handler for HTML files; empty when unknown.
    virtual std::string ReadDefaultBrowserProgId() const = 0;
    // Starts an executable with an argument list, never through a shell; not waited for.
    virtual LaunchResult Launch(const std::string& executable,
                                const std::vector<std::string>& args) = 0;
    // Hands a URL to the desktop's default handler.
    virtual LaunchResult OpenDefault(const std::string& url) = 0;
    // Whether the host keeps per-user trusted-site zones (and so wants them written).
    virtual bool HasTrustedSiteZones() const = 0;
    // The directory the process started in, and the separator to join a file name to it.
    virtual std::string StartupDirectory() const = 0;
    virtual char PathSeparator() const = 0;
    virtual LocalDateTime LocalNow() const = 0;
};

enum class Hive { CurrentUser, LocalMachine };

// Keys are backslash-separated paths; values are 32-bit numbers or texts.
class IKeyValueStore {
  public:
    virtual ~IKeyValueStore() = default;
    virtual bool KeyExists(Hive hive, const std::string& key) const = 0;
    // Creates the key or opens an existing one for writing.
    virtual bool CreateKey(Hive hive, const std::string& key) = 0;
    virtual std::optional<std::uint32_t> QueryDword(Hive hive, const std::string& key,
                                                    const std::string& name) const = 0;
    virtual std::optional<std::string> QueryString(Hive hive, const std::string& key,
                                                   const std::string& name) const = 0;
    // Writing to a key that does not exist fails.
    virtual bool SetDword(Hive hive, const std::string& key, const std::string& name,
                          std::uint32_t value) = 0;
    virtual bool SetString(Hive hive, const std::string& key, const std::string& name,
                           const std::string& value) = 0;
    virtual bool DeleteKey(Hive hive, const std::string& key) = 0;
};

class ISiteListFiles {
  public:
    virtual ~ISiteListFiles() = default;
    virtual bool Exists(const std::string& path) const = 0;
    virtual std::optional<std::string> Read(const std::string& path) const = 0;
    // Replaces the whole file; a failed write leaves the previous file as it was.
    virtual bool WriteWhole(const std::string& path, const std::string& bytes) = 0;
};

struct TopLevelWindow {
    std::uint64_t handle = 0;
    bool hasOwner = false;
    std::string title;  // UTF-8
};

class ITopLevelWindows {
  public:
    virtual ~ITopLevelWindows() = default;
    // Top-level windows from the top of the stacking order down.
    virtual std::vector<TopLevelWindow> List() const = 0;
    virtual void ShowMinimized(std::uint64_t handle) = 0;
};

// Who owns a message box: the main dialog, nobody, or the application object.
enum class BoxOwner { MainDialog, None, Application };

// What the main dialog offers the browser steps.
class IBrowserHost {
  public:
    virtual ~IBrowserHost() = default;
    // Returns ID_OK or ID_CANCEL.
    virtual int ShowMessage(int textId, int boxType, BoxOwner owner) = 0;
    // A text with "%s" placeholders, filled in order with `fill`; OK only.
    virtual void ShowFilledMessage(int textId, int boxType, BoxOwner owner,
                                   const std::vector<std::string>& fill) = 0;
    // Queued to the main dialog itself.
    virtual void PostMessage(WindowMessage message, std::uintptr_t wParam) = 0;
    // Queued to another window (the message dialog), named by the handle it announced.
    virtual void PostToWindow(std::uintptr_t window, WindowMessage message,
                              std::uintptr_t wParam) = 0;
    // Starting a running timer restarts it.
    virtual void StartTimer(int timerId, int periodMs) = 0;
    virtual void KillTimer(int timerId) = 0;
    // Runs the message dialog modally in mode 1 or 2; returns ID_OK or ID_CANCEL.
    virtual int RunMessageDialog(int mode, int textId) = 0;
    // Runs fn once after delayMs without blocking the caller.
    virtual void After(int delayMs, std::function<void()> fn) = 0;
};

// The engine's device table and probes as the open action needs them.
class IDeviceSource {
  public:
    virtual ~IDeviceSource() = default;
    virtual std::optional<_CommandDataTable> FindDevice(const std::string& macText) const = 0;
    // Other devices with the same IPv4 address.
    virtual int FindOverlaps(const _CommandDataTable& record) const = 0;
    // done(true) when the device's own address answered.
    virtual void ProbeDevice(const _CommandDataTable& record, std::function<void(bool)> done) = 0;
    virtual std::vector<std::string> EnumerateDeviceUrls(bool allDevices) const = 0;
};

// The host side of the browser steps, handed to the main dialog as one set: the platform's
// own in the shipped program, a sandbox in tests.
struct BrowserPlatform {
    std::unique_ptr<IBrowserEnvironment> env;
    std::unique_ptr<IKeyValueStore> store;
    std::unique_ptr<ISiteListFiles> files;
    std::unique_ptr<ITopLevelWindows> windows;
};

}  // namespace valdrune
