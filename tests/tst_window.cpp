// The window as built and started: layout, indicators, start-up state,
// placement kept between runs.
#include "app/Placement.h"
#include "serial/MSComm.h"
#include "support/FakeClock.h"
#include "support/LampColours.h"
#include "support/TestEnv.h"
#include "support/WindowChecks.h"
#include "support/frmMainProbe.h"
#include "ui/ErrorReport.h"
#include "ui/ProgressBar.h"
#include "ui/Shape.h"
#include "ui/StatusBar.h"
#include "ui/Twips.h"
#include "ui/frmMain.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTimer>
#include <QtTest>

#include <memory>

using WindowChecks::inkWidth;

namespace {

QStringList litLamps(const frmMain& f, const QString& prefix) {
    QStringList lit;
    for (int k = 0; k < 8; ++k) {
        const QString name = prefix + QString::number(k);
        const QRgb c = f.lampColor(name);
        if (c == Rgb::kRed)
            lit << name;
        else if (c != Rgb::kBlack)
            lit << name + "?";
    }
    return lit;
}

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT
    std::unique_ptr<frmMain> form;

    void freshStore() { QFile::remove(TestEnv::placementFile()); }
    std::unique_ptr<frmMain> loaded() { return WindowChecks::startWindow(); }

private slots:
    void initTestCase() {
        TestEnv::isolateUserStore();
        TestEnv::setPortDevice(1, "/nonexistent/velmora-test-com1");
        TestEnv::setPortDevice(2, "/nonexistent/velmora-test-com2");
    }
    void init() {
        freshStore();
        form = loaded();
    }
    void cleanup() { form.reset(); }

    void startupState() {
        frmMain& f = *form;
        QCOMPARE(f.windowTitle(), QString("Velmora"));
        QCOMPARE(f.panelText(StatusPanel::Status), QString("Status:Disconnect"));
        QCOMPARE(f.panelText(StatusPanel::Settings), QString("Settings: 9600,n,8,1"));
        QCOMPARE(f.panelText(StatusPanel::Timer), QString("Timer:"));
        QVERIFY(!f.Transmition->isEnabled());
        QVERIFY(!f.Receive->isEnabled());
        QVERIFY(f.Connect->isEnabled());
        QVERIFY(!f.Timer1->isActive());
        QVERIFY(!f.MSComm1->PortOpen());
        QCOMPARE(f.MSComm1->InputLen(), short(1));
        QCOMPARE(f.MSComm1->InputMode(), short(MSComm::comInputModeText));
        QCOMPARE(f.lampColor("ConnectState"), Rgb::kBlack);
        QCOMPARE(litLamps(f, "LED"), QStringList());
        QCOMPARE(litLamps(f, "TLED"), QStringList());
        QVERIFY(f.COM1->isChecked() && !f.COM2->isChecked());
        QVERIFY(f.BaoudRate9600->isChecked());
        QCOMPARE(f.ProgressBar1->fraction(), 0.0f);
        QCOMPARE(f.MessageText->text(), QString());
        QCOMPARE(f.TransText->text(), QString());
    }

