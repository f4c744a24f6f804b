#include "recorder/app/main_window.h"

#include "recorder/app/program_folders.h"
#include "recorder/app/recordings_window.h"
#include "recorder/app/show_panel.h"
#include "recorder/platform/notifier_dbus.h"
#include "recorder/platform/sleep_inhibitor_logind.h"
#include "recorder/recording/format_lists.h"
#include "recorder/recording/webcast_address.h"
#include "recorder/schedule/clock_text.h"
#include "recorder/schedule/schedule_controls.h"
#include "recorder/schedule/second_ticker.h"
#include "recorder/schedule/show_folder_schedules.h"
#include "recorder/shows/twips.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QGuiApplication>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QScreen>
#include <QSettings>

#include <cstdio>
#include <ctime>
#include <utility>

namespace kelvo {

namespace {

const char* const kDesignCaption = "Kelvo Recorder";
// Kept in the user's settings, never in configurations: the show list lists that folder.
const char* const kRecordEveryShowKey = "recordEveryShow";

QSettings userSettings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("KelvoRecorder"),
                     QStringLiteral("KelvoRecorder"));
}

} // namespace

class MainWindow::ScheduledWindow : public ScheduledRecorder {
public:
    explicit ScheduledWindow(MainWindow& window) : window_(window) {}

    std::string recordingShow() override { return window_.recordingShowName(); }
    bool monitoring() override { return window_.monitoring_->isMonitoring(); }
    bool switchTo(const std::string& show) override {
        window_.shows_->chooseShow(show);
        return window_.shows_->currentShowName() == show;
    }
    void startRecording(const ScheduledStart& start) override {
        window_.recording_->startScheduledRecording(
            window_.show_.snapshot(), start.secondsUntilStop,
            {start.secondsLate, QString::fromStdString(start.notice), start.continued});
    }
    void stopRecording() override { window_.recording_->stopRecording(RecordingEnd::StopTime); }
    void notRecorded(const std::string& message) override { window_.showNotRecorded(message); }

private:
    MainWindow& window_;
};

MainWindow::MainWindow(MainWindowServices services, QWidget* parent)
    : QWidget(parent), services_(std::move(services)) {
    setObjectName(QStringLiteral("Form1"));
    // The show loader replaces this with the show's title once it exists.
    setWindowTitle(QString::fromLatin1(kDesignCaption));
    setAcceptDrops(true);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        dpi_ = screen->logicalDotsPerInch();
    }
    if (!services_.notifier) {
        ownNotifier_ = std::make_unique<DbusNotifier>();
        services_.notifier = ownNotifier_.get();
    }
    if (!services_.endOfSessionNotices) {
        services_.endOfSessionNotices = [notifier = services_.notifier](const QString& text) {
            notifier->notify(QString::fromLatin1(kProgramTitle), text);
        };
    }
    if (!services_.inhibitor) {
        ownInhibitor_ = std::make_unique<LogindInhibitor>();
        services_.inhibitor = ownInhibitor_.get();
    }
    controls_ = buildMainWindowForm(*this, dpi_);
    const MainWindowControls& c = controls_;
    sources_ = std::make_unique<RecordingSources>(mixer_, *c.sourceList, *c.inputLevel);
    binding_ = std::make_unique<ShowBinding>(
        show_,
        ShowControlWidgets{this, c.startTime, c.stopTime, c.sampleRate, c.outputFormat, c.channels,
                           c.mp3Quality, c.sourceList, c.wmaQuality, c.inputLevel, c.webcastAddress,
                           c.weekdays, c.recordStream, c.keepStream, c.openEarly, c.timeZone},
        *sources_);
    createRecordingController();
    createLevelMonitoring();
    createShowPanel();
    createEveryShowSchedule();
    serverWait_ = std::make_unique<SoundServerWait>(*services_.mixer, mixer_);
    connect(serverWait_.get(), &SoundServerWait::answered, this, &MainWindow::soundServerAnswered);
    connect(serverWait_.get(), &SoundServerWait::stillAway, this,
            &MainWindow::soundServerStillAway);
    connectHandlers();
    setFixedSize(toPixels(2400), toPixels(1635));
}

MainWindow::~MainWindow() {
    // The controls go away after the members: hiding them moves the focus, and a line edit
    // losing it would call back into a window already half gone.
    disconnect(controls_.webcastAddress, nullptr, this, nullptr);
}

int MainWindow::toPixels(double twips) const {
    return twipsToPixels(twips, dpi_);
}

