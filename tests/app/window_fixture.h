// The whole window with its platform services replaced by doubles: the engine, the process
// launcher, the mixer (three sources) and the desktop's file-type registry. Program and data
// folder are one temporary folder; XDG_DATA_HOME points at another. Messages are collected,
// never shown, so no test can block on a modal box.
#pragma once

#include "recorder/app/main_window.h"
#include "recorder/app/show_panel.h"
#include "recorder/shows/show_file.h"
#include "tests/mixer/fake_mixer.h"
#include "tests/recording/fake_capture_engine.h"
#include "tests/recording/fake_process_launcher.h"
#include "tests/shows/fake_desktop_registry.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <ostream>

// Readable failures for texts and points.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QPoint& point, std::ostream* out) {
    *out << '(' << point.x() << ", " << point.y() << ')';
}

namespace kelvo {

class WindowFixture : public ::testing::Test {
protected:
    WindowFixture() { qputenv("XDG_DATA_HOME", QFile::encodeName(xdgDataHome.path())); }

    MainWindow& window() {
        if (!window_) {
            MainWindowServices services;
            services.engine = &engine;
            services.launcher = &launcher;
            services.mixer = mixer;
            services.desktop = desktop;
            services.messages = [this](const QString& text) {
                messages << text;
                if (onMessage) {
                    onMessage();
                }
            };
            services.mixerErrors = [this](const std::string& title, const std::string& text) {
                mixerErrors << QString::fromStdString(title + "|" + text);
            };
            services.clock = [this] { return now; };
            services.programFolder = programFolder;
            services.dataFolder = programFolder;
            services.arguments = arguments;
            window_ = std::make_unique<MainWindow>(std::move(services));
        }
        return *window_;
    }

    // A new start of the program on the same folders.
    void restart() {
        window_.reset();
        open();
    }
    // Starts up and shows the window, active, as the user meets it.
    void open() {
        ASSERT_TRUE(window().startUp());
        window().show();
        QApplication::setActiveWindow(&window());
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
    }

    template <typename Widget = QWidget> Widget* child(const char* name) {
        return window().findChild<Widget*>(QString::fromLatin1(name));
    }
    const MainWindowControls& controls() { return window().controls(); }

    QString showPath(const QString& name) const {
        return programFolder + "/configurations/" + name;
    }
    QByteArray showFile(const QString& name) const {
        QFile file(showPath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
    }
    bool showExists(const QString& name) const { return QFile::exists(showPath(name)); }
    static void writeFile(const QString& path, const ShowRecord& record) {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray::fromStdString(writeShowRecord(record)));
    }
    void writeShow(const QString& name, const ShowRecord& record) const {
        writeFile(showPath(name), record);
    }
    // The record a show file holds now: exactly one is expected.
    LoadedShowRecord savedShow(const QString& name) const {
        const ShowFileContent content = readShowFile(showFile(name).toStdString());
        EXPECT_EQ(content.completeRecords, 1) << name.toStdString();
        return content.record.value_or(LoadedShowRecord{});
    }
    QStringList showList() {
        QStringList names;
        for (int row = 0; row < controls().file1->count(); ++row) {
            names << controls().file1->item(row)->text();
        }
        return names;
    }
    // The entry the list shows.
    QString listed() {
        const QListWidgetItem* item = controls().file1->currentItem();
        return item ? item->text() : QString();
    }

    QTemporaryDir folder, xdgDataHome;
    QString programFolder = folder.path();
    testing::FakeCaptureEngine engine;
    testing::FakeProcessLauncher launcher;
    FakeMixer fakeMixer = FakeMixer::withSources({"Microphone", "Line In", "Monitor of Speakers"});
    MixerDevice* mixer = &fakeMixer;
    FakeDesktopRegistry fakeDesktop;
    DesktopRegistry* desktop = &fakeDesktop;
    QStringList messages;
    QStringList mixerErrors;
    std::function<void()> onMessage;
    QDateTime now{QDate(2004, 3, 5), QTime(21, 5, 3)};
    std::vector<std::string> arguments;

private:
    std::unique_ptr<MainWindow> window_;
};

} // namespace kelvo
