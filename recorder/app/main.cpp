// KelvoRecorder: records scheduled radio shows and webcasts.
#include "recorder/app/main_window.h"
#include "recorder/app/next_start_command.h"
#include "recorder/app/program_folders.h"
#include "recorder/app/single_instance.h"
#include "recorder/app/termination_signals.h"
#include "recorder/mixer/mixer_pulse.h"
#include "recorder/platform/desktop_entry.h"
#include "recorder/platform/engine_library.h"
#include "recorder/platform/executable_folder.h"
#include "recorder/platform/spawn_launcher.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QSettings>

#include <cstdio>
#include <string_view>

namespace {

// For a wake-up set from outside: answered from the shows alone, without a display, and
// without asking (or being handed over to) a running recorder.
int nextStart(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QString programFolder = QString::fromStdString(kelvo::executableFolder());
    if (programFolder.isEmpty()) {
        programFolder = QCoreApplication::applicationDirPath();
    }
    const QString dataFolder = kelvo::chooseDataFolder(
        programFolder, qEnvironmentVariable("XDG_DATA_HOME"), kelvo::homeFolder());
    const QSettings settings(QSettings::NativeFormat, QSettings::UserScope,
                             QStringLiteral("KelvoRecorder"), QStringLiteral("KelvoRecorder"));
    return kelvo::printNextStart(dataFolder, settings.value("recordEveryShow", false).toBool(),
                                 stdout, stderr);
}

} // namespace

int main(int argc, char** argv) {
    kelvo::ignoreWriteSignals();
    if (argc == 2 && std::string_view(argv[1]) == "--next-start") {
        return nextStart(argc, argv);
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KelvoRecorder"));

    QString programFolder = QString::fromStdString(kelvo::executableFolder());
    if (programFolder.isEmpty()) {
        programFolder = QCoreApplication::applicationDirPath();
    }
    const QString dataFolder = kelvo::chooseDataFolder(
        programFolder, qEnvironmentVariable("XDG_DATA_HOME"), kelvo::homeFolder());
    // Whatever follows the program's name: the path of a show file, maybe split at blanks.
    // Taken as bytes (Qt has removed its own options by now): a file name that is not valid
    // in the locale's encoding must still name its file.
    std::vector<std::string> arguments(argv + 1, argv + argc);
    // The login start's own argument: the window starts minimised, as the desktop's session
    // comes up, and the rest of the command line means what it always does.
    bool minimized = false;
    if (!arguments.empty() && arguments.front() == kelvo::kMinimizedArgument) {
        minimized = true;
        arguments.erase(arguments.begin());
    }

    // A recorder already running on these folders takes the command line over: a second one
    // would fight it for the device and save the same shows.
    kelvo::SingleInstance instance(kelvo::SingleInstance::serverName(dataFolder));
    const kelvo::SingleInstance::Claim claim =
        instance.claim(arguments, kelvo::SingleInstance::workingFolder());
    switch (claim) {
    case kelvo::SingleInstance::Claim::HandedOver:
        return 0;
    case kelvo::SingleInstance::Claim::NoAnswer:
        // Starting anyway would make the second recorder this is here to prevent.
        std::fprintf(stderr, "KelvoRecorder: %s\n", qPrintable(instance.problem()));
        QMessageBox::warning(nullptr, QStringLiteral("KelvoRecorder"), instance.problem());
        return 1;
    case kelvo::SingleInstance::Claim::Unavailable:
        // Better a recorder that cannot catch a second start than no recorder.
        std::fprintf(stderr, "KelvoRecorder: %s A second start will not be caught.\n",
                     qPrintable(instance.problem()));
        break;
    case kelvo::SingleInstance::Claim::First:
        break;
    }

    kelvo::EngineLibrary engine(QFile::encodeName(programFolder).toStdString());
    kelvo::SpawnLauncher launcher;
    kelvo::PulseMixer mixer;
    kelvo::MainWindowServices services;
    services.engine = &engine;
    services.launcher = &launcher;
    services.mixer = &mixer;
    services.programFolder = programFolder;
    services.dataFolder = dataFolder;
    services.arguments = std::move(arguments);
    kelvo::MainWindow window(std::move(services));
    QObject::connect(&instance, &kelvo::SingleInstance::commandLine, &window,
                     &kelvo::MainWindow::openHandedOver);
    // Asked for from inside the event loop, once the user has been told.
    QObject::connect(&window, &kelvo::MainWindow::endRequested, &app,
                     [](int exitCode) { QCoreApplication::exit(exitCode); });
    window.startUp();
    if (claim == kelvo::SingleInstance::Claim::Unavailable) {
        window.tell(instance.problem() + QStringLiteral(" A second start will not be caught."));
    }
    kelvo::TerminationSignals endOfSession([&window] { window.endSession(); });
    if (minimized) {
        window.showMinimized();
    } else {
        window.show();
    }
    return app.exec();
}