QString MainWindow::clockText(const QTime& time) {
    if (!time.isValid()) {
        return {};
    }
    return QString::fromStdString(clockLabelText(time.hour(), time.minute(), time.second()));
}

void MainWindow::createRecordingController() {
    const RecordingWidgets widgets{controls_.statusLine, controls_.clockLabel, controls_.blink};
    std::vector<std::string> encoderFolders{QFile::encodeName(services_.dataFolder).toStdString()};
    if (services_.programFolder != services_.dataFolder) {
        // The user's own encoder.bat in the data folder wins over the one installed.
        encoderFolders.push_back(QFile::encodeName(services_.programFolder).toStdString());
    }
    recording_ = std::make_unique<RecordingController>(
        *services_.engine, *services_.launcher, widgets, sources_.get(),
        [this](const QString& text) { showMessage(text); },
        services_.clock ? services_.clock : systemClock(),
        RecordingSetup{services_.dataFolder, std::move(encoderFolders), services_.notifier,
                       services_.inhibitor, services_.freeSpace});
}

void MainWindow::createShowPanel() {
    const MainWindowControls& c = controls_;
    shows_ = std::make_unique<ShowPanel>(
        ShowWidgets{this, c.showList, c.showName, c.deleteShowButton}, show_,
        binding_->listEntries(), [this](const QString& text) { showMessage(text); },
        [this](const QString& text) { tell(text); }, services_.dataFolder, services_.arguments);
}

void MainWindow::createLevelMonitoring() {
    meters_ = std::make_unique<MeterPoll>(*services_.engine, *controls_.leftMeter,
                                          *controls_.rightMeter, *controls_.meterPoll,
                                          *controls_.rightPeakHold, *controls_.leftPeakHold);
    monitoring_ = std::make_unique<Monitoring>(
        *services_.engine, *meters_, *controls_.monitorSource, *controls_.monitoringLimit,
        sources_.get(), [this](const QString& text) { showMessage(text); });
    // The meters own their timers and follow the recording; monitoring lends it the engine.
    RecordingController* recording = recording_.get();
    connect(recording, &RecordingController::engineWanted, monitoring_.get(),
            &Monitoring::lendEngineToRecording);
    connect(recording, &RecordingController::engineWanted, meters_.get(),
            &MeterPoll::clearLevelMeters);
    connect(recording, &RecordingController::startFailed, monitoring_.get(),
            &Monitoring::engineReturned);
    connect(recording, &RecordingController::recordingStarted, meters_.get(),
            &MeterPoll::enableTimers);
    connect(recording, &RecordingController::recordingStopped, meters_.get(),
            &MeterPoll::stopPolling);
    connect(recording, &RecordingController::recordingStopped, meters_.get(),
            &MeterPoll::clearLevelMeters);
    connect(recording, &RecordingController::recordingStopped, monitoring_.get(),
            &Monitoring::engineReturned);
}

void MainWindow::connectHandlers() {
    connect(controls_.recordButton, &QPushButton::clicked, this, [this] { startRecording(); });
    connect(controls_.stopButton, &QPushButton::clicked, this,
            [this] { recording_->stopRecording(); });
    connect(controls_.pauseButton, &QPushButton::clicked, this,
            [this] { recording_->togglePause(); });
    connect(controls_.settingsWidthButton, &QPushButton::clicked, this,
            &MainWindow::toggleSettingsWidth);
    connect(controls_.fullWidthButton, &QPushButton::clicked, this, &MainWindow::toggleFullWidth);
    connect(controls_.clockTick, &QTimer::timeout, this, &MainWindow::clockTick);
    connect(controls_.blink, &QTimer::timeout, this, [this] { recording_->blinkTick(); });
    streamProbe_ = new StreamProbe(this);
    connect(streamProbe_, &StreamProbe::answered, this, &MainWindow::suggestStream);
    connect(controls_.webcastAddress, &QLineEdit::editingFinished, this,
            &MainWindow::lookAtWebcastAddress);
    connect(&show_, &CurrentShow::loaded, this, &MainWindow::lookAtWebcastAddress);
    connect(controls_.webcastAddress, &QLineEdit::editingFinished, this,
            &MainWindow::checkTypedWebcastAddress);
    connect(binding_.get(), &ShowBinding::zoneRefused, this, [this](const QString& typed) {
        if (!recording_->isRecording()) {
            controls_.statusLine->setText(QStringLiteral("Unknown time zone: %1").arg(typed));
        }
    });
}