    void layout_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("toolTip");
        QTest::addColumn<QRectF>("twips");
        QTest::addColumn<QString>("type");
        auto row = [](const char* name, const char* parent, const char* caption, const char* tip,
                      QRectF r, const char* type) {
            QTest::newRow(name) << name << parent << caption << tip << r << type;
        };
        row("Frame1", "", "COM port", "Com port selection ", {360, 120, 1695, 1815}, "Frame");
        row("COM1", "", "COM1", "", {720, 480, 1095, 375}, "OptionButton");
        row("COM2", "", "COM2", "", {720, 1080, 1215, 615}, "OptionButton");
        row("Frame2", "", "Baoud rate", "Comport baoud rate setting", {2160, 120, 1815, 1815},
            "Frame");
        row("Frame3", "", "Communication status", "Com port connection status",
            {4080, 120, 1935, 1815}, "Frame");
        row("TLEDState", "", "Transmission LED Status", "", {360, 2040, 5655, 1215}, "Frame");
        row("Frame4", "", "Communication function", "", {360, 3360, 5655, 2175}, "Frame");
        row("TransText", "", "", "", {2160, 3720, 2175, 375}, "TextBox");
        row("Transmition", "", "Transmission", "Transmition from PC to MCU",
            {4680, 3720, 1095, 375}, "CommandButton");
        row("RexText", "", "", "", {2160, 4320, 2175, 375}, "TextBox");
        row("Receive", "", "Receive", "Receive from MCU to PC", {4680, 4320, 1095, 375},
            "CommandButton");
        row("ProgressBar1", "", "", "Communication progress", {2160, 5040, 2175, 255},
            "ProgressBar");
        row("Exit", "", "Exit", "Quit this program", {4680, 4920, 1095, 375}, "CommandButton");
        row("LEDState", "", "Receive LED Status", "", {360, 5640, 5655, 1215}, "Frame");
        row("Message", "", "Message list", "", {360, 6960, 5655, 1215}, "Frame");
        row("BaoudRate4800", "Frame2", "4800", "", {360, 360, 1215, 375}, "OptionButton");
        row("BaoudRate9600", "Frame2", "9600", "", {360, 720, 1335, 495}, "OptionButton");
        row("BaoudRate144000", "Frame2", "14400", "", {360, 1200, 975, 375}, "OptionButton");
        row("ConnectState", "Frame3", "", "", {720, 360, 375, 255}, "Shape");
        row("Connect", "Frame3", "Connect", "Connected COM port", {360, 840, 1095, 375},
            "CommandButton");
        row("Disconnect", "Frame3", "Disconnect", "Disconnected COM port", {360, 1320, 1095, 375},
            "CommandButton");
        row("Label1", "Frame4", "Transmition string :", "", {240, 360, 1335, 375}, "Label");
        row("Label2", "Frame4", "Receive string :", "", {240, 960, 1335, 375}, "Label");
        row("Label3", "Frame4", "Process progress :", "", {240, 1560, 1335, 375}, "Label");
        row("MessageText", "Message", "", "", {240, 360, 5175, 615}, "Label");
        row("LED0", "LEDState", "", "", {4560, 720, 375, 255}, "Shape");
        row("LED7", "LEDState", "", "", {2040, 720, 375, 255}, "Shape");
        row("TLED3", "TLEDState", "", "", {3480, 720, 375, 255}, "Shape");
        row("Label5", "LEDState", "LSB", "", {4560, 360, 375, 255}, "Label");
        row("Label6", "LEDState", "1", "", {4320, 360, 255, 255}, "Label");
        row("Label4", "LEDState", "MSB", "", {2040, 360, 375, 255}, "Label");
        row("Label18", "TLEDState", "LSB", "", {4560, 360, 375, 255}, "Label");
        row("Label16", "TLEDState", "2", "", {3960, 360, 255, 255}, "Label");
        row("Label19", "TLEDState", "MSB", "", {2040, 360, 375, 255}, "Label");
    }
    void layout() {
        QFETCH(QString, name);
        QFETCH(QString, parent);
        QFETCH(QString, caption);
        QFETCH(QString, toolTip);
        QFETCH(QRectF, twips);
        QFETCH(QString, type);
        auto* w = form->findChild<QWidget*>(name);
        QVERIFY2(w, qPrintable(name));
        QCOMPARE(w->parentWidget()->objectName(), parent.isEmpty() ? QString() : parent);
        if (parent.isEmpty()) QCOMPARE(w->parentWidget(), form.get());
        const double dpi = form->logicalDpiX();
        QCOMPARE(w->geometry(),
                 Twips::toPixels(twips.x(), twips.y(), twips.width(), twips.height(), dpi));
        QCOMPARE(w->property("ControlType").toString(), type);
        QCOMPARE(w->toolTip(), toolTip);
        QString shown;
        if (auto* g = qobject_cast<QGroupBox*>(w))
            shown = g->title();
        else if (auto* b = qobject_cast<QAbstractButton*>(w))
            shown = b->text();
        else if (auto* l = qobject_cast<QLabel*>(w))
            shown = l->text();
        else if (auto* t = qobject_cast<QLineEdit*>(w))
            shown = t->text();
        QCOMPARE(shown, caption);
    }

    void geometryFollowsDpi() {
        // 1440 twips are an inch whatever the screen: the designed client area
        // is 6930 x 8655 twips.
        frmMain f;
        const double dpi = f.logicalDpiX();
        QCOMPARE(f.width(), int(std::lround(6930 * dpi / 1440)));
        QCOMPARE(Twips::toPixels(1440, 144), 144);
        QCOMPARE(Twips::toPixels(375, 120), 31);  // 31.25 rounds down
    }

    void overlaysDrawnInFront() {
        // Controls lying over a frame are above it in the stacking order.
        const QObjectList kids = form->children();
        auto index = [&](QObject* o) { return kids.indexOf(o); };
        for (QWidget* over : {static_cast<QWidget*>(form->COM1), static_cast<QWidget*>(form->COM2)})
            QVERIFY(index(over) > index(form->Frame1));
        for (QWidget* over :
             {static_cast<QWidget*>(form->TransText), static_cast<QWidget*>(form->RexText),
              static_cast<QWidget*>(form->ProgressBar1), static_cast<QWidget*>(form->Transmition),
              static_cast<QWidget*>(form->Receive), static_cast<QWidget*>(form->Exit)})
            QVERIFY(index(over) > index(form->Frame4));
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        const QPoint inFrame = form->TransText->geometry().center();
        QCOMPARE(form->childAt(inFrame), static_cast<QWidget*>(form->TransText));
    }

    void tabOrder() {
        // Focus follows the designed tab indexes through the controls that take it.
        const QStringList expected = {"COM1",          "COM2",          "TransText",
                                      "RexText",       "Transmition",   "Receive",
                                      "BaoudRate4800", "BaoudRate9600", "BaoudRate144000",
                                      "Connect",       "Exit",          "Disconnect"};
        QWidget* w = form->COM1;
        QStringList seen;
        for (int i = 0; i < expected.size(); ++i) {
            seen << w->objectName();
            do w = w->nextInFocusChain();
            while (w->focusPolicy() == Qt::NoFocus || !w->objectName().size() ||
                   !w->property("ControlType").isValid());
        }
        QCOMPARE(seen, expected);
    }

    void optionGroups() {
        form->show();
        form->BaoudRate4800->click();
        QVERIFY(form->BaoudRate4800->isChecked() && !form->BaoudRate9600->isChecked());
        QVERIFY(form->COM1->isChecked());  // the port group is untouched
        form->COM2->click();
        QVERIFY(form->COM2->isChecked() && !form->COM1->isChecked());
        QVERIFY(form->BaoudRate4800->isChecked());
    }

    void lampRows_data() {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QStringList>("lit");
        QTest::newRow("empty") << QString() << QStringList();
        QTest::newRow("A") << "A" << QStringList{"0", "6"};
        QTest::newRow("AB, second ignored") << "AB" << QStringList{"0", "6"};
        QTest::newRow("blank 32") << " " << QStringList{"5"};
        QTest::newRow("euro 128") << QString(QChar(0x20AC)) << QStringList{"7"};
        QTest::newRow("y-diaeresis 255")
            << QString(QChar(0xFF)) << QStringList{"0", "1", "2", "3", "4", "5", "6", "7"};
        QTest::newRow("outside page is ?")
            << QString(QChar(0x4E2D)) << QStringList{"0", "1", "2", "3", "4", "5"};
    }
    void lampRows() {
        QFETCH(QString, code);
        QFETCH(QStringList, lit);
        QStringList rx, tx;
        for (const QString& k : lit) rx << "LED" + k, tx << "TLED" + k;
        form->UpdateTLED("\xff");  // every lamp is written on every call
        form->UpdateLED(code);
        QCOMPARE(litLamps(*form, "LED"), rx);
        form->UpdateLED("\xff");
        form->UpdateTLED(code);
        QCOMPARE(litLamps(*form, "TLED"), tx);
    }

    void connectionTimer() {
        FakeClock clock;
        form->setClock(clock.fn());
        frmMainProbe::StartTimer(*form);
        QVERIFY(form->Timer1->isActive());
        QCOMPARE(form->Timer1->interval(), 500);
        QCOMPARE(form->panelText(StatusPanel::Timer),
                 QString("Timer:"));  // first written at the tick

        const struct {
            qint64 seconds;
            const char* text;
        } ticks[] = {{0, "Timer:0:0:0"},
                     {75, "Timer:0:1:15"},
                     {3725, "Timer:1:2:5"},
                     {24 * 3600 + 5, "Timer:24:0:5"},  // whole days stay in the hours
                     {100 * 3600 + 59 * 60 + 59, "Timer:100:59:59"}};
        const QDateTime start = clock.now;
        for (const auto& t : ticks) {
            clock.now = start.addSecs(t.seconds);
            form->Timer1_Timer();
            QCOMPARE(form->panelText(StatusPanel::Timer), QString(t.text));
        }
        clock.now = start.addMSecs(1999);
        form->Timer1_Timer();
        QCOMPARE(form->panelText(StatusPanel::Timer), QString("Timer:0:0:1"));

        // Restarting counts from the second start.
        frmMainProbe::StartTimer(*form);
        clock.now = clock.now.addSecs(3);
        form->Timer1_Timer();
        QCOMPARE(form->panelText(StatusPanel::Timer), QString("Timer:0:0:3"));

        frmMainProbe::StopTimer(*form);
        QVERIFY(!form->Timer1->isActive());
        QCOMPARE(form->panelText(StatusPanel::Timer), QString("Timer:"));
        frmMainProbe::StopTimer(*form);
        QCOMPARE(form->panelText(StatusPanel::Timer), QString("Timer:"));
    }

    void realTimerTicks() {
        frmMainProbe::StartTimer(*form);
        QTRY_VERIFY_WITH_TIMEOUT(form->panelText(StatusPanel::Timer).startsWith("Timer:0:0:"),
                                 2000);
    }

    void textsDrawnAsWritten_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("markup") << "<b>W</b>";
        QTest::newRow("ampersand") << "A&&B&C";
        QTest::newRow("entity") << "&lt;x&gt;";
    }
    void textsDrawnAsWritten() {
        QFETCH(QString, text);
        form->resize(1000, 800);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        frmMainProbe::ShowMessage(*form, text);
        QCOMPARE(form->MessageText->text(), text);
        const int expected = form->MessageText->fontMetrics().horizontalAdvance(text);
        // Markup or mnemonics would draw a visibly shorter text.
        QVERIFY2(
            qAbs(inkWidth(form->MessageText) - expected) <= 4,
            qPrintable(QString("ink %1, text %2").arg(inkWidth(form->MessageText)).arg(expected)));

        auto* panel = form->sbStatusBar->panel(panelKey(StatusPanel::Settings));
        form->sbStatusBar->setPanelText(panelKey(StatusPanel::Settings), text);
        QCOMPARE(form->panelText(StatusPanel::Settings), text);
        const int panelExpected = panel->fontMetrics().horizontalAdvance(text);
        QVERIFY(qAbs(inkWidth(panel) - panelExpected) <= 6 + 2 * panel->frameWidth());

        frmMainProbe::ShowMessage(*form, QString());
        QCOMPARE(inkWidth(form->MessageText), 0);
    }

    void circleShape() {
        Shape s;
        s.resize(40, 20);
        s.setFillColor(QColor(Rgb::kGreen));
        const QImage img = s.grab().toImage();
        auto isFill = [&](int x, int y) { return img.pixel(x, y) == QColor(Rgb::kGreen).rgb(); };
        QVERIFY(isFill(20, 10));  // centre
        QVERIFY(isFill(12, 10));  // inside the 20-pixel circle
        QVERIFY(!isFill(5, 10));  // beyond the diameter min(w, h)
        QVERIFY(!isFill(11, 2));  // the circle's corner region
        QVERIFY(!isFill(20, 0));  // the outline is drawn
        QVERIFY(qGray(img.pixel(20, 0)) < 200);
    }

    void progressBarShowsTenths() {
        ProgressBar bar;
        QVERIFY(!bar.isTextVisible());
        // Every value a wait produces lands on its own tenth; truncation misses many.
        for (int k = 0; k <= 1000; ++k) {
            const float v = float(double(k) / 1000.0 * 100.0);
            bar.setFraction(v);
            QCOMPARE(bar.fraction(), v);
            QCOMPARE(bar.QProgressBar::value(), k);
        }
        bar.setFraction(0.149f);
        QCOMPARE(bar.QProgressBar::value(), 1);
        QVERIFY_THROWS_EXCEPTION(std::exception, bar.setFraction(100.5f));
    }

    void statusBarStaysAtBottom() {
        form->show();
        const QRect before = form->Frame4->geometry();
        const double dpi = form->logicalDpiX();
        for (QSize size : {QSize(300, 250), QSize(900, 700)}) {
            form->resize(size);
            QCOMPARE(form->sbStatusBar->geometry(),
                     QRect(0, size.height() - Twips::toPixels(270, dpi), size.width(),
                           Twips::toPixels(270, dpi)));
            QCOMPARE(form->Frame4->geometry(), before);
        }
        QCOMPARE(form->sbStatusBar->panel(panelKey(StatusPanel::Status))->width(),
                 Twips::toPixels(1440, dpi));
        QCOMPARE(form->sbStatusBar->panel(panelKey(StatusPanel::Settings))->width(),
                 Twips::toPixels(3440, dpi));
        QCOMPARE(form->sbStatusBar->panel(panelKey(StatusPanel::Timer))->width(),
                 Twips::toPixels(1840, dpi));
        QCOMPARE(form->sbStatusBar->panel(panelKey(StatusPanel::Timer))->toolTip(),
                 QString("Communication timer"));
        // Left to right: Status, Settings, Timer.
        QVERIFY(form->sbStatusBar->panel(panelKey(StatusPanel::Status))->x() <
                form->sbStatusBar->panel(panelKey(StatusPanel::Settings))->x());
        QVERIFY(form->sbStatusBar->panel(panelKey(StatusPanel::Settings))->x() <
                form->sbStatusBar->panel(panelKey(StatusPanel::Timer))->x());
    }

    void componentErrorIsReportedAndSurvived() {
        bool ranAfter = false;
        BoxCloser closer;
        auto handler = ErrorReport::guarded(form.get(), [&] {
            throw MSCommError(8012, "The device is not open");
            ranAfter = true;
        });
        handler();
        QCOMPARE(closer.seen.size(), 1);
        QCOMPARE(closer.seen[0].title, QString("Velmora"));
        QVERIFY(closer.seen[0].text.contains("8012"));
        QVERIFY(closer.seen[0].text.contains("The device is not open"));
        QVERIFY(!ranAfter);
    }

    // Placement ----------------------------------------------------------------

    void placementDefaults() {
        const double dpi = form->logicalDpiX();
        QCOMPARE(form->pos(), QPoint(Twips::toPixels(1000, dpi), Twips::toPixels(1000, dpi)));
        QCOMPARE(form->size(), QSize(Twips::toPixels(6500, dpi), Twips::toPixels(6500, dpi)));
    }

    void placementRoundTrip() {
        form->show();
        form->move(123, 77);
        form->resize(501, 611);
        const QRect outer = form->frameGeometry();  // the frame is stored, not the client
        QCOMPARE(outer.topLeft(), QPoint(123, 77));
        form->close();
        QSettings file(TestEnv::placementFile(), QSettings::IniFormat);
        const double dpi = form->logicalDpiX();
        QCOMPARE(file.value("Settings/MainLeft").toString(),
                 QString::number(std::lround(123 * 1440 / dpi)));
        QCOMPARE(file.value("Settings/MainHeight").toString(),
                 QString::number(std::lround(outer.height() * 1440 / dpi)));
        for (int run = 0; run < 3; ++run) {  // stable over any number of restarts
            form = loaded();
            form->show();
            QCOMPARE(form->frameGeometry(), outer);
            form->close();
        }
    }

    void placementStoredValues_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("expectedLeftTwips");
        QTest::newRow("plain") << "1950" << 1950;
        QTest::newRow("negative") << "-60" << -60;
        QTest::newRow("minus zero") << "-0" << 0;
        QTest::newRow("sign fraction exponent") << "+12.5e1" << 125;
        QTest::newRow("capital exponent") << "1.5E3" << 1500;
        QTest::newRow("fraction") << "1500.4" << 1500;
        QTest::newRow("not a number") << "abc" << 1000;
        QTest::newRow("empty") << "" << 1000;
        QTest::newRow("beyond single") << "1e39" << 1000;
        QTest::newRow("nan") << "nan" << 1000;
        QTest::newRow("inf") << "inf" << 1000;
        QTest::newRow("huge negative") << "-1e30" << 1000;
        QTest::newRow("beyond 32767 px") << "600000" << 1000;
        QTest::newRow("trailing junk") << "12px" << 1000;
    }
    void placementStoredValues() {
        QFETCH(QString, stored);
        QFETCH(int, expectedLeftTwips);
        {
            QSettings file(TestEnv::placementFile(), QSettings::IniFormat);
            file.setValue("Settings/MainLeft", stored);
            file.setValue("Settings/MainTop", "300");
        }
        form = loaded();  // never stops start-up
        const double dpi = form->logicalDpiX();
        QCOMPARE(form->pos(),
                 QPoint(Twips::toPixels(expectedLeftTwips, dpi), Twips::toPixels(300, dpi)));
        QCOMPARE(form->panelText(StatusPanel::Status), QString("Status:Disconnect"));
    }

    void minimizedCloseWritesNothing() {
        {
            QSettings file(TestEnv::placementFile(), QSettings::IniFormat);
            file.setValue("Settings/MainLeft", "2000");
        }
        form = loaded();
        form->show();
        form->move(5, 5);
        form->showMinimized();
        QTRY_VERIFY(form->isMinimized());
        form->close();
        QSettings file(TestEnv::placementFile(), QSettings::IniFormat);
        QCOMPARE(file.value("Settings/MainLeft").toString(), QString("2000"));
        QVERIFY(!file.contains("Settings/MainTop"));
    }

    void refusedWriteIsReported() {
        // A store folder that cannot be written: the close still goes ahead.
        const QString dir = QFileInfo(TestEnv::placementFile()).path();
        QDir().mkpath(dir);
        QFile::remove(TestEnv::placementFile());
        QVERIFY(QDir().mkpath(TestEnv::placementFile()));  // a folder where the file belongs
        BoxCloser closer;
        form->show();
        QVERIFY(form->close());
        QDir(TestEnv::placementFile()).removeRecursively();
        QCOMPARE(closer.seen.size(), 1);
        QVERIFY(closer.seen[0].text.contains("75"));
    }

    void exitEndsAtOnce() {
        // A child process: Exit ends it without a close event or a write.
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("VELMORA_EXIT_PROBE", "1");
        p.setProcessEnvironment(env);
        p.start(QCoreApplication::applicationFilePath(), {"exitProbe"});
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        QVERIFY2(!QFile::exists(TestEnv::placementFile()), "Exit wrote the placement");
    }

    void exitProbe() {
        if (qEnvironmentVariableIsEmpty("VELMORA_EXIT_PROBE")) QSKIP("runs only as a child");
        form->show();
        form->move(40, 40);
        QTimer::singleShot(0, form.get(), [this] { form->Exit->click(); });
        QTest::qWait(3000);
        // Still here: Exit did not end the process.
        std::_Exit(3);
    }
};

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
