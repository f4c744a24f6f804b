#include "recorder/app/login_start.h"

#include "recorder/platform/desktop_entry.h"

#include <QAction>
#include <QSettings>

#include <fstream>
#include <iterator>

namespace kelvo {

namespace {

const char* const kStartAtLoginKey = "startAtLogin";
const char* const kStartAtLoginOfferedKey = "startAtLoginOffered";

std::string contentOf(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

} // namespace

LoginStart::LoginStart(std::filesystem::path entry, std::filesystem::path program,
                       Settings settings, Tell tell, QObject* parent)
    : QObject(parent), entry_(std::move(entry)), program_(std::move(program)),
      settings_(std::move(settings)), tell_(std::move(tell)),
      action_(new QAction(QStringLiteral("Start KelvoRecorder when I log in"), this)) {
    action_->setObjectName(QStringLiteral("startAtLogin"));
    action_->setCheckable(true);
    bool on = settings_().value(QLatin1String(kStartAtLoginKey), false).toBool();
    std::error_code error;
    if (on && !std::filesystem::exists(entry_, error)) {
        on = false;
        settings_().setValue(QLatin1String(kStartAtLoginKey), false);
    } else if (on && contentOf(entry_) != loginStartEntry(program_.string())) {
        setStartAtLogin(true, entry_, program_);
    }
    action_->setChecked(on);
    connect(action_, &QAction::triggered, this, &LoginStart::set);
}

void LoginStart::set(bool on) {
    if (const auto problem = setStartAtLogin(on, entry_, program_)) {
        action_->setChecked(!on);
        tell_(QStringLiteral("KelvoRecorder could not %1 its login start in %2: %3")
                  .arg(on ? QStringLiteral("set up") : QStringLiteral("remove"),
                       QString::fromStdString(entry_.string()), QString::fromStdString(*problem)));
        return;
    }
    QSettings settings = settings_();
    settings.setValue(QLatin1String(kStartAtLoginKey), on);
    // Whoever chose either way has seen the setting: no offer after that.
    settings.setValue(QLatin1String(kStartAtLoginOfferedKey), true);
    settings.sync();
    tell_(on ? QStringLiteral("KelvoRecorder starts when you log in, minimized.")
             : QStringLiteral("KelvoRecorder no longer starts when you log in."));
}

void LoginStart::watch(const CurrentShow& show) {
    connect(&show, &CurrentShow::changed, this, [this, &show](ShowField field) {
        if (field == ShowField::Weekdays) {
            offerFor(show);
        }
    });
}

void LoginStart::offerFor(const CurrentShow& show) {
    if (action_->isChecked() ||
        settings_().value(QLatin1String(kStartAtLoginOfferedKey), false).toBool()) {
        return;
    }
    bool ticked = false;
    for (const auto day : show.file().weekdays) {
        ticked = ticked || day == 1;
    }
    if (!ticked) {
        return;
    }
    QSettings settings = settings_();
    settings.setValue(QLatin1String(kStartAtLoginOfferedKey), true);
    settings.sync();
    tell_(QStringLiteral("A show is recorded only while KelvoRecorder runs: to start it when you "
                         "log in, right-click the show list and choose \"Start KelvoRecorder "
                         "when I log in\"."));
}

} // namespace kelvo
