// Writes one of the tool's files over and over until it is killed, or checks that what a killed
// writer left is one whole version of the file. Driven by interrupted-writes.sh.
//   interrupted_write write|check sitelist|settings|store PATH
#include <QByteArray>
#include <QCoreApplication>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/SettingsStore.h"
#include "platform/SiteListFiles.h"
#include "platform/linux/browser/FileKeyValueStore.h"

namespace {

using namespace valdrune;

// Big enough that a write takes a while and a kill lands inside it.
std::string SiteList(int version) {
    std::string text = "<site-list version=\"" + std::to_string(version) + "\">\n";
    for (int i = 0; i < 20000; ++i)
        text += "  <site url=\"192.168." + std::to_string(version) + "." + std::to_string(i % 250) +
                "\"><compat-mode>IE8Enterprise</compat-mode><open-in>IE11</open-in></site>\n";
    return text + "</site-list>\n";
}

std::string PolicyValue(int version) { return std::string(65536, static_cast<char>('a' + version)); }

const char* kKey = "software\\Morvane\\networkcamera\\Setup_5";

void Write(const std::string& kind, const std::string& path) {
    for (int i = 0;; i = (i + 1) % 2) {
        if (kind == "sitelist") {
            SiteListFiles().WriteWhole(path, SiteList(i));
        } else if (kind == "settings") {
            CSettingsStore store(QString::fromStdString(path));
            store.WriteBrowser(i + 1);
            store.WriteIfMac({0x02, 0, 0, 0, 0, static_cast<std::uint8_t>(i + 1)});
        } else {
            FileKeyValueStore store(path, path + "/policy");
            store.CreateKey(Hive::CurrentUser, kKey);
            store.SetString(Hive::CurrentUser, kKey, "SiteList", PolicyValue(i));
            store.SetDword(Hive::CurrentUser, kKey, "Level", static_cast<std::uint32_t>(i));
        }
    }
}

// Prints the version found or why the file is neither.
int Check(const std::string& kind, const std::string& path) {
    int version = -1;
    if (kind == "sitelist") {
        const auto text = SiteListFiles().Read(path);
        if (!text) return std::puts("missing"), 1;
        for (int v : {0, 1})
            if (*text == SiteList(v)) version = v;
    } else if (kind == "settings") {
        CSettingsStore store(QString::fromStdString(path));
        const int browser = store.ReadBrowser();
        const MacAddress mac = store.ReadIfMac();
        // Both values are written in turn, so any pair of their versions is a whole file.
        if ((browser == 1 || browser == 2) && mac[0] == 0x02 && (mac[5] == 1 || mac[5] == 2))
            version = browser * 10 + mac[5];
    } else {
        FileKeyValueStore store(path, path + "/policy");
        const auto value = store.QueryString(Hive::CurrentUser, kKey, "SiteList");
        const auto level = store.QueryDword(Hive::CurrentUser, kKey, "Level");
        for (int v : {0, 1})
            if (value == PolicyValue(v) && level && *level <= 1) version = v;
    }
    if (version < 0) return std::puts("corrupt"), 1;
    std::printf("%d\n", version);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 4) {
        std::fputs("usage: interrupted_write write|check sitelist|settings|store PATH\n", stderr);
        return 2;
    }
    const std::string mode = argv[1], kind = argv[2], path = argv[3];
    if (mode == "write") Write(kind, path);
    return Check(kind, path);
}
