// The browser side of a test run on Windows: no browser installed, nothing kept in the key
// store, the site list in memory and no other windows, so that nothing of the host is read or
// written.
#pragma once

#include <map>
#include <memory>

#include "browser/core/BrowserSeams.h"

namespace valdrune::test {

class NoBrowsersEnvironment final : public IBrowserEnvironment {
  public:
    BrowserCandidates CandidatePaths() const override { return {}; }
    bool FileExists(const std::string&) const override { return false; }
    EdgeVersionValue ReadEdgeVersion() const override { return {}; }
    std::string ReadDefaultBrowserProgId() const override { return {}; }
    LaunchResult Launch(const std::string&, const std::vector<std::string>&) override {
        return {};
    }
    LaunchResult OpenDefault(const std::string&) override { return {}; }
    bool HasTrustedSiteZones() const override { return false; }
    std::string StartupDirectory() const override { return "C:\\start"; }
    char PathSeparator() const override { return '\\'; }
    LocalDateTime LocalNow() const override { return {}; }
};

class EmptyKeyValueStore final : public IKeyValueStore {
  public:
    bool KeyExists(Hive, const std::string&) const override { return false; }
    bool CreateKey(Hive, const std::string&) override { return false; }
    std::optional<std::uint32_t> QueryDword(Hive, const std::string&,
                                            const std::string&) const override {
        return std::nullopt;
    }
    std::optional<std::string> QueryString(Hive, const std::string&,
                                           const std::string&) const override {
        return std::nullopt;
    }
    bool SetDword(Hive, const std::string&, const std::string&, std::uint32_t) override {
        return false;
    }
    bool SetString(Hive, const std::string&, const std::string&, const std::string&) override {
        return false;
    }
    bool DeleteKey(Hive, const std::string&) override { return false; }
};

class MemorySiteListFiles final : public ISiteListFiles {
  public:
    std::map<std::string, std::string> content;
    bool Exists(const std::string& path) const override { return content.count(path) > 0; }
    std::optional<std::string> Read(const std::string& path) const override {
        const auto it = content.find(path);
        if (it == content.end()) return std::nullopt;
        return it->second;
    }
    bool WriteWhole(const std::string& path, const std::string& bytes) override {
        content[path] = bytes;
        return true;
    }
};

class NoOtherWindows final : public ITopLevelWindows {
  public:
    std::vector<TopLevelWindow> List() const override { return {}; }
    void ShowMinimized(std::uint64_t) override {}
};

struct BrowserSandbox {
    BrowserPlatform Platform() {
        BrowserPlatform p;
        p.env = std::make_unique<NoBrowsersEnvironment>();
        p.store = std::make_unique<EmptyKeyValueStore>();
        p.files = std::make_unique<MemorySiteListFiles>();
        p.windows = std::make_unique<NoOtherWindows>();
        return p;
    }
};

}  // namespace valdrune::test
