#include "tests/app/window_fixture.h"

#include <QDropEvent>
#include <QGuiApplication>
#include <QMimeData>
#include <QScreen>
#include <QUrl>

namespace kelvo {
namespace {

ShowRecord morning() {
    ShowRecord r;
    r.startTime = {6, 0, 0};
    r.sampleRate = "22 kHz";
    r.windowLeft = 1500; // 100 pixels
    r.windowTop = 750;
    r.sourceName = "Line In";
    r.inputLevel = 30;
    r.webcastAddress = "http://a.example/live";
    r.wmaQuality = "WMA 64";
    r.weekdays = {0, 1, 1, 1, 1, 1, 0};
    return r;
}

ShowRecord evening() {
    ShowRecord r;
    r.outputFormat = "MPEG Layer 3 (MP3)";
    r.sampleRate = "48 kHz";
    r.windowLeft = 600000; // far beyond every screen
    r.sourceName = "Monitor of Speakers";
    r.inputLevel = 80;
    return r;
}

class ShowPanelTest : public WindowFixture {
protected:
    void startWith(const QString& path) {
        arguments = {QFile::encodeName(path).toStdString()};
        open();
    }
    void typeName(const QString& name, std::optional<Qt::Key> end) {
        QTest::mouseDClick(controls().file1->viewport(), Qt::LeftButton);
        ASSERT_TRUE(controls().text1->hasFocus());
        QTest::keyClicks(controls().text1, name); // replaces the selected current name
        if (end) {
            QTest::keyClick(controls().text1, *end);
        }
    }
    // As the desktop drops: the window is asked first; false when it refused the data.
    bool drop(const QMimeData& data) {
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(&window(), &enter);
        QDropEvent event(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&window(), &event);
        return enter.isAccepted();
    }
    QString caption() { return window().windowTitle(); }
};

TEST_F(ShowPanelTest, FirstStartCreatesAnEmptyDefaultAndClosingWritesOneRecord) {
    open();
    EXPECT_TRUE(showFile("Default").isEmpty());
    EXPECT_EQ(caption(), "Default - KelvoRecorder");
    EXPECT_EQ(listed(), "Default");

    window().move(100, 60);
    window().close();
    EXPECT_EQ(showFile("Default"),
              "\"1:00:00 AM\",\"5:00:00 AM\",\"Windows Wave (WAV)\",\"44.1 kHz "
              "(CD)\",\"64 Kb/sec\",\"2\",1500,900,\"Microphone\",50,\"\",\"\","
              "1,1,1,1,1,1,1\r\n");
}

TEST_F(ShowPanelTest, SwitchingSavesTheOldShowThenLoadsTheNewOneButChoosingItAgainDoesNothing) {
    writeShow("A", morning());
    writeShow("B", evening());
    const QByteArray b = showFile("B");
    startWith(showPath("A"));
    EXPECT_EQ(caption(), "A - KelvoRecorder");
    EXPECT_EQ(controls().combo5->currentText(), "Line In");
    EXPECT_EQ(controls().text4->text(), "http://a.example/live");
    EXPECT_EQ(controls().dtPicker1->text(), "6:00:00 AM");
    EXPECT_FALSE(controls().weekdays[0]->isChecked());
    EXPECT_EQ(window().pos(), QPoint(100, 50));

    controls().slider1->setValue(40);
    QTest::keyClick(controls().file1, Qt::Key_Down);
    QTRY_COMPARE(caption(), QString("B - KelvoRecorder"));
    EXPECT_EQ(savedShow("A").inputLevel, 40);
    EXPECT_EQ(savedShow("A").wmaQuality, "WMA 64") << "written back as loaded";
    EXPECT_EQ(showFile("B"), b);
    // MP3 survives the switch from a show whose sample rate was too low for it.
    EXPECT_EQ(controls().combo2->currentText(), "MPEG Layer 3 (MP3)");
    EXPECT_TRUE(controls().combo4->isEnabled());
    EXPECT_EQ(fakeMixer.selectionWrites.back().second, (std::vector<std::int32_t>{0, 0, 1}));
    EXPECT_EQ(controls().slider1->value(), 80);
    EXPECT_TRUE(controls().weekdays[0]->isChecked());
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(screen.contains(window().frameGeometry().topRight())) << "moved, but reachable";
    EXPECT_EQ(listed(), "B");

    controls().combo1->setCurrentText("8 kHz");
    const QPoint place = window().pos();
    window().shows().showChosen(); // the selected entry is the current show
    EXPECT_EQ(showFile("B"), b);
    EXPECT_EQ(controls().combo1->currentText(), "8 kHz");
    EXPECT_EQ(window().pos(), place);
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
}

TEST_F(ShowPanelTest, NamingSavesTheScreenUnderTheTypedNameAndLoadsItOnce) {
    writeShow("A", morning());
    writeShow("B", evening());
    const QByteArray a = showFile("A");
    startWith(showPath("A"));
    controls().combo1->setCurrentText("11 kHz");
    const std::size_t loads = fakeMixer.selectionWrites.size(); // one per load

    typeName("B", Qt::Key_Return);
    EXPECT_EQ(savedShow("B").sampleRate, "11 kHz");
    EXPECT_EQ(showFile("A"), a) << "the show current before is not saved";
    EXPECT_EQ(caption(), "B - KelvoRecorder");
    EXPECT_EQ(fakeMixer.selectionWrites.size(), loads + 1);
    EXPECT_TRUE(controls().file1->isVisible());
    EXPECT_FALSE(controls().text1->isVisible());
    EXPECT_EQ(listed(), "B");

    typeName("Zzz", Qt::Key_Escape);
    EXPECT_FALSE(showExists("Zzz"));
    EXPECT_EQ(listed(), "B");
    EXPECT_FALSE(controls().text1->isVisible());

    typeName("Evening", std::nullopt);
    controls().text4->setFocus(); // leaving the box commits as Enter does
    EXPECT_EQ(caption(), "Evening - KelvoRecorder");
    EXPECT_EQ(showList(), QStringList({"A", "B", "Evening"}));
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
}

TEST_F(ShowPanelTest, RefusedNamesAreExplainedOnEnterAndDroppedQuietlyOnFocusLoss) {
    open();
    // A real message box takes the focus from the name box; that must not commit again.
    onMessage = [this] { controls().text4->setFocus(); };
    typeName("a/b", Qt::Key_Return);
    EXPECT_EQ(messages, QStringList{"A show name cannot contain \"/\"."});
    EXPECT_TRUE(controls().text1->isVisible()) << "the user may correct the name";
    controls().text1->clear();
    QTest::keyClick(controls().text1, Qt::Key_Return);
    EXPECT_EQ(messages.last(), "Please enter a name for the show.");

    onMessage = nullptr;
    controls().text1->setText("..");
    controls().text4->setFocus();
    EXPECT_EQ(messages.size(), 2) << "focus loss asks nothing";
    EXPECT_FALSE(controls().text1->isVisible());
    EXPECT_EQ(showList(), QStringList{"Default"});
    EXPECT_TRUE(showFile("Default").isEmpty());
}

TEST_F(ShowPanelTest, DeletingTheCurrentShowLoadsTheFirstLeftAndTheLastLeavesDefault) {
    writeShow("b", evening());
    writeShow("A", morning());
    const QByteArray a = showFile("A");
    startWith(showPath("b"));
    EXPECT_EQ(showList(), QStringList({"A", "b"})) << "sorted by name";

    controls().command6->click();
    EXPECT_FALSE(showExists("b"));
    EXPECT_EQ(caption(), "A - KelvoRecorder");
    EXPECT_EQ(controls().combo1->currentText(), "22 kHz");
    EXPECT_EQ(showFile("A"), a) << "neither show was saved";
    EXPECT_EQ(listed(), "A");

    controls().command6->click();
    EXPECT_EQ(showList(), QStringList{"Default"});
    EXPECT_TRUE(showFile("Default").isEmpty());
    EXPECT_EQ(caption(), "Default - KelvoRecorder");
}

TEST_F(ShowPanelTest, CommandLineNamesTheShowByItsFileNameOnly) {
    QTemporaryDir elsewhere;
    writeShow("My Morning.cia", morning());
    writeFile(elsewhere.path() + "/Evening.cia", evening());
    // The desktop may split the path at its blanks: together the arguments are the path.
    arguments = {QFile::encodeName(showPath("My")).toStdString(), "Morning.cia"};
    open();
    EXPECT_EQ(caption(), "My Morning - KelvoRecorder");
    EXPECT_EQ(listed(), "My Morning.cia");
    EXPECT_EQ(controls().combo1->currentText(), "22 kHz");

    arguments = {QFile::encodeName(elsewhere.path() + "/Evening.cia").toStdString()};
    restart();
    EXPECT_EQ(caption(), "Evening - KelvoRecorder");
    EXPECT_TRUE(showFile("Evening.cia").isEmpty()) << "created empty in configurations";
    EXPECT_EQ(controls().combo1->currentText(), "44.1 kHz (CD)");

    arguments = {"\"" + QFile::encodeName(showPath("Evening.cia")).toStdString() + "\""};
    restart();
    EXPECT_EQ(caption(), "Default - KelvoRecorder");
}

TEST_F(ShowPanelTest, DroppedFilesLoadTheLastWithoutSavingTheCurrentShow) {
    QTemporaryDir elsewhere;
    writeFile(elsewhere.path() + "/One", morning());
    writeFile(elsewhere.path() + "/Three.cia", evening());
    open();
    controls().combo1->setCurrentText("8 kHz");

    QMimeData text;
    text.setText(elsewhere.path() + "/One");
    EXPECT_FALSE(drop(text));
    EXPECT_EQ(caption(), "Default - KelvoRecorder");

    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(elsewhere.path() + "/One"),
                   QUrl::fromLocalFile(elsewhere.path() + "/Two"),
                   QUrl::fromLocalFile(elsewhere.path() + "/Three.cia")});
    EXPECT_TRUE(drop(files));
    EXPECT_EQ(caption(), "Three - KelvoRecorder");
    EXPECT_EQ(listed(), "Three.cia");
    EXPECT_TRUE(showFile("Default").isEmpty()) << "the show current before is not written";
    EXPECT_FALSE(showExists("One"));
    EXPECT_EQ(controls().combo1->currentText(), "8 kHz");
}

} // namespace
} // namespace kelvo
