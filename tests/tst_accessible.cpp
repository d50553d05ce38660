// What the window tells a screen reader (the interfaces Qt hands to AT-SPI),
// and the keyboard: Tab into an option group, Return on a button, and the
// assistive toggle action on the options running their handlers.
#include "serial/MSComm.h"
#include "support/LampColours.h"
#include "support/PtyBoard.h"
#include "support/TestEnv.h"
#include "support/WindowChecks.h"
#include "ui/ProgressBar.h"
#include "ui/Shape.h"
#include "ui/StatusBar.h"
#include "ui/frmMain.h"

#include <QAccessible>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include <memory>
#include <optional>

namespace {
QAccessibleInterface* accessibleOf(QObject* o) {
    return QAccessible::queryAccessibleInterface(o);
}
}  // namespace

class AccessibleTest : public QObject {
    Q_OBJECT
    std::unique_ptr<PluggedBoard> com1, com2;
    std::unique_ptr<frmMain> form;

    QString description(QObject* o) { return accessibleOf(o)->text(QAccessible::Description); }

private slots:
    void initTestCase() { TestEnv::isolateUserStore(); }
    void init() {
        com1 = std::make_unique<PluggedBoard>(1);
        com2 = std::make_unique<PluggedBoard>(2);
        form = WindowChecks::startWindow();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    }
    void cleanup() {
        form.reset();
        com1.reset();
        com2.reset();
    }

    // The tree at start-up: role, name and description of each node that
    // Qt's own interfaces would get wrong or leave empty.
    void tree_data() {
        QTest::addColumn<QString>("object");
        QTest::addColumn<int>("role");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("description");
        auto row = [](const QString& object, QAccessible::Role role, const QString& name,
                      const QString& description) {
            QTest::newRow(qPrintable(object)) << object << int(role) << name << description;
        };
        row("", QAccessible::Window, "Velmora", "");
        row("sbStatusBar", QAccessible::StatusBar, "", "");
        row("Status", QAccessible::StaticText, "Status:Disconnect", "Communication status");
        row("Settings", QAccessible::StaticText, "Settings: 9600,n,8,1", "Com port settings");
        row("Timer", QAccessible::StaticText, "Timer:", "Communication timer");
        row("TransText", QAccessible::EditableText, "Transmition string :", "");
        row("RexText", QAccessible::EditableText, "Receive string :", "");
        row("ConnectState", QAccessible::Graphic, "Connection", "not connected");
        row("TLEDState", QAccessible::Grouping, "Transmission LED Status",
            "code 0, 0x00, 00000000");
        row("LEDState", QAccessible::Grouping, "Receive LED Status", "code 0, 0x00, 00000000");
        row("COM1", QAccessible::RadioButton, "COM1", "");
        row("BaoudRate144000", QAccessible::RadioButton, "14400", "");
        const char* captions[8] = {"bit 0 (LSB)", "bit 1", "bit 2", "bit 3",
                                   "bit 4",       "bit 5", "bit 6", "bit 7 (MSB)"};
        for (int k = 0; k < 8; ++k) {
            row(QStringLiteral("TLED%1").arg(k), QAccessible::Graphic,
                QStringLiteral("Transmitted ") + captions[k], "dark");
            row(QStringLiteral("LED%1").arg(k), QAccessible::Graphic,
                QStringLiteral("Received ") + captions[k], "dark");
        }
    }
    void tree() {
        QFETCH(QString, object);
        QFETCH(int, role);
        QFETCH(QString, name);
        QFETCH(QString, description);
        QObject* o = object.isEmpty() ? form.get() : form->findChild<QObject*>(object);
        QVERIFY(o);
        QAccessibleInterface* iface = accessibleOf(o);
        QVERIFY(iface);
        QCOMPARE(int(iface->role()), role);
        QCOMPARE(iface->text(QAccessible::Name), name);
        QCOMPARE(iface->text(QAccessible::Description), description);
        // Reached from the window, as a reader walks the tree.
        QAccessibleInterface* up = iface;
        while (up && up->object() != form.get()) up = up->parent();
        QVERIFY(up);
    }

