#include "platform/linux/browser/FileKeyValueStore.h"

#include <unistd.h>

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "browser/core/CDeviceBrowser.h"
#include "platform/linux/browser/AtomicFile.h"

namespace valdrune {

namespace {

constexpr std::size_t MAX_KEY_FILE = 1024 * 1024;

std::string EnvOr(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::string(v) : fallback;
}

std::optional<QJsonObject> Load(const std::string& file) {
    const auto bytes = ReadWholeFile(file, MAX_KEY_FILE);
    if (!bytes) return std::nullopt;
    if (bytes->empty()) return QJsonObject{};
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(
        QByteArray(bytes->data(), static_cast<qsizetype>(bytes->size())), &error);
    // A broken file is an empty key: its values read as missing, a write replaces it.
    if (error.error != QJsonParseError::NoError || !doc.isObject()) return QJsonObject{};
    return doc.object();
}

bool Save(const std::string& file, const QJsonObject& object) {
    const QByteArray bytes = QJsonDocument(object).toJson(QJsonDocument::Indented);
    return WriteFileAtomically(file, bytes.toStdString());
}

// Policy files beside ours, in name order: the browser merges every file of the directory, so a
// value an administrator set in another file counts as set.
std::vector<std::string> OtherPolicyFiles(const std::string& dir, const std::string& ours) {
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
        const std::string path = e.path().string();
        if (path != ours && e.path().extension() == ".json") files.push_back(path);
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

FileKeyValueStore::FileKeyValueStore(std::string userRoot, std::string machinePolicyDir)
    : userRoot_(std::move(userRoot)), machinePolicyDir_(std::move(machinePolicyDir)) {}

FileKeyValueStore FileKeyValueStore::FromEnvironment() {
    const std::string home = EnvOr("HOME", "/tmp");
    const std::string config = EnvOr("XDG_CONFIG_HOME", home + "/.config");
    return FileKeyValueStore(config + "/valdrune/registry", "/etc/opt/edge/policies/managed");
}

std::string FileKeyValueStore::FileFor(Hive hive, const std::string& key) const {
    if (hive == Hive::LocalMachine) {
        if (key != EDGE_POLICY_KEY || machinePolicyDir_.empty()) return {};
        return machinePolicyDir_ + "/valdrune.json";
    }
    if (userRoot_.empty() || key.empty()) return {};
    std::string path = userRoot_;
    std::size_t start = 0;
    while (start <= key.size()) {
        std::size_t end = key.find('\\', start);
        if (end == std::string::npos) end = key.size();
        std::string part = key.substr(start, end - start);
        if (part.empty() || part == "." || part == "..") return {};
        for (char& c : part) {
            if (c == '/' || c == '\0') c = '_';
        }
        path += "/" + part;
        start = end + 1;
    }
    return path + ".json";
}

bool FileKeyValueStore::KeyExists(Hive hive, const std::string& key) const {
    const std::string file = FileFor(hive, key);
    return !file.empty() && IsRegularFile(file);
}

bool FileKeyValueStore::CreateKey(Hive hive, const std::string& key) {
    const std::string file = FileFor(hive, key);
    if (file.empty()) return false;
    if (IsRegularFile(file)) {
        // Opening for writing: an existing key must actually be writable.
        return ::access(file.c_str(), W_OK) == 0 &&
               ::access(ParentDirectory(file).c_str(), W_OK) == 0;
    }
    const std::string dir = ParentDirectory(file);
    if (hive == Hive::CurrentUser) {
        if (!MakeDirectories(dir)) return false;
    } else if (!IsDirectory(dir)) {
        return false;
    }
    return Save(file, QJsonObject{});
}

std::optional<QJsonValue> FileKeyValueStore::Lookup(Hive hive, const std::string& key,
                                                    const std::string& name) const {
    const std::string file = FileFor(hive, key);
    if (file.empty()) return std::nullopt;
    std::vector<std::string> files{file};
    if (hive == Hive::LocalMachine) {
        const auto others = OtherPolicyFiles(machinePolicyDir_, file);
        files.insert(files.end(), others.begin(), others.end());
    }
    for (const auto& f : files) {
        const auto object = Load(f);
        if (!object) continue;
        const QJsonValue v = object->value(QString::fromStdString(name));
        if (!v.isUndefined()) return v;
    }
    return std::nullopt;
}

std::optional<std::uint32_t> FileKeyValueStore::QueryDword(Hive hive, const std::string& key,
                                                           const std::string& name) const {
    const auto v = Lookup(hive, key, name);
    if (!v || !v->isDouble()) return std::nullopt;
    const double d = v->toDouble();
    if (d < 0 || d > 4294967295.0 || std::floor(d) != d) return std::nullopt;
    return static_cast<std::uint32_t>(d);
}

std::optional<std::string> FileKeyValueStore::QueryString(Hive hive, const std::string& key,
                                                          const std::string& name) const {
    const auto v = Lookup(hive, key, name);
    if (!v || !v->isString()) return std::nullopt;
    return v->toString().toStdString();
}

bool FileKeyValueStore::SetDword(Hive hive, const std::string& key, const std::string& name,
                                 std::uint32_t value) {
    const std::string file = FileFor(hive, key);
    if (file.empty()) return false;
    auto object = Load(file);
    if (!object) return false;  // the key must exist
    object->insert(QString::fromStdString(name), static_cast<double>(value));
    return Save(file, *object);
}

bool FileKeyValueStore::SetString(Hive hive, const std::string& key, const std::string& name,
                                  const std::string& value) {
    const std::string file = FileFor(hive, key);
    if (file.empty()) return false;
    auto object = Load(file);
    if (!object) return false;
    object->insert(QString::fromStdString(name), QString::fromStdString(value));
    return Save(file, *object);
}

bool FileKeyValueStore::DeleteKey(Hive hive, const std::string& key) {
    const std::string file = FileFor(hive, key);
    return !file.empty() && ::unlink(file.c_str()) == 0;
}

}  // namespace valdrune
