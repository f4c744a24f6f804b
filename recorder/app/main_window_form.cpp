#include "recorder/app/main_window_form.h"

#include "recorder/meters/meter_image.h"
#include "recorder/recording/format_lists.h"
#include "recorder/shows/show_settings.h"
#include "recorder/shows/twips.h"

#include <QAbstractItemView>
#include <QFrame>
#include <QScrollBar>
#include <QTimeZone>

namespace kelvo {

QLocale timeLocale() {
    return QLocale(QLocale::English, QLocale::UnitedStates);
}

namespace {

struct Weekday {
    const char* caption;
    const char* day;
};
const std::array<Weekday, 7> kWeekdayBoxes{{{"S", "Sunday"},
                                            {"M", "Monday"},
                                            {"T", "Tuesday"},
                                            {"W", "Wednesday"},
                                            {"T", "Thursday"},
                                            {"F", "Friday"},
                                            {"S", "Saturday"}}};

QLabel* label(const QString& text, QWidget* parent) {
    return new QLabel(text, parent);
}

QComboBox* list(const QStringList& entries, const QString& tip, QWidget* parent) {
    auto* combo = new QComboBox(parent);
    combo->addItems(entries);
    combo->setToolTip(tip);
    return combo;
}

QComboBox* timeZoneList(QWidget* parent) {
    auto* zones = new QComboBox(parent);
    zones->addItem(QString::fromLatin1(kComputersTimeZone));
    for (const QByteArray& zone : QTimeZone::availableTimeZoneIds()) {
        zones->addItem(QString::fromLatin1(zone));
    }
    // A name may be typed; the binding decides what it is, and the list never grows.
    zones->setEditable(true);
    zones->setInsertPolicy(QComboBox::NoInsert);
    zones->setMaxVisibleItems(20);
    // The box is narrow; its list shows whole names.
    zones->view()->setMinimumWidth(zones->view()->sizeHintForColumn(0) +
                                   zones->view()->verticalScrollBar()->sizeHint().width());
    zones->setToolTip(QStringLiteral("The time zone the start and stop times and the weekdays "
                                     "are read in: the broadcaster's, for a show from another "
                                     "country. Pick one or type its name, such as "
                                     "America/New_York."));
    return zones;
}

QTimeEdit* timePicker(const QTime& time, const QString& tip, QWidget* parent) {
    auto* picker = new QTimeEdit(parent);
    picker->setLocale(timeLocale());
    picker->setDisplayFormat(QString::fromLatin1(kTimeFormat));
    picker->setTime(time);
    picker->setToolTip(tip);
    return picker;
}

class FormBuilder {
public:
    FormBuilder(QWidget& window, double dpi) : window_(window), dpi_(dpi) {}

    MainWindowControls build();

private:
    int toPixels(double twips) const { return twipsToPixels(twips, dpi_); }
    QFrame* panel(const char* name, int left, int top, int width, int height);
    template <typename Widget>
    Widget* place(Widget* widget, const char* name, int left, int top, int width, int height);
    void buildMeterImageHolders();
    void buildClockPanel(QFrame* frame);
    void buildTransportPanel(QFrame* frame);
    void buildStatusPanel(QFrame* frame);
    void buildWeekdayPanel(QFrame* frame);
    void buildSourcePanel(QFrame* frame);
    void buildShowPanel(QFrame* frame);
    void buildOutputPanel(QFrame* frame);
    void buildHiddenControls();
    void buildTimers();