    void optionsCarryTheirState() {
        QAccessible::State on = accessibleOf(form->BaoudRate9600)->state();
        QAccessible::State off = accessibleOf(form->BaoudRate4800)->state();
        QVERIFY(on.checkable && on.checked && on.focusable);
        QVERIFY(off.checkable && !off.checked);
        QCOMPARE(accessibleOf(form->COM2)->actionInterface()->actionNames().first(),
                 QAccessibleActionInterface::toggleAction());
    }

    void labelsPointAtTheirBoxes() {
        for (auto [label, box] : {std::pair<QLabel*, QWidget*>{form->Label1, form->TransText},
                                  {form->Label2, form->RexText},
                                  {form->Label3, form->ProgressBar1}}) {
            const auto rels = accessibleOf(label)->relations(QAccessible::Labelled);
            QCOMPARE(rels.size(), 1);
            QCOMPARE(rels.first().first->object(), box);
        }
    }

    void lampsAndRowsFollowTheCode_data() {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QList<int>>("lit");
        QTest::addColumn<QString>("row");
        QTest::newRow("A") << "A" << QList<int>{0, 6} << "code 65, 0x41, 01000001";
        QTest::newRow("U") << "U" << QList<int>{0, 2, 4, 6} << "code 85, 0x55, 01010101";
        QTest::newRow("255") << QString(QChar(0xFF)) << QList<int>{0, 1, 2, 3, 4, 5, 6, 7}
                             << "code 255, 0xFF, 11111111";
        QTest::newRow("empty") << "" << QList<int>{} << "code 0, 0x00, 00000000";
    }
    void lampsAndRowsFollowTheCode() {
        QFETCH(QString, code);
        QFETCH(QList<int>, lit);
        QFETCH(QString, row);
        form->UpdateTLED(QStringLiteral("\x01"));  // bit 0 lit beforehand
        form->UpdateLED(QStringLiteral("\x01"));
        for (bool received : {false, true}) {
            received ? form->UpdateLED(code) : form->UpdateTLED(code);
            const auto& lamps = received ? form->LED : form->TLED;
            QCOMPARE(description(received ? form->LEDState : form->TLEDState), row);
            for (int k = 0; k < 8; ++k) {
                QCOMPARE(description(lamps[k]),
                         lit.contains(k) ? QStringLiteral("lit") : QStringLiteral("dark"));
            }
        }
    }

    void connectionLampInWords() {
        QCOMPARE(description(form->ConnectState), QString("not connected"));
        form->Connect->click();
        QVERIFY(form->MSComm1->PortOpen());
        QCOMPARE(description(form->ConnectState), QString("connected"));
        form->ConnectState->setFillColor(QColor(Rgb::kRed));
        QCOMPARE(description(form->ConnectState), QString("port could not be opened again"));
    }

    void progressValueInPercent() {
        QCOMPARE(accessibleOf(form->ProgressBar1)->text(QAccessible::Name),
                 QString("Process progress :"));
        QAccessibleValueInterface* value = accessibleOf(form->ProgressBar1)->valueInterface();
        QVERIFY(value);
        QCOMPARE(value->minimumValue().toDouble(), 0.0);
        QCOMPARE(value->maximumValue().toDouble(), 100.0);
        QCOMPARE(value->currentValue().toDouble(), 0.0);
        form->ProgressBar1->setFraction(37.5f);
        QCOMPARE(value->currentValue().toDouble(), 37.5);
        form->ProgressBar1->setFraction(100.0f);
        QCOMPARE(value->currentValue().toDouble(), 100.0);
    }