void MainWindow::startUp() {
    if (const auto problem = dataFolderProblem(services_.dataFolder)) {
        showMessage(*problem);
    }
    // The command-line flag and the show list's selection guard start cleared with the show
    // panel; the paused flag and the colours with the recording controller; the peak holds
    // with the meter poll and the monitoring flag with monitoring.
    applyDefaults();
    associateFileType();
    stopAllTimersButTheClock();
    // A server that is not there yet is waited for: the show must be loaded and its schedule
    // running, or a show due before the server comes would never be recorded.
    const MixerStartup mixer =
        startMixer(*services_.mixer, mixer_, [](const std::string&, const std::string&) {});
    InitializeSources(); // without a mixer the list stays empty until the server answers
    meters_->clearLevelMeters();
    shows_->loadCurrentShow();
    shows_->selectCurrentShowInList();
    controls_.clockLabel->setText(clockText(now().time()));
    startedUp_ = true;
    setRecordEveryShow(userSettings().value(QLatin1String(kRecordEveryShowKey), false).toBool());
    loginStart_->watch(show_);
    if (auto handedOver = std::exchange(handedOver_, std::nullopt)) {
        openHandedOver(handedOver->first, handedOver->second);
    }
    if (mixer != MixerStartup::Ready) {
        waitForSoundServer(mixer);
    }
}

void MainWindow::applyDefaults() {
    // The current show starts on the defaults; the source, level and address follow with
    // the sources.
    binding_->showDefaults();
}

void MainWindow::associateFileType() {
    // The desktop passes the file to open as the program's one argument. Failures are
    // silent: nothing else depends on the association.
    const std::filesystem::path program =
        QFile::encodeName(services_.programFolder + QStringLiteral("/KelvoRecorder")).toStdString();
    if (services_.desktop) {
        kelvo::associateFileType(".cia", program, *services_.desktop);
    } else {
        kelvo::associateFileType(".cia", program);
    }
}

void MainWindow::stopAllTimersButTheClock() {
    for (QTimer* timer : {controls_.meterPoll, controls_.rightPeakHold, controls_.leftPeakHold,
                          controls_.blink, controls_.monitoringLimit}) {
        timer->stop();
    }
    // The ticker starts the clock tick just after a whole second and keeps it there;
    // starting Timer1 again afterwards would lose that.
    new SecondTicker(controls_.clockTick);
}

void MainWindow::waitForSoundServer(MixerStartup first) {
    waitingSince_ = now();
    controls_.statusLine->setText(kWaitingForServer);
    serverWait_->start(first);
}

void MainWindow::soundServerAnswered() {
    InitializeSources();
    // A recording that started meanwhile owns the status line.
    if (controls_.statusLine->text() == kWaitingForServer) {
        controls_.statusLine->setText(QStringLiteral("Idle"));
    }
    recording_->retryStart(); // a start waiting for the server need not wait for its timer
}

void MainWindow::soundServerStillAway() {
    // Decided once: a start that was kept for a show waits for the server for good.
    if (!waitingSince_.isValid() || waitingSince_.secsTo(now()) < kServerWaitSeconds) {
        return;
    }
    waitingSince_ = QDateTime();
    if (showDueSoon() || recording_->isRecording() || recording_->retryingShow() ||
        recording_->connectingShow()) {
        return;
    }
    serverWait_->stop();
    shutDown_ = true; // nothing was recorded; the show stays as it was loaded
    if (const char* message = mixerStartupMessage(serverWait_->lastResult())) {
        const CriticalMessage& show =
            services_.mixerErrors ? services_.mixerErrors : CriticalMessage(showCriticalMessageBox);
        show(kMixerErrorTitle, message);
    }
    emit endRequested(1);
}

bool MainWindow::showDueSoon() const {
    if (scheduler_->everyShow()) {
        return true;
    }
    // Every show file, not only those the schedule holds now: the user may switch to one.
    ShowFolderSchedules folder(
        QFile::encodeName(QDir(services_.dataFolder).filePath(kConfigurationsFolder))
            .toStdString());
    folder.setWatching(true);
    std::vector<std::pair<std::string, Schedule>> shows = scheduler_->scheduledShows();
    for (const auto& show : folder.schedules()) {
        shows.push_back(show);
    }
    return showDueWithin(static_cast<std::time_t>(now().toSecsSinceEpoch()), kShowDueSeconds,
                         shows);
}

