// In-memory stand-ins for the browser seams. Every observable effect is appended to one shared
// event log so that tests can check the order of messages, writes and launches.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "browser/core/CDeviceBrowser.h"

namespace valdrune::testing {

using EventLog = std::vector<std::string>;

inline std::string Join(const std::vector<std::string>& parts) {
    std::string out;
    for (const auto& p : parts) out += (out.empty() ? "" : " ") + p;
    return out;
}

class FakeEnvironment : public IBrowserEnvironment {
  public:
    explicit FakeEnvironment(EventLog& log) : log_(log) {}
    BrowserCandidates candidates{{"/edge/a", "/edge/b"},
                                 {"/chrome/a", "/chrome/b"},
                                 {"/firefox/a", "/firefox/b"},
                                 {"/ie/a", "/ie/b"}};
    std::set<std::string> files;
    EdgeVersionValue version{true, true, "120.0.2210.91"};
    std::string progId;
    bool zones = false;
    std::string startDir = "/start";
    LocalDateTime now{2026, 3, 4, 5, 6, 7};

    BrowserCandidates CandidatePaths() const override { return candidates; }
    bool FileExists(const std::string& path) const override { return files.count(path) > 0; }
    EdgeVersionValue ReadEdgeVersion() const override { return version; }
    std::string ReadDefaultBrowserProgId() const override { return progId; }
    LaunchResult Launch(const std::string& exe, const std::vector<std::string>& args) override {
        log_.push_back("launch " + exe + (args.empty() ? "" : " " + Join(args)));
        return NextResult();
    }
    LaunchResult OpenDefault(const std::string& url) override {
        log_.push_back("default " + url);
        return NextResult();
    }
    // What the next starts give; started and unwatched once used up.
    std::deque<LaunchResult> results;
    bool HasTrustedSiteZones() const override { return zones; }
    std::string StartupDirectory() const override { return startDir; }
    char PathSeparator() const override { return '/'; }
    LocalDateTime LocalNow() const override { return now; }

    void InstallAll() { files = {"/edge/a", "/chrome/a", "/firefox/a", "/ie/a"}; }

  private:
    LaunchResult NextResult() {
        if (results.empty()) return {};
        LaunchResult r = std::move(results.front());
        results.pop_front();
        return r;
    }
    EventLog& log_;
};

class FakeStore : public IKeyValueStore {
  public:
    explicit FakeStore(EventLog& log) : log_(log) {}
    struct Value {
        bool isText = false;
        std::uint32_t number = 0;
        std::string text;
    };
    std::map<std::pair<Hive, std::string>, std::map<std::string, Value>> keys;
    bool failWrites = false;

    bool KeyExists(Hive h, const std::string& key) const override {
        return keys.count({h, key}) > 0;
    }
    bool CreateKey(Hive h, const std::string& key) override {
        if (failWrites) return false;
        keys[{h, key}];
        return true;
    }
    std::optional<std::uint32_t> QueryDword(Hive h, const std::string& key,
                                            const std::string& name) const override {
        const Value* v = Find(h, key, name);
        if (!v || v->isText) return std::nullopt;
        return v->number;
    }
    std::optional<std::string> QueryString(Hive h, const std::string& key,
                                           const std::string& name) const override {
        const Value* v = Find(h, key, name);
        if (!v || !v->isText) return std::nullopt;
        return v->text;
    }
    bool SetDword(Hive h, const std::string& key, const std::string& name,
                  std::uint32_t value) override {
        log_.push_back("set " + Name(h, key, name) + "=" + std::to_string(value));
        auto it = keys.find({h, key});
        if (failWrites || it == keys.end()) return false;
        it->second[name] = Value{false, value, {}};
        return true;
    }
    bool SetString(Hive h, const std::string& key, const std::string& name,
                   const std::string& value) override {
        log_.push_back("set " + Name(h, key, name) + "=" + value);
        auto it = keys.find({h, key});
        if (failWrites || it == keys.end()) return false;
        it->second[name] = Value{true, 0, value};
        return true;
    }
    bool DeleteKey(Hive h, const std::string& key) override { return keys.erase({h, key}) > 0; }

    // Direct set-up for tests.
    void Put(Hive h, const std::string& key, const std::string& name, Value v) {
        keys[{h, key}][name] = std::move(v);
    }

  private:
    static std::string Name(Hive h, const std::string& key, const std::string& name) {
        return std::string(h == Hive::LocalMachine ? "HKLM\\" : "HKCU\\") + key + "\\" + name;
    }
    const Value* Find(Hive h, const std::string& key, const std::string& name) const {
        auto it = keys.find({h, key});
        if (it == keys.end()) return nullptr;
        auto v = it->second.find(name);
        return v == it->second.end() ? nullptr : &v->second;
    }
    EventLog& log_;
};

class FakeFiles : public ISiteListFiles {
  public:
    explicit FakeFiles(EventLog& log) : log_(log) {}
    std::map<std::string, std::string> content;
    bool Exists(const std::string& path) const override { return content.count(path) > 0; }
    std::optional<std::string> Read(const std::string& path) const override {
        auto it = content.find(path);
        if (it == content.end()) return std::nullopt;
        return it->second;
    }
    bool WriteWhole(const std::string& path, const std::string& bytes) override {
        log_.push_back("write " + path);
        content[path] = bytes;
        return true;
    }

