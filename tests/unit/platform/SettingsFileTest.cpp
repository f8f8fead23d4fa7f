#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "platform/SettingsValues.h"
#include "QtTestApp.h"

namespace valdrune {
namespace {

void Touch(const QString& path) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Setup_5]\nBROWSER=");
}

// A writer killed before its rename leaves "<file>.XXXXXX", one killed while saving leaves the
// save's lock (empty when killed before it wrote its owner) and its guards: the next write
// removes them and nothing of another shape.
TEST(SettingsFile, NextWriteRemovesWhatAKilledWriterLeft) {
    test::App();
    QTemporaryDir dir;
    const QString file = dir.filePath("settings.ini");
    for (const char* name : {"settings.ini.vmoCVQ", "settings.ini.x9Gq2A", "settings.ini.old",
                             "settings.ini.bak.1", "settings.ini.vmoCV-", "other.ini.xqgGxi",
                             "settings.ini.lock.rmlock", "settings.ini.lock.rmlock.rmlock"})
        Touch(dir.filePath(name));
    ASSERT_TRUE(QFile(file + ".lock").open(QIODevice::WriteOnly));

    auto values = OpenSettingsFile(file.toStdString(), "Setup_5");
    ASSERT_TRUE(values->WriteNumber("BROWSER", 3));
    EXPECT_EQ(OpenSettingsFile(file.toStdString(), "Setup_5")->ReadNumber("BROWSER"), 3);
    QStringList left = QDir(dir.path()).entryList(QDir::Files);
    left.removeAll("settings.ini");
    left.removeAll("settings.ini.writer.lock");
    EXPECT_EQ(left, (QStringList{"other.ini.xqgGxi", "settings.ini.bak.1", "settings.ini.old",
                                 "settings.ini.vmoCV-"}));
}

}  // namespace
}  // namespace valdrune