    QWidget& window_;
    double dpi_;
    MainWindowControls controls_{};
};

template <typename Widget>
Widget* FormBuilder::place(Widget* widget, const char* name, int left, int top, int width,
                           int height) {
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(toPixels(left), toPixels(top), toPixels(width), toPixels(height));
    return widget;
}

QFrame* FormBuilder::panel(const char* name, int left, int top, int width, int height) {
    auto* frame = new QFrame(&window_);
    frame->setFrameStyle(QFrame::Box | QFrame::Sunken);
    return place(frame, name, left, top, width, height);
}

MainWindowControls FormBuilder::build() {
    // The design's small, narrow face: the compact window is only 2400 twips wide, and
    // captions such as "Monitor Source" must fit their boxes.
    QFont small = window_.font();
    small.setPointSize(7);
    small.setStretch(QFont::SemiCondensed);
    window_.setFont(small);

    buildMeterImageHolders();
    // Panels from left to right; the status and show panels overlap the ones above them,
    // as designed, so they are created later and lie on top.
    buildClockPanel(panel("Frame1", 15, 0, 1680, 1395));
    buildTransportPanel(panel("Frame2", 1695, 0, 705, 1395));
    buildStatusPanel(panel("Frame4", 15, 1305, 2385, 330));
    buildWeekdayPanel(panel("Frame7", 2400, 0, 525, 1635));
    buildSourcePanel(panel("Frame3", 2925, 0, 2775, 1215));
    buildShowPanel(panel("Frame6", 2925, 1125, 2775, 510));
    buildOutputPanel(panel("Frame5", 5700, 0, 3630, 1635));
    buildHiddenControls();
    buildTimers();
    return controls_;
}

void FormBuilder::buildMeterImageHolders() {
    const QImage meterImage = drawMeterImage();
    for (QLabel** holder : {&controls_.meterImageHolder1, &controls_.meterImageHolder2}) {
        *holder = new QLabel(&window_);
        holdMeterImage(**holder, meterImage);
    }
    controls_.meterImageHolder1->setObjectName(QStringLiteral("Picture3"));
    controls_.meterImageHolder2->setObjectName(QStringLiteral("Picture4"));
}

void FormBuilder::buildClockPanel(QFrame* frame) {
    // The clock and the times sit closer than designed, so that the show's time zone fits
    // below them, where the times are read.
    auto* clock = place(label({}, frame), "Label1", 60, 45, 1560, 330);
    clock->setToolTip(QStringLiteral("This is the current time"));
    clock->setAlignment(Qt::AlignCenter);
    QFont arial(QStringLiteral("Arial"));
    arial.setPointSize(12);
    arial.setBold(true);
    clock->setFont(arial);
    controls_.clockLabel = clock;

    place(label(QStringLiteral("Start"), frame), "Label11", 60, 420, 405, 255);
    controls_.startTime =
        place(timePicker(QTime(1, 0), QStringLiteral("This is when recording will start"), frame),
              "DTPicker1", 465, 405, 1170, 285);
    place(label(QStringLiteral("Stop"), frame), "Label2", 60, 720, 405, 255);
    controls_.stopTime = place(
        timePicker(QTime(5, 0), QStringLiteral("This is the time that recording will stop"), frame),
        "DTPicker3", 465, 705, 1170, 285);
    controls_.timeZone = place(timeZoneList(frame), "ComboZone", 60, 1005, 1575, 285);
}

void FormBuilder::buildTransportPanel(QFrame* frame) {
    const auto button = [&](const char* name, const QString& caption, const QString& tip, int row) {
        auto* b = place(new QPushButton(caption, frame), name, 60, 75 + row * 270, 585, 255);
        b->setToolTip(tip);
        return b;
    };
    controls_.recordButton =
        button("Command1", QStringLiteral("Rec"), QStringLiteral("Starts recording now."), 0);
    controls_.stopButton = button("Command2", QStringLiteral("Stop"),
                                  QStringLiteral("Immediately Stops the current Recording."), 1);
    controls_.pauseButton =
        button("Command3", QStringLiteral("| |"),
               QStringLiteral("Pauses the current recording. Hit again to resume."), 2);
    controls_.settingsWidthButton = button("Command4", QStringLiteral(">>"), {}, 3);
}

void FormBuilder::buildStatusPanel(QFrame* frame) {
    controls_.statusLine = place(label(QStringLiteral("Idle"), frame), "Label6", 60, 45, 2265, 255);
}

void FormBuilder::buildWeekdayPanel(QFrame* frame) {
    for (std::size_t i = 0; i < kWeekdayBoxes.size(); ++i) {
        const QByteArray name = "Check" + QByteArray::number(static_cast<int>(i) + 2);
        auto* box = place(new QCheckBox(QString::fromLatin1(kWeekdayBoxes[i].caption), frame),
                          name.constData(), 75, 30 + static_cast<int>(i) * 225, 420, 225);
        box->setToolTip(QStringLiteral("Check this to record on %1")
                            .arg(QString::fromLatin1(kWeekdayBoxes[i].day)));
        controls_.weekdays[i] = box;
    }
}

void FormBuilder::buildSourcePanel(QFrame* frame) {
    // Meters are drawn in pixels, not twips: only their places follow the design. They copy
    // their bars from the image the holders keep.
    const QImage meterImage = controls_.meterImageHolder1->pixmap().toImage();
    controls_.leftMeter = new LevelMeter(meterImage, frame);
    controls_.leftMeter->setObjectName(QStringLiteral("Picture1"));
    controls_.leftMeter->setToolTip(
        QStringLiteral("This is the live peak value for the Left channel."));
    controls_.leftMeter->move(toPixels(60), toPixels(15));

    auto* slider = place(new QSlider(Qt::Vertical, frame), "Slider1", 225, 0, 330, 1110);
    slider->setRange(0, 100);
    // Position 0 is the loudest and sits at the top; the keys move the thumb the way
    // their arrows point.
    slider->setInvertedAppearance(true);
    slider->setInvertedControls(true);
    slider->setValue(50);
    slider->setToolTip(
        QStringLiteral("This slider allows you to adjust the input level of your source."));
    controls_.inputLevel = slider;

    controls_.rightMeter = new LevelMeter(meterImage, frame);
    controls_.rightMeter->setObjectName(QStringLiteral("Picture2"));
    controls_.rightMeter->setToolTip(
        QStringLiteral("This is the live peak value for the Right channel."));
    controls_.rightMeter->move(toPixels(570), toPixels(15));

    place(label(QStringLiteral("Source"), frame), "Label3", 840, 45, 645, 195);
    controls_.monitorSource = place(new QCheckBox(QStringLiteral("Monitor Source"), frame),
                                    "Check1", 1500, 30, 1215, 225);
    controls_.sourceList = place(
        list({}, QStringLiteral("This allows you to select which sound source to record."), frame),
        "Combo5", 840, 240, 1860, 315);
    place(label(QStringLiteral("Sample Rate"), frame), "Label4", 840, 600, 1110, 195);
    controls_.sampleRate =
        place(list(sampleRateEntries(),
                   QStringLiteral("This is the sample rate at which the source will be recorded."),
                   frame),
              "Combo1", 840, 795, 1110, 315);
    place(label(QStringLiteral("Channels"), frame), "Label12", 2010, 600, 690, 195);
    controls_.channels = place(
        list(channelEntries(), QStringLiteral("2 Channels is Stereo, One is Monophonic"), frame),
        "Combo3", 2010, 795, 450, 315);
    controls_.fullWidthButton =
        place(new QPushButton(QStringLiteral(">>"), frame), "Command5", 2475, 795, 270, 315);
}

void FormBuilder::buildShowPanel(QFrame* frame) {
    place(label(QStringLiteral("Show:"), frame), "Label5", 60, 150, 555, 255);
    auto* shows = place(new QListWidget(frame), "File1", 615, 105, 2100, 315);
    shows->setToolTip(QStringLiteral("Double click to edit show name or use arrows to select "
                                     "settings, then click once to load"));
    shows->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    controls_.showList = shows;
    auto* name = place(new QLineEdit(frame), "Text1", 615, 105, 2100, 315);
    name->setToolTip(QStringLiteral("Enter name of show here, then press enter to save"));
    name->hide();
    controls_.showName = name;
}

void FormBuilder::buildOutputPanel(QFrame* frame) {
    // The format and its quality share the top row, so that the webcast's own settings fit
    // between them and the address.
    place(label(QStringLiteral("Output Format"), frame), "Label9", 120, 45, 1860, 195);
    controls_.outputFormat =
        place(list(outputFormatEntries(),
                   QStringLiteral("This allows you to select the type of file to "
                                  "generate in your soundfiles folder."),
                   frame),
              "Combo2", 120, 240, 1860, 315);
    place(label(QStringLiteral("MP3 Quality"), frame), "Label10", 2040, 45, 1470, 195);
    controls_.mp3Quality =
        place(list(mp3QualityEntries(),
                   QStringLiteral("The data rate to use when encoding MP3 files. "
                                  "Higher is better but bigger."),
                   frame),
              "Combo4", 2040, 240, 1470, 315);
    controls_.mp3Quality->setEnabled(false);

    controls_.recordStream =
        place(new QCheckBox(QStringLiteral("Record the stream itself (no browser)"), frame),
              "CheckStream", 120, 600, 3390, 225);
    controls_.recordStream->setToolTip(
        QStringLiteral("Records the stream at the webcast address itself: no browser is opened, "
                       "and no other sound of this computer gets into the recording."));
    controls_.keepStream =
        place(new QCheckBox(QStringLiteral("Also keep the stream as broadcast"), frame),
              "CheckKeepStream", 300, 825, 3210, 225);
    controls_.keepStream->setToolTip(
        QStringLiteral("Also keeps the stream as it came, without re-encoding, beside the WAV "
                       "file (.mp3, .aac, .ogg or .opus)."));
    auto* early = place(new QSpinBox(frame), "SpinOpenEarly", 120, 1065, 2835, 255);
    early->setRange(0, WebcastSettings::kMaxOpenEarlySeconds);
    early->setSingleStep(30);
    early->setPrefix(QStringLiteral("Open the address "));
    early->setSuffix(QStringLiteral(" s before the start"));
    early->setToolTip(QStringLiteral("For a web page that plays the webcast: the schedule opens "
                                     "it this long before the start, so that the browser plays "
                                     "when the recording begins."));
    controls_.openEarly = early;

    place(label(QStringLiteral("WebCast Address"), frame), "Label7", 120, 1380, 1110, 195);
    controls_.webcastAddress = place(new QLineEdit(frame), "Text4", 1230, 1350, 2280, 255);
    controls_.webcastAddress->setToolTip(
        QStringLiteral("Insert WebCast Address Here, Then Select "
                       "\"Wave\" source. (http://radio.example.com/"
                       "live.m3u)"));
}

// Below the client area's bottom edge: kept in the window and its keyboard order but
// never visible at any width.
void FormBuilder::buildHiddenControls() {
    controls_.deleteShowButton =
        place(new QPushButton(QStringLiteral("X"), &window_), "Command6", 5400, 1725, 255, 240);
    place(label(QStringLiteral("WMA Quality"), &window_), "Label8", 5820, 1800, 1200, 195);
    auto* wma = place(new QComboBox(&window_), "Combo6", 5820, 2010, 1500, 315);
    wma->setEditable(true);
    wma->setEditText(QStringLiteral("WMA"));
    wma->setEnabled(false);
    wma->setToolTip(QStringLiteral("This is the Quality setting for WMA output files."));
    controls_.wmaQuality = wma;
}

void FormBuilder::buildTimers() {
    const auto timer = [this](const char* name, int interval) {
        auto* t = new QTimer(&window_);
        t->setObjectName(QString::fromLatin1(name));
        t->setInterval(interval);
        return t;
    };
    controls_.clockTick = timer("Timer1", 1000);
    controls_.meterPoll = timer("Timer2", 50);
    controls_.rightPeakHold = timer("Timer3", 2000);
    controls_.leftPeakHold = timer("Timer4", 2000);
    controls_.blink = timer("Timer5", 1000);
    controls_.monitoringLimit = timer("Timer8", 60000);
}

} // namespace

MainWindowControls buildMainWindowForm(QWidget& window, double logicalDpi) {
    return FormBuilder(window, logicalDpi).build();
}

} // namespace kelvo