  private:
    EventLog& log_;
};

class FakeWindows : public ITopLevelWindows {
  public:
    explicit FakeWindows(EventLog& log) : log_(log) {}
    std::vector<TopLevelWindow> windows;
    std::vector<TopLevelWindow> List() const override { return windows; }
    void ShowMinimized(std::uint64_t handle) override {
        log_.push_back("minimize " + std::to_string(handle));
    }

  private:
    EventLog& log_;
};

// The main dialog: posted messages queue up until Pump(); timers and delays are recorded.
class FakeHost : public IBrowserHost {
  public:
    explicit FakeHost(EventLog& log) : log_(log) {}
    std::deque<int> answers;                          // answers for message boxes; OK when empty
    std::function<int(int mode, int textId)> dialog;  // modal message dialog; OK when unset
    std::vector<std::pair<WindowMessage, std::uintptr_t>> posted;
    std::vector<std::function<void()>> delayed;
    std::set<int> runningTimers;

    int ShowMessage(int textId, int boxType, BoxOwner owner) override {
        log_.push_back("msg " + std::to_string(textId) + " type " + std::to_string(boxType) +
                       (owner == BoxOwner::MainDialog ? " main"
                        : owner == BoxOwner::None     ? " none"
                                                      : " app"));
        if (answers.empty()) return ID_OK;
        const int a = answers.front();
        answers.pop_front();
        return a;
    }
    void ShowFilledMessage(int textId, int boxType, BoxOwner owner,
                           const std::vector<std::string>& fill) override {
        ShowMessage(textId, boxType, owner);
        log_.back() += " [" + Join(fill) + "]";
    }
    void PostMessage(WindowMessage m, std::uintptr_t w) override {
        log_.push_back("post " + std::to_string(m) + " " + std::to_string(w));
        posted.emplace_back(m, w);
    }
    void PostToWindow(std::uintptr_t window, WindowMessage m, std::uintptr_t w) override {
        log_.push_back("post-to " + std::to_string(window) + " " + std::to_string(m) + " " +
                       std::to_string(w));
    }
    void StartTimer(int id, int ms) override {
        log_.push_back("timer " + std::to_string(id) + " " + std::to_string(ms));
        runningTimers.insert(id);
    }
    void KillTimer(int id) override {
        log_.push_back("kill " + std::to_string(id));
        runningTimers.erase(id);
    }
    int RunMessageDialog(int mode, int textId) override {
        log_.push_back("dialog " + std::to_string(mode) + " " + std::to_string(textId));
        return dialog ? dialog(mode, textId) : ID_OK;
    }
    void After(int ms, std::function<void()> fn) override {
        log_.push_back("after " + std::to_string(ms));
        delayed.push_back(std::move(fn));
    }
    void RunDelayed() {
        auto fns = std::move(delayed);
        delayed.clear();
        for (auto& f : fns) f();
    }

  private:
    EventLog& log_;
};

class FakeDevices : public IDeviceSource {
  public:
    std::map<std::string, _CommandDataTable> table;
    int overlaps = 0;
    std::optional<bool> probeAnswer = true;  // nullopt: the answer stays outstanding
    std::function<void(bool)> outstanding;
    std::vector<std::string> allUrls;
    std::vector<std::string> ieUrls;
    int probes = 0;

    std::optional<_CommandDataTable> FindDevice(const std::string& mac) const override {
        auto it = table.find(mac);
        if (it == table.end()) return std::nullopt;
        return it->second;
    }
    int FindOverlaps(const _CommandDataTable&) const override { return overlaps; }
    void ProbeDevice(const _CommandDataTable&, std::function<void(bool)> done) override {
        ++probes;
        if (probeAnswer) {
            done(*probeAnswer);
        } else {
            outstanding = std::move(done);
        }
    }
    std::vector<std::string> EnumerateDeviceUrls(bool all) const override {
        return all ? allUrls : ieUrls;
    }
};

// All fakes wired to one CDeviceBrowser-ready seam set.
struct BrowserRig {
    EventLog log;
    FakeEnvironment env{log};
    FakeStore store{log};
    FakeFiles files{log};
    FakeWindows windows{log};
    FakeHost host{log};
    FakeDevices devices;
    BrowserSeams Seams() { return BrowserSeams{env, store, files, windows, host, devices}; }
};

}  // namespace valdrune::testing
