// KelvoRecorder: records scheduled radio shows and webcasts.
#include "recorder/app/main_window.h"
#include "recorder/app/program_folders.h"
#include "recorder/recording/engine_library.h"
#include "recorder/recording/program_folder.h"
#include "recorder/recording/spawn_launcher.h"

#include <QApplication>
#include <QDir>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KelvoRecorder"));

    QString programFolder = QString::fromStdString(kelvo::executableFolder());
    if (programFolder.isEmpty()) {
        programFolder = QCoreApplication::applicationDirPath();
    }
    const QString dataFolder = kelvo::chooseDataFolder(
        programFolder, qEnvironmentVariable("XDG_DATA_HOME"), QDir::homePath());

    kelvo::EngineLibrary engine(QFile::encodeName(programFolder).toStdString());
    kelvo::SpawnLauncher launcher;
    kelvo::MainWindow window({&engine, &launcher, {}, {}, programFolder, dataFolder});

    // The other subsystems fill window.hooks() here (mixer, meters, monitoring, shows,
    // schedule); the show named on the command line, app.arguments().value(1), is the
    // shows module's to take.

    if (!window.startUp()) {
        return 1;
    }
    window.show();
    return app.exec();
}
