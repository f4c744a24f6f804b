#include "recorder/app/show_binding.h"

#include "recorder/recording/format_lists.h"
#include "recorder/schedule/schedule_controls.h"
#include "recorder/schedule/zone_clock.h"
#include "recorder/shows/twips.h"
#include "recorder/shows/window_placement.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QScopedValueRollback>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QTimeEdit>

namespace kelvo {

namespace {

QString qText(const std::string& text) {
    return QString::fromStdString(text);
}

std::vector<std::string> texts(const QComboBox& list) {
    std::vector<std::string> entries;
    for (int i = 0; i < list.count(); ++i) {
        entries.push_back(list.itemText(i).toStdString());
    }
    return entries;
}

// Sets the list to the entry with exactly this text (letter case counts); a text that is no
// entry leaves the list as it is.
void setListText(QComboBox& list, const std::string& text) {
    const int index = list.findText(qText(text), Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0) {
        list.setCurrentIndex(index);
    }
}

QTime qTime(TimeOfDay time) {
    return QTime(time.hour, time.minute, time.second);
}

} // namespace

ShowBinding::ShowBinding(CurrentShow& show, const ShowControlWidgets& widgets,
                         RecordingSources& sources, QObject* parent)
    : QObject(parent), show_(show), widgets_(widgets), sources_(sources) {
    const ShowControlWidgets& w = widgets_;
    // A control's change goes into the show; the show then already matches it. Each
    // connection is a plain lambda naming its setter: a generic wrapper capturing a member
    // pointer was miscompiled by GCC 12 under the sanitizers.
    connect(w.startTime, &QTimeEdit::timeChanged, this,
            [this](QTime time) { fromControl([&] { show_.setStartTime(timeOfDay(time)); }); });
    connect(w.stopTime, &QTimeEdit::timeChanged, this,
            [this](QTime time) { fromControl([&] { show_.setStopTime(timeOfDay(time)); }); });
    connect(w.sampleRate, &QComboBox::currentTextChanged, this, [this](const QString& text) {
        fromControl([&] { show_.setSampleRate(text.toStdString()); });
    });
    connect(w.outputFormat, &QComboBox::currentTextChanged, this, [this](const QString& text) {
        fromControl([&] { show_.setOutputFormat(text.toStdString()); });
    });
    connect(w.channels, &QComboBox::currentTextChanged, this, [this](const QString& text) {
        fromControl([&] { show_.setChannels(text.toStdString()); });
    });
    connect(w.mp3Quality, &QComboBox::currentTextChanged, this, [this](const QString& text) {
        fromControl([&] { show_.setMp3Quality(text.toStdString()); });
    });
    connect(w.sourceList, &QComboBox::currentTextChanged, this, [this](const QString& text) {
        fromControl([&] { show_.setSourceName(text.toStdString()); });
    });
    connect(w.inputLevel, &QSlider::valueChanged, this,
            [this](int level) { fromControl([&] { show_.setInputLevel(level); }); });
    connect(w.webcastAddress, &QLineEdit::textChanged, this, [this](const QString& text) {
        fromControl([&] { show_.setWebcastAddress(text.toStdString()); });
    });
    for (int day = 0; day < kWeekdays; ++day) {
        QCheckBox* box = w.weekdays[static_cast<std::size_t>(day)];
        connect(box, &QCheckBox::toggled, this, [this, box, day] {
            fromControl([&] { show_.setWeekday(day, box->checkState() == Qt::Checked); });
        });
    }
    // The three webcast controls make one setting: while the binding shows it they pass
    // through states that are no show's.
    for (QCheckBox* box : {w.recordStream, w.keepStream}) {
        connect(box, &QCheckBox::toggled, this, &ShowBinding::webcastFromControls);
    }
    connect(w.openEarly, &QSpinBox::valueChanged, this, &ShowBinding::webcastFromControls);
    // A pick from the list, or a typed name the list matches, is activated; any other typed
    // name is judged when the typing ends.
    connect(w.timeZone, &QComboBox::activated, this, &ShowBinding::zonePicked);
    connect(w.timeZone->lineEdit(), &QLineEdit::editingFinished, this, &ShowBinding::zoneTyped);
    // Programmatic changes run the rule too, as loading relies on.
    for (QComboBox* list : {w.sampleRate, w.outputFormat}) {
        connect(list, &QComboBox::currentTextChanged, this,
                &ShowBinding::updateFormatDependentLists);
    }

    connect(&show_, &CurrentShow::changed, this, [this](ShowField field) {
        if (!syncing_) {
            QScopedValueRollback<bool> syncing(syncing_, true);
            showField(field);
        }
    });
    connect(&show_, &CurrentShow::loaded, this, &ShowBinding::showLoaded);
}

void ShowBinding::fromControl(const std::function<void()>& update) {
    QScopedValueRollback<bool> syncing(syncing_, true);
    update();
}

void ShowBinding::showDefaults() {
    QScopedValueRollback<bool> syncing(syncing_, true);
    for (const ShowField field : {ShowField::SampleRate, ShowField::OutputFormat,
                                  ShowField::Channels, ShowField::Mp3Quality, ShowField::StartTime,
                                  ShowField::StopTime, ShowField::Weekdays, ShowField::Side}) {
        showField(field);
    }
}

void ShowBinding::initializeSources() {
    QScopedValueRollback<bool> syncing(syncing_, true);
    sources_.fillSourceList();
    if (show_.file().sourceName.empty()) {
        // A first start records the microphone, or the first source of a card that names it
        // otherwise; a name the user chose is never replaced like this.
        const int microphone = widgets_.sourceList->findText(QStringLiteral("Microphone"));
        show_.setSourceName(microphone >= 0 || widgets_.sourceList->count() == 0
                                ? std::string("Microphone")
                                : widgets_.sourceList->itemText(0).toStdString());
    }
    showField(ShowField::SourceName);
    showField(ShowField::InputLevel);
    showField(ShowField::WebcastAddress);
}

void ShowBinding::showLoaded() {
    QScopedValueRollback<bool> syncing(syncing_, true);
    {
        // The format rule waits until both lists are set and then runs once: run between
        // them, it would turn a stored MP3 show back into WAV whenever the show before it had
        // a sample rate too low for MP3.
        const QSignalBlocker formatWaits(widgets_.outputFormat);
        const QSignalBlocker rateWaits(widgets_.sampleRate);
        showField(ShowField::StartTime);
        showField(ShowField::StopTime);
        showField(ShowField::OutputFormat);
        showField(ShowField::Mp3Quality);
        showField(ShowField::SampleRate);
    }
    for (const ShowField field :
         {ShowField::Channels, ShowField::WindowPosition, ShowField::WebcastAddress,
          ShowField::InputLevel, ShowField::WmaQuality, ShowField::SourceName, ShowField::Weekdays,
          ShowField::Side}) {
        showField(field);
    }
    updateFormatDependentLists();
    // The lists were set with their handlers held back: the show takes what they show now.
    show_.setOutputFormat(widgets_.outputFormat->currentText().toStdString());
    show_.setSampleRate(widgets_.sampleRate->currentText().toStdString());
}

void ShowBinding::showField(ShowField field) {
    const ShowControlWidgets& w = widgets_;
    const ShowRecord& file = show_.file();
    switch (field) {
    case ShowField::StartTime:
        w.startTime->setTime(qTime(file.startTime));
        break;
    case ShowField::StopTime:
        w.stopTime->setTime(qTime(file.stopTime));
        break;
    case ShowField::OutputFormat:
        setListText(*w.outputFormat, file.outputFormat);
        break;
    case ShowField::Mp3Quality:
        setListText(*w.mp3Quality, file.mp3Quality);
        break;
    case ShowField::SampleRate:
        setListText(*w.sampleRate, file.sampleRate);
        break;
    case ShowField::Channels:
        setListText(*w.channels, file.channels);
        break;
    case ShowField::WindowPosition:
        showWindowPosition();
        break;
    case ShowField::WebcastAddress:
        w.webcastAddress->setText(qText(file.webcastAddress));
        break;
    case ShowField::InputLevel:
        w.inputLevel->setValue(file.inputLevel);
        break;
    case ShowField::WmaQuality:
        w.wmaQuality->setEditText(qText(file.wmaQuality));
        break;
    case ShowField::SourceName:
        // Shown and applied even when the list shows it already. A name the list lacks stays
        // the show's: it is waited for, and saved as it is.
        sources_.showSource(file.sourceName);
        break;
    case ShowField::Weekdays:
        for (int day = 0; day < kWeekdays; ++day) {
            w.weekdays[static_cast<std::size_t>(day)]->setChecked(
                file.weekdays[static_cast<std::size_t>(day)] == 1);
        }
        break;
    case ShowField::Side:
        showWebcastSettings();
        showTimeZone();
        break;
    }
}

void ShowBinding::showWebcastSettings() {
    const WebcastSettings webcast = show_.webcast();
    widgets_.recordStream->setChecked(webcast.recordStream);
    widgets_.keepStream->setChecked(webcast.keepStream);
    widgets_.openEarly->setValue(webcast.openEarlySeconds);
    enableWebcastControls(webcast.recordStream);
}

void ShowBinding::enableWebcastControls(bool recordStream) {
    // Each applies to one way of recording: the kept copy to the stream, opening early to
    // the browser. Both stay stored whichever way is chosen.
    widgets_.keepStream->setEnabled(recordStream);
    widgets_.openEarly->setEnabled(!recordStream);
}

void ShowBinding::webcastFromControls() {
    if (syncing_) {
        return;
    }
    QScopedValueRollback<bool> syncing(syncing_, true);
    WebcastSettings webcast;
    webcast.recordStream = widgets_.recordStream->isChecked();
    webcast.keepStream = widgets_.keepStream->isChecked();
    webcast.openEarlySeconds = widgets_.openEarly->value();
    show_.setWebcast(webcast);
    enableWebcastControls(webcast.recordStream);
}

void ShowBinding::showTimeZone() {
    QComboBox& list = *widgets_.timeZone;
    const std::string zone = show_.timeZone();
    const int entry =
        zone.empty() ? 0 : list.findText(qText(zone), Qt::MatchExactly | Qt::MatchCaseSensitive);
    list.setCurrentIndex(entry);
    // Also what was typed is replaced. A zone that is no entry (unknown here, or a name the
    // list spells otherwise) is shown as stored.
    list.setEditText(entry >= 0 ? list.itemText(entry) : qText(zone));
    list.lineEdit()->setCursorPosition(0); // a long name shows its region, not its end
}

void ShowBinding::zonePicked(int index) {
    if (syncing_ || index < 0) {
        return;
    }
    QScopedValueRollback<bool> syncing(syncing_, true);
    show_.setTimeZone(index == 0 ? std::string()
                                 : widgets_.timeZone->itemText(index).toStdString());
}

void ShowBinding::zoneTyped() {
    if (syncing_) {
        return;
    }
    QComboBox& list = *widgets_.timeZone;
    const QString typed = list.currentText().trimmed();
    const int entry = list.findText(typed, Qt::MatchFixedString); // letter case aside
    if (typed.isEmpty() || entry == 0) {
        zonePicked(0);
    } else if (entry > 0) {
        zonePicked(entry);
    } else if (typed.toStdString() != show_.timeZone()) {
        if (knownZone(typed.toStdString())) {
            QScopedValueRollback<bool> syncing(syncing_, true);
            show_.setTimeZone(typed.toStdString());
        } else {
            emit zoneRefused(typed);
        }
    }
    QScopedValueRollback<bool> syncing(syncing_, true);
    showTimeZone();
}

void ShowBinding::showWindowPosition() {
    QWidget& window = *widgets_.window;
    const ShowRecord& file = show_.file();
    const QPoint wanted(twipsToPixels(file.windowLeft), twipsToPixels(file.windowTop));
    window.move(reachableWindowPosition(wanted, window.frameGeometry().size()));
    show_.setWindowPosition(pixelsToTwips(window.pos().x()), pixelsToTwips(window.pos().y()));
}

void ShowBinding::updateFormatDependentLists() {
    kelvo::updateFormatDependentLists(
        {widgets_.sampleRate, widgets_.outputFormat, widgets_.mp3Quality, widgets_.wmaQuality});
}

ShowListEntries ShowBinding::listEntries() const {
    return {texts(*widgets_.outputFormat), texts(*widgets_.sampleRate), texts(*widgets_.mp3Quality),
            texts(*widgets_.channels)};
}

} // namespace kelvo