    // The toggle action works like a click: the handler runs and the link
    // follows the option shown.
    void toggleActionRunsTheHandler() {
        form->Connect->click();
        QVERIFY(form->MSComm1->PortOpen());
        accessibleOf(form->COM2)
            ->actionInterface()
            ->doAction(QAccessibleActionInterface::toggleAction());
        QVERIFY(form->COM2->isChecked());
        QCOMPARE(form->MSComm1->CommPort(), short(2));
        QVERIFY(form->MSComm1->PortOpen());
        QCOMPARE(form->panelText(StatusPanel::Status), QString("Status:COM2"));
        form->MSComm1->setOutput(QStringLiteral("Z"));
        QCOMPARE(com2->receive(1), QByteArray("Z"));

        accessibleOf(form->BaoudRate4800)
            ->actionInterface()
            ->doAction(QAccessibleActionInterface::toggleAction());
        QVERIFY(form->BaoudRate4800->isChecked());
        QCOMPARE(form->MSComm1->Settings(), QString("4800,n,8,1"));
        QCOMPARE(form->panelText(StatusPanel::Settings), QString("Settings: 4800,n,8,1"));

        // On the selected option it does what a click does there: COM2 is
        // closed and opened again, and the option stays selected.
        com2->hangUp();
        com2 = std::make_unique<PluggedBoard>(2);
        accessibleOf(form->COM2)
            ->actionInterface()
            ->doAction(QAccessibleActionInterface::toggleAction());
        QVERIFY(form->COM2->isChecked());
        QVERIFY(form->MSComm1->PortOpen());
        form->MSComm1->setOutput(QStringLiteral("Y"));
        QCOMPARE(com2->receive(1), QByteArray("Y"));
    }

    void tabLandsOnTheSelectedOption() {
        form->RexText->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), form->BaoudRate9600);
        QTest::keyClick(form->BaoudRate9600, Qt::Key_Space);
        QVERIFY(form->BaoudRate9600->isChecked());
        QCOMPARE(form->MSComm1->Settings(), QString("9600,n,8,1"));
        QTest::keyClick(form->BaoudRate9600, Qt::Key_Down);
        QVERIFY(form->BaoudRate144000->isChecked());
        QCOMPARE(form->panelText(StatusPanel::Settings), QString("Settings: 14400,n,8,1"));

        form->Exit->setFocus();
        QTest::keyClick(form->Exit, Qt::Key_Tab, Qt::ShiftModifier);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget(), form->BaoudRate144000);
    }

    void returnClicksTheFocusedButton() {
        form->Connect->setFocus();
        QTest::keyClick(form->Connect, Qt::Key_Return);
        QVERIFY(form->MSComm1->PortOpen());
        form->Disconnect->setFocus();
        QTest::keyClick(form->Disconnect, Qt::Key_Enter, Qt::KeypadModifier);
        QVERIFY(!form->MSComm1->PortOpen());
        // Ctrl+Return is not a click.
        form->Connect->setFocus();
        QTest::keyClick(form->Connect, Qt::Key_Return, Qt::ControlModifier);
        QVERIFY(!form->MSComm1->PortOpen());
        for (QPushButton* b : {form->Connect, form->Disconnect, form->Exit})
            QVERIFY(!b->isDefault() && !b->autoDefault());
    }

    // In a short window every point of the status bar shows the bar.
    void statusBarInFront() {
        QVERIFY(form->sbStatusBar->autoFillBackground());
        form->resize(form->width(), 355);
        QTRY_COMPARE(form->sbStatusBar->y(), 355 - form->sbStatusBar->height());
        const QRect bar = form->sbStatusBar->geometry();
        int covered = 0;
        for (QWidget* w : form->findChildren<QWidget*>()) {
            const QRect over = w->geometry()
                                   .translated(w->parentWidget()->mapTo(form.get(), QPoint()))
                                   .intersected(bar);
            if (w == form->sbStatusBar || form->sbStatusBar->isAncestorOf(w) || over.isEmpty())
                continue;
            ++covered;
            QWidget* seen = form->childAt(over.center());
            QVERIFY2(seen == form->sbStatusBar || form->sbStatusBar->isAncestorOf(seen),
                     qPrintable(w->objectName()));
        }
        QVERIFY(covered > 0);  // the case has controls under the bar
    }
};

QTEST_MAIN(AccessibleTest)
#include "tst_accessible.moc"