void MainWindow::InitializeSources() {
    binding_->initializeSources();
}

void MainWindow::saveconfig() {
    shows_->saveconfig();
}

QDateTime MainWindow::now() const {
    return services_.clock ? services_.clock() : QDateTime::currentDateTime();
}

void MainWindow::clockTick() {
    const QDateTime moment = now();
    controls_.clockLabel->setText(clockText(moment.time()));
    const auto seconds = static_cast<std::time_t>(moment.toSecsSinceEpoch());
    feedCurrentShow();
    // A test's clock has no time since boot to tell a suspend from a clock step.
    scheduler_->tick(services_.clock ? ClockReading{seconds, {}, {}} : readSystemClock());
    feedCurrentShow(); // a scheduled start may have switched shows
    openWebcastAhead(seconds);
    updateNextStartHint(seconds);
    recording_->keepAwakeForSchedule(showStartingSoon(seconds));
}

Schedule MainWindow::currentSchedule() const {
    Schedule schedule = scheduleOf(show_.file());
    schedule.zone = show_.timeZone();
    return schedule;
}

void MainWindow::feedCurrentShow() {
    scheduler_->setCurrentShow(shows_->currentShowName(), currentSchedule());
}

void MainWindow::lookAtWebcastAddress() {
    const QString address = QString::fromStdString(show_.file().webcastAddress);
    if (services_.lookAtWebcastAddresses && !address.isEmpty() && !show_.webcast().recordStream &&
        !streamSuggested_.contains(address)) {
        streamProbe_->probe(address);
    }
}

void MainWindow::suggestStream(const QString& address, StreamKind kind) {
    // Only while it still applies: the address is the show's, nothing records, and the
    // line is not telling anything else.
    if (kind == StreamKind::Other || show_.webcast().recordStream ||
        address != QString::fromStdString(show_.file().webcastAddress) ||
        recording_->isRecording() || streamSuggested_.contains(address)) {
        return;
    }
    streamSuggested_.insert(address);
    controls_.statusLine->setText(
        QStringLiteral("%1 is %2: tick \"Record the stream itself (no browser)\" to record it "
                       "without the browser.")
            .arg(address, kind == StreamKind::Stream ? QStringLiteral("an audio stream")
                                                     : QStringLiteral("a playlist of one stream")));
}

void MainWindow::openWebcastAhead(std::time_t now) {
    const WebcastSettings webcast = show_.webcast();
    if (webcast.recordStream || webcast.openEarlySeconds == 0 ||
        show_.file().webcastAddress.empty())
        return;
    const auto next = nextStart(now, {{shows_->currentShowName(), currentSchedule()}});
    if (next && next->in <= webcast.openEarlySeconds) {
        recording_->openWebcastAhead(show_.snapshot(), QDateTime::fromSecsSinceEpoch(next->at));
    }
}

QString MainWindow::showStartingSoon(std::time_t now) const {
    if (!scheduler_->scheduledStartIsNear(now)) {
        return {};
    }
    const auto next = nextStart(now, scheduler_->scheduledShows());
    if (!next) {
        return {};
    }
    return next->show.empty() ? QString::fromLatin1(kDefaultShowName)
                              : QString::fromStdString(readableShowName(next->show));
}

