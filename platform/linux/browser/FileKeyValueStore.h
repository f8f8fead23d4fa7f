// The registry-like store kept in files. Each key is one JSON object file whose members are the
// key's values (numbers for 32-bit values, strings for texts).
//  - current-user keys: <userRoot>/<key path with "\" as "/">.json, directories created as needed;
//  - the Edge policy key of the machine: <machinePolicyDir>/valdrune.json, the directory where
//    the browser reads managed policy; it is never created, so without the rights to write
//    there every machine write fails silently, as it would without administrator rights.
//    Reads also look at the directory's other policy files, which the browser merges.
// Other machine keys have no counterpart here and cannot be created.
#pragma once

#include <QJsonValue>
#include <optional>
#include <string>

#include "browser/core/BrowserSeams.h"

namespace valdrune {

class FileKeyValueStore final : public IKeyValueStore {
  public:
    FileKeyValueStore(std::string userRoot, std::string machinePolicyDir);

    // $XDG_CONFIG_HOME/valdrune/registry (~/.config when unset) and the directory Edge reads
    // managed policy from, /etc/opt/edge/policies/managed.
    static FileKeyValueStore FromEnvironment();

    bool KeyExists(Hive hive, const std::string& key) const override;
    bool CreateKey(Hive hive, const std::string& key) override;
    std::optional<std::uint32_t> QueryDword(Hive hive, const std::string& key,
                                            const std::string& name) const override;
    std::optional<std::string> QueryString(Hive hive, const std::string& key,
                                           const std::string& name) const override;
    bool SetDword(Hive hive, const std::string& key, const std::string& name,
                  std::uint32_t value) override;
    bool SetString(Hive hive, const std::string& key, const std::string& name,
                   const std::string& value) override;
    bool DeleteKey(Hive hive, const std::string& key) override;

    // The file that holds a key, or empty when the key has no place here.
    std::string FileFor(Hive hive, const std::string& key) const;

  private:
    std::optional<QJsonValue> Lookup(Hive hive, const std::string& key,
                                     const std::string& name) const;
    const std::string userRoot_;
    const std::string machinePolicyDir_;
};

}  // namespace valdrune
