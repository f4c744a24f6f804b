// The window's platform services as doubles, over a data folder of the test's. Messages are
// collected, never shown, so no test can block on a modal box; the clock is the test's.
#pragma once

#include "recorder/app/main_window.h"
#include "tests/mixer/fake_mixer.h"
#include "tests/recording/fakes.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace kelvo::testing {

inline QByteArray read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

inline void write(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

struct WindowDoubles {
    explicit WindowDoubles(const QString& folder) {
        services.engine = &engine;
        services.launcher = &launcher;
        services.mixer = &mixer;
        services.desktop = &desktop;
        services.messages = [this](const QString& text) { messages << text; };
        services.mixerErrors = [this](const std::string& title, const std::string& text) {
            messages << QString::fromStdString(title + "|" + text);
        };
        services.clock = [this] { return now; };
        services.programFolder = services.dataFolder = folder;
        services.notifier = &notifier;
        services.inhibitor = &inhibitor;
        services.freeSpace = [](const QString&) { return std::nullopt; };
        services.lookAtWebcastAddresses = false;
    }
    QString showPath(const QString& name) const {
        return services.dataFolder + "/configurations/" + name;
    }
    QByteArray showFile(const QString& name) const { return read(showPath(name)); }

    FakeCaptureEngine engine;
    FakeProcessLauncher launcher;
    FakeNotifier notifier;
    FakeInhibitor inhibitor;
    FakeMixer mixer = FakeMixer::withSources({"Microphone", "Line In", "Monitor of Speakers"});
    struct : DesktopRegistry {
        bool install(const std::vector<DataFile>&) override { return ++installs > 0; }
        int installs = 0;
    } desktop;
    QStringList messages;
    QDateTime now{QDate(2004, 3, 5), QTime(21, 5, 3)}; // a Friday
    MainWindowServices services;
};

} // namespace kelvo::testing