void MainWindow::createEveryShowSchedule() {
    showFolder_ = new ShowFolderSchedules(
        QFile::encodeName(QDir(services_.dataFolder).filePath(kConfigurationsFolder)).toStdString(),
        this);
    scheduledWindow_ = std::make_unique<ScheduledWindow>(*this);
    // What the schedule recorded survives a restart, so no occurrence records twice.
    scheduler_ = std::make_unique<Scheduler>(
        *scheduledWindow_,
        QFile::encodeName(QDir(services_.dataFolder).filePath(QStringLiteral("occurrences")))
            .toStdString());
    connect(showFolder_, &ShowFolderSchedules::changed, this,
            [this] { scheduler_->setShows(showFolder_->schedules()); });

    recordEveryShowAction_ = new QAction(QStringLiteral("Record every show on its schedule"), this);
    recordEveryShowAction_->setObjectName(QStringLiteral("recordEveryShow"));
    recordEveryShowAction_->setCheckable(true);
    connect(recordEveryShowAction_, &QAction::triggered, this, [this](bool on) {
        setRecordEveryShow(on);
        QSettings settings = userSettings();
        settings.setValue(QLatin1String(kRecordEveryShowKey), on);
        settings.sync();
        if (settings.status() != QSettings::NoError) {
            controls_.statusLine->setText(QStringLiteral("The setting could not be saved in %1; it "
                                                         "holds until the program ends.")
                                              .arg(settings.fileName()));
        }
    });
    loginStart_ = new LoginStart(
        loginStartEntryPath(),
        QFile::encodeName(QCoreApplication::applicationFilePath()).toStdString(), userSettings,
        [this](const QString& text) { controls_.statusLine->setText(text); }, this);
    // The X button lies outside the window's visible area; the show list's menu and its Del
    // key delete the selected show as it does. A right-click selects the entry under the
    // mouse first, so what is deleted is what was clicked.
    deleteShowAction_ = new QAction(QStringLiteral("Delete show"), this);
    deleteShowAction_->setObjectName(QStringLiteral("deleteShow"));
    deleteShowAction_->setShortcut(QKeySequence::Delete);
    deleteShowAction_->setShortcutContext(Qt::WidgetShortcut);
    controls_.showList->addAction(deleteShowAction_);
    connect(deleteShowAction_, &QAction::triggered, this, [this] { shows_->deleteSelectedShow(); });
    recordingsAction_ = new QAction(QStringLiteral("Recordings…"), this);
    recordingsAction_->setObjectName(QStringLiteral("openRecordings"));
    recordingsAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    addAction(recordingsAction_);
    connect(recordingsAction_, &QAction::triggered, this, [this] { openRecordings(); });
    controls_.showList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(controls_.showList, &QWidget::customContextMenuRequested, this,
            &MainWindow::showShowListMenu);
}

void MainWindow::showShowListMenu(const QPoint& at) {
    QMenu menu(this);
    menu.addAction(deleteShowAction_);
    menu.addAction(recordingsAction_);
    menu.addSeparator();
    menu.addAction(recordEveryShowAction_);
    menu.addAction(loginStart_->action());
    menu.exec(controls_.showList->viewport()->mapToGlobal(at));
}

void MainWindow::openRecordings() {
    if (!recordingsWindow_) {
        // A window of the main window's own: left open, it must not keep the program running
        // once the main window is closed.
        recordingsWindow_ = std::make_unique<RecordingsWindow>(
            services_.dataFolder, *services_.launcher, *recording_, this);
    }
    // The current show as its recordings name it: the readable name, "Default" for none.
    const ShowSnapshot current = show_.snapshot();
    recordingsWindow_->open(current.readableName.empty()
                                ? QStringLiteral("Default")
                                : QString::fromStdString(current.readableName));
}

bool MainWindow::recordEveryShow() const {
    return recordEveryShowAction_->isChecked();
}

void MainWindow::setRecordEveryShow(bool on) {
    recordEveryShowAction_->setChecked(on);
    // Watching starts with a first read of every show file, which fills the schedules.
    showFolder_->setWatching(on);
    scheduler_->setShows(showFolder_->schedules());
    scheduler_->setEveryShow(on);
}

void MainWindow::startRecording() {
    recording_->startRecording(show_.snapshot());
}

std::string MainWindow::recordingShowName() const {
    if (recording_->isRecording()) {
        return recording_->session()->show.name;
    }
    // A start still being tried, or still connecting, is the schedule's recording: its stop
    // ends the tries.
    const ShowSnapshot* starting = recording_->retryingShow();
    if (!starting) {
        starting = recording_->connectingShow();
    }
    return starting ? starting->name : std::string();
}

void MainWindow::showNotRecorded(const std::string& message) {
    const QString text = QString::fromStdString(message);
    controls_.statusLine->setText(text);
    services_.notifier->notify(text, {});
}

void MainWindow::tell(const QString& text) {
    if (!recording_->isRecording()) {
        controls_.statusLine->setText(text);
    }
    services_.notifier->notify(QString::fromLatin1(kProgramTitle), text);
}

void MainWindow::checkTypedWebcastAddress() {
    const CheckedAddress address =
        checkWebcastAddress(controls_.webcastAddress->text().toStdString());
    if (!address.refusal.empty() && !recording_->isRecording()) {
        controls_.statusLine->setText(QString::fromStdString(address.refusal));
    }
}

void MainWindow::updateNextStartHint(std::time_t seconds) {
    const auto next = nextStart(seconds, scheduler_->scheduledShows());
    const QString hint = next ? QString::fromStdString(nextStartText(*next)) : QString();
    if (controls_.statusLine->toolTip() != hint) {
        controls_.statusLine->setToolTip(hint);
    }
    const bool idle = !recording_->isRecording() && !monitoring_->isMonitoring();
    const QString suffix = idle && !hint.isEmpty() ? QStringLiteral(" - ") + hint : QString();
    QString title = windowTitle();
    // The show loader sets the caption afresh; only a suffix of ours is taken off again.
    if (!captionSuffix_.isEmpty() && title.endsWith(captionSuffix_)) {
        title.chop(captionSuffix_.size());
    }
    captionSuffix_ = suffix;
    if (title + suffix != windowTitle()) {
        setWindowTitle(title + suffix);
    }
}

void MainWindow::openHandedOver(const QByteArrayList& arguments, const QByteArray& workingFolder) {
    if (!startedUp_) {
        handedOver_ = {arguments, workingFolder};
        return;
    }
    if (!arguments.isEmpty()) {
        // The command line is one path, maybe split at blanks, meant from the other start's
        // working folder.
        std::filesystem::path file = arguments.join(' ').toStdString();
        if (file.is_relative() && !workingFolder.isEmpty()) {
            file = std::filesystem::path(workingFolder.toStdString()) / file;
        }
        shows_->openFiles({file});
    }
    if (isMinimized()) {
        showNormal();
    }
    raise();
    activateWindow();
}

void MainWindow::updateFormatDependentLists() {
    binding_->updateFormatDependentLists();
}

void MainWindow::toggleSettingsWidth() {
    if (settingsWidthOpen_) {
        setOuterWidth(kCompactWidthTwips);
        settingsWidthOpen_ = false;
        controls_.settingsWidthButton->setText(QStringLiteral(">>"));
        fullWidthOpen_ = false;
        controls_.fullWidthButton->setText(QStringLiteral(">>"));
    } else {
        setOuterWidth(kSettingsWidthTwips);
        settingsWidthOpen_ = true;
        controls_.settingsWidthButton->setText(QStringLiteral("<<"));
    }
}

void MainWindow::toggleFullWidth() {
    if (fullWidthOpen_) {
        setOuterWidth(kSettingsWidthTwips);
        fullWidthOpen_ = false;
        controls_.fullWidthButton->setText(QStringLiteral(">>"));
    } else {
        setOuterWidth(kFullWidthTwips);
        fullWidthOpen_ = true;
        controls_.fullWidthButton->setText(QStringLiteral("<<"));
    }
}

void MainWindow::setOuterWidth(int twips) {
    // The widths are of the whole window, frame included, as the window manager draws it.
    const int frame = frameGeometry().width() - geometry().width();
    setFixedSize(toPixels(twips) - frame, height());
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (startedUp_ && !shutDown_) {
        shutDown_ = true;
        // A name being typed is dropped, so no late focus loss saves behind the shutdown.
        shows_->cancelNaming();
        // A scheduled show cut short by the program leaving is continued by its next run.
        scheduler_->leaving(static_cast<std::time_t>(now().toSecsSinceEpoch()));
        // The recording ends first, so the WAV file is complete before anything else can
        // go wrong; the show saved last holds what the controls show after both stops.
        recording_->stopRecording(RecordingEnd::Exit);
        monitoring_->stopMonitoring();
        shows_->saveconfig();
    }
    event->accept();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (ShowPanel::carriesFiles(*event->mimeData())) {
        event->acceptProposedAction();
    }
}

void MainWindow::dropEvent(QDropEvent* event) {
    if (startedUp_ && ShowPanel::carriesFiles(*event->mimeData())) {
        shows_->openDroppedFiles(*event->mimeData());
        event->acceptProposedAction();
    }
}

void MainWindow::endSession() {
    endingSession_ = true;
    // A box already open would keep the process alive after the window has closed.
    while (QWidget* modal = QApplication::activeModalWidget()) {
        if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        } else {
            modal->close();
        }
        if (QApplication::activeModalWidget() == modal) {
            break;
        }
    }
    close();
}

void MainWindow::showMessage(const QString& text) {
    if (endingSession_) {
        std::fprintf(stderr, "%s: %s\n", kProgramTitle, text.toLocal8Bit().constData());
        if (services_.endOfSessionNotices) {
            services_.endOfSessionNotices(text);
        }
        return;
    }
    if (services_.messages) {
        services_.messages(text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kProgramTitle), text, QMessageBox::Ok,
                    this);
    box.exec();
}

} // namespace kelvo
