// The localisation pass: its two number conversions, the numbered-string
// table, the property layer it walks controls through, the pass's rules on a
// window made here with a table that has texts, and the real window after the
// pass with the program's empty table.
#include "app/Conversions.h"
#include "app/Module1.h"
#include "app/ResourceStrings.h"
#include "support/TestEnv.h"
#include "ui/ControlProps.h"
#include "ui/StatusBar.h"
#include "ui/frmMain.h"

#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTabBar>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <QtTest>

#include <charconv>
#include <cmath>
#include <functional>
#include <memory>
#include <optional>

using MaybeNumber = std::optional<qint16>;
Q_DECLARE_METATYPE(MaybeNumber)

namespace {

const MaybeNumber kFails = std::nullopt;

QString repeat(char c, int times) {
    return QString(times, QChar::fromLatin1(c));
}

const char* show(const MaybeNumber& n) {
    static QByteArray text;
    text = n ? QByteArray::number(*n) : QByteArrayLiteral("fails");
    return text.constData();
}

// The texts the rules are tried against.
const ResourceStrings Strings{
    {-3, QStringLiteral("minus three")}, {0, QStringLiteral("zero")},
    {7, QStringLiteral("seven")},        {12, QStringLiteral("twelve")},
    {32767, QStringLiteral("last")},     {40, QString()},
};

// A window made here, with controls as the real one carries them: a
// "ControlType" and a "Tag" on each, fonts and captions set per kind.
struct Sample {
    std::unique_ptr<QWidget> window = std::make_unique<QWidget>();
    QList<QObject*> controls;

    template <class T>
    T* add(T* control, const char* type, const QString& tag = QString()) {
        control->setProperty("ControlType", QString::fromLatin1(type));
        control->setProperty("Tag", tag);
        controls.append(control);
        return control;
    }
    QLabel* label(const QString& tag, QWidget* parent = nullptr) {
        return add(new QLabel(QStringLiteral("label caption"), parent ? parent : window.get()),
                   "Label", tag);
    }
    QPushButton* button(const QString& tag, const QString& tip) {
        auto* b = add(new QPushButton(QStringLiteral("button caption"), window.get()),
                      "CommandButton", tag);
        b->setToolTip(tip);
        return b;
    }
    void apply(const ResourceStrings& table = Strings) {
        ApplyResourceStrings(*window, controls, table);
    }
};

QFont ownFont() {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSizeF(13.5);
    font.setBold(true);
    return font;
}

// What a conversion should give, from the standard library's reading of the
// same text; only for short texts, whose values a double holds exactly enough
// for halves to stay halves.
MaybeNumber reference(const QRegularExpressionMatch& m) {
    if (!m.hasMatch()) return kFails;
    QByteArray number = m.captured(1).toLatin1();
    if (number.startsWith('+')) number.remove(0, 1);
    double value = 0;
    const auto [end, error] = std::from_chars(number.begin(), number.end(), value);
    if (error == std::errc::result_out_of_range) {
        if (m.captured(2).startsWith(u'-')) return qint16(0);  // too small to tell from 0
        return kFails;
    }
    if (error != std::errc() || end != number.end()) return kFails;
    const double rounded = std::nearbyint(value);  // to nearest, halves to even
    if (rounded < -32768 || rounded > 32767) return kFails;
    return qint16(rounded);
}

}  // namespace

class Module1Test : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { TestEnv::isolateUserStore(); }

    void wholeNumber_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<MaybeNumber>("expected");
        const auto row = [](const char* name, const QString& text, MaybeNumber expected) {
            QTest::newRow(name) << text << expected;
        };
        row("12", "12", 12);
        row("blanks around", " 12 ", 12);
        row("tabs around", "\t12\t", 12);
        row("2.5 to even", "2.5", 2);
        row("3.5 to even", "3.5", 4);
        row("-2.5 to even", "-2.5", -2);
        row("0.5 to even", "0.5", 0);
        row("2.5000001 up", "2.5000001", 3);
        row("2.4999999 down", "2.4999999", 2);
        row("exponent", "1e2", 100);
        row("capital exponent", "1E2", 100);
        row("negative exponent", "1250e-2", 12);
        row("exponent with sign", "1e+2", 100);
        row("32767.4", "32767.4", 32767);
        row("32767.5 over", "32767.5", kFails);
        row("32768", "32768", kFails);
        row("-32768", "-32768", -32768);
        row("-32768.5 to even", "-32768.5", -32768);
        row("-32769", "-32769", kFails);
        row("-32767.5 to even", "-32767.5", -32768);
        row("empty", "", kFails);
        row("only blanks", "   ", kFails);
        row("12abc", "12abc", kFails);
        row("abc", "abc", kFails);
        row("plus", "+7", 7);
        row(".5", ".5", 0);
        row("trailing point", "7.", 7);
        row("point alone", ".", kFails);
        row("sign alone", "-", kFails);
        row("minus zero", "-0", 0);
        row("minus small", "-0.4", 0);
        row("leading zeros", "000012", 12);
        row("zero after point", "0.0012e4", 12);
        row("blank after sign", "- 5", kFails);
        row("two points", "1.2.3", kFails);
        row("exponent without digits", "1e", kFails);
        row("exponent sign without digits", "1e+", kFails);
        row("1e400", "1e400", kFails);
        row("1e-400", "1e-400", 0);
        row("0e99999999999999999999", "0e99999999999999999999", 0);
        row("1e-99999999999999999999", "1e-99999999999999999999", 0);
        row("nan", "nan", kFails);
        row("inf", "inf", kFails);
        row("infinity", "-Infinity", kFails);
        row("hex", "0x10", kFails);
        row("inner blank", "1 2", kFails);
        row("full-width digits", QStringLiteral("\uFF11\uFF12"), kFails);
        row("10000 digits", "1" + repeat('0', 9999), kFails);
        row("10000 leading zeros", repeat('0', 10000) + "12", 12);
        row("10000 zeros after point", "0." + repeat('0', 10000) + "9", 0);
        row("10000 digits scaled down", "3" + repeat('0', 10000) + "e-10000", 3);
        row("10000 nines scaled down", repeat('9', 10000) + "e-9995", kFails);
        row("10000-digit exponent", "1e" + repeat('9', 10000), kFails);
        row("10000-digit negative exponent", "1e-" + repeat('9', 10000), 0);
        row("tie after 10000 zeros", "12.5" + repeat('0', 10000), 12);
        row("just above tie after 10000 zeros", "12.5" + repeat('0', 10000) + "1", 13);
    }

    void wholeNumber() {
        QFETCH(QString, text);
        QFETCH(MaybeNumber, expected);
        const MaybeNumber got = parseWholeNumber(text);
        QVERIFY2(got == expected, qPrintable(QStringLiteral("got %1, expected %2")
                                                 .arg(QLatin1StringView(show(got)))
                                                 .arg(QLatin1StringView(show(expected)))));
    }

    void leadingNumber_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<MaybeNumber>("expected");
        const auto row = [](const char* name, const QString& text, MaybeNumber expected) {
            QTest::newRow(name) << text << expected;
        };
        row("12", "12", 12);
        row("12abc", "12abc", 12);
        row("abc", "abc", 0);
        row("empty", "", 0);
        row("leading blanks", "  7 days", 7);
        row("plus", "+7", 7);
        row("minus", "-7x", -7);
        row(".5", ".5", 0);
        row("2.5 to even", "2.5abc", 2);
        row("3.5 to even", "3.5abc", 4);
        row("exponent", "1e2x", 100);
        row("exponent without digits", "12e", 12);
        row("exponent sign without digits", "12e-x", 12);
        row("two points", "1.2.3", 1);
        row("sentence", "Quit this program", 0);
        row("32767.5 over", "32767.5", kFails);
        row("40000", "40000", kFails);
        row("-32768.5 to even", "-32768.5", -32768);
        row("1e400", "1e400", kFails);
        row("1e-400", "1e-400", 0);
        row("nan", "nan", 0);
        row("inf", "inf", 0);
        row("sign alone", "-", 0);
        row("10000 digits", repeat('9', 10000), kFails);
        row("10000-digit exponent", "1e" + repeat('9', 10000) + "x", kFails);
        row("10000 zeros then 5", repeat('0', 10000) + "5 apples", 5);
    }

    void leadingNumber() {
        QFETCH(QString, text);
        QFETCH(MaybeNumber, expected);
        const MaybeNumber got = parseLeadingNumber(text);
        QVERIFY2(got == expected, qPrintable(QStringLiteral("got %1, expected %2")
                                                 .arg(QLatin1StringView(show(got)))
                                                 .arg(QLatin1StringView(show(expected)))));
    }

    void conversionsAgreeWithTheStandardLibrary() {
        static const char Alphabet[] = " \t+-.eE0123456789x";
        const QString number =
            QStringLiteral(R"([+-]?(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eE]([+-]?[0-9]+))?)");
        const QRegularExpression whole(QStringLiteral("^[ \\t]*(%1)[ \\t]*$").arg(number));
        const QRegularExpression leading(QStringLiteral("^[ \\t]*(%1)").arg(number));
        QRandomGenerator random(20240611);
        for (int i = 0; i < 50000; ++i) {
            QString text;
            for (int length = random.bounded(11); length > 0; --length)
                text += QChar::fromLatin1(Alphabet[random.bounded(int(sizeof Alphabet) - 1)]);
            const MaybeNumber expectedWhole = reference(whole.match(text));
            const MaybeNumber leadingMatch = reference(leading.match(text));
            const MaybeNumber expectedLeading = leading.match(text).hasMatch() ? leadingMatch : 0;
            const QByteArray shown = "text \"" + text.toLatin1() + '"';
            QVERIFY2(parseWholeNumber(text) == expectedWhole, shown.constData());
            QVERIFY2(parseLeadingNumber(text) == expectedLeading, shown.constData());
        }
    }

    void missingNumberFails() {
        QVERIFY_THROWS_EXCEPTION(MissingString, ResourceStrings::program().text(20));
        QVERIFY_THROWS_EXCEPTION(MissingString, ResourceStrings::program().text(0));
        QVERIFY_THROWS_EXCEPTION(MissingString, Strings.text(13));
        QCOMPARE(Strings.text(12), QStringLiteral("twelve"));
        QCOMPARE(Strings.text(-3), QStringLiteral("minus three"));
        QCOMPARE(Strings.text(40), QString());  // present, and empty on purpose
    }

    void propertiesByName() {
        Sample s;
        s.window->setWindowTitle(QStringLiteral("title"));
        s.window->setProperty("Tag", QStringLiteral("window tag"));
        Control form(*s.window);
        QCOMPARE(form.typeName(), QStringLiteral("Form"));
        QCOMPARE(form.Caption(), QStringLiteral("title"));
        QCOMPARE(form.Tag(), QStringLiteral("window tag"));
        form.setCaption(QStringLiteral("new title"));
        QCOMPARE(s.window->windowTitle(), QStringLiteral("new title"));

        QLabel* label = s.label(QStringLiteral("5"));
        Control ctl(*label);
        QCOMPARE(ctl.typeName(), QStringLiteral("Label"));
        QCOMPARE(ctl.Tag(), QStringLiteral("5"));
        ctl.setCaption(QStringLiteral("a"));
        QCOMPARE(label->text(), QStringLiteral("a"));
        ctl.setToolTipText(QStringLiteral("tip"));
        QCOMPARE(label->toolTip(), QStringLiteral("tip"));
        QCOMPARE(ctl.ToolTipText(), QStringLiteral("tip"));

        auto* frame = s.add(new QGroupBox(QStringLiteral("f"), s.window.get()), "Frame");
        Control(*frame).setCaption(QStringLiteral("frame title"));
        QCOMPARE(frame->title(), QStringLiteral("frame title"));
        QCOMPARE(Control(*frame).Caption(), QStringLiteral("frame title"));

        auto* option = s.add(new QRadioButton(QStringLiteral("o"), s.window.get()), "OptionButton");
        Control(*option).setCaption(QStringLiteral("option"));
        QCOMPARE(option->text(), QStringLiteral("option"));

        QPushButton* button = s.button(QString(), QStringLiteral("Quit this program"));
        QCOMPARE(Control(*button).Caption(), QStringLiteral("button caption"));
        QCOMPARE(Control(*button).ToolTipText(), QStringLiteral("Quit this program"));

        auto* timer = s.add(new QTimer(s.window.get()), "Timer", QStringLiteral("t"));
        QCOMPARE(Control(*timer).Tag(), QStringLiteral("t"));
        QObject bare;
        QCOMPARE(Control(bare).Tag(), QString());  // no Tag set: empty
        QCOMPARE(Control(bare).typeName(), QStringLiteral("QObject"));
    }

    void missingPropertyFails() {
        Sample s;
        auto* box = s.add(new QLineEdit(QStringLiteral("typed"), s.window.get()), "TextBox");
        auto* shape = s.add(new QWidget(s.window.get()), "Shape");
        auto* bar = s.add(new QWidget(s.window.get()), "ProgressBar");
        auto* status = s.add(new QWidget(s.window.get()), "StatusBar");
        auto* timer = s.add(new QTimer(s.window.get()), "Timer");
        auto* comm = s.add(new QObject(s.window.get()), "MSComm");
        auto* menu = s.add(new QAction(QStringLiteral("Open"), s.window.get()), "Menu");
        auto* gizmo = s.add(new QWidget(s.window.get()), "Gizmo");
        auto* misnamed = s.add(new QPushButton(s.window.get()), "Label");
        QLabel* label = s.label(QString());
        auto* tabs = s.add(new QTabBar(s.window.get()), "TabStrip");
        tabs->addTab(QStringLiteral("tab"));
        auto* tools = s.add(new QToolBar(s.window.get()), "Toolbar");
        tools->addAction(QStringLiteral("tool"));
        auto* view = s.add(new QTreeWidget(s.window.get()), "ListView");
        view->setHeaderLabels({QStringLiteral("column")});
        FontRef F(*s.window);

        struct Case {
            const char* name;
            std::function<void()> access;
        };
        const Case cases[] = {
            {"TextBox Caption", [&] { Control(*box).Caption(); }},
            {"TextBox set Caption", [&] { Control(*box).setCaption(QStringLiteral("x")); }},
            {"Shape Font", [&] { Control(*shape).setFont(F); }},
            {"Shape Caption", [&] { Control(*shape).Caption(); }},
            {"Shape ToolTipText", [&] { Control(*shape).ToolTipText(); }},
            {"ProgressBar Font", [&] { Control(*bar).setFont(F); }},
            {"ProgressBar Caption", [&] { Control(*bar).setCaption(QStringLiteral("x")); }},
            {"StatusBar Caption", [&] { Control(*status).Caption(); }},
            {"Timer Font", [&] { Control(*timer).setFont(F); }},
            {"Timer Caption", [&] { Control(*timer).Caption(); }},
            {"Timer ToolTipText", [&] { Control(*timer).ToolTipText(); }},
            {"MSComm Font", [&] { Control(*comm).setFont(F); }},
            {"MSComm ToolTipText", [&] { Control(*comm).setToolTipText(QStringLiteral("x")); }},
            {"Menu ToolTipText", [&] { Control(*menu).ToolTipText(); }},
            {"Menu Font", [&] { Control(*menu).setFont(F); }},
            {"Form ToolTipText", [&] { Control(*s.window).ToolTipText(); }},
            {"unknown type Caption", [&] { Control(*gizmo).Caption(); }},
            {"unknown type Font", [&] { Control(*gizmo).setFont(F); }},
            {"Label that is no QLabel", [&] { Control(*misnamed).Caption(); }},
            {"Label Tabs", [&] { Control(*label).Tabs(); }},
            {"Label Buttons", [&] { Control(*label).Buttons(); }},
            {"Label ColumnHeaders", [&] { Control(*label).ColumnHeaders(); }},
            {"TabStrip Buttons", [&] { Control(*tabs).Buttons(); }},
            {"Tab Text", [&] { Control(*tabs).Tabs().first().setText(QStringLiteral("x")); }},
            {"Button Text", [&] { Control(*tools).Buttons().first().Text(); }},
            {"ColumnHeader Caption", [&] { Control(*view).ColumnHeaders().first().Caption(); }},
            {"ColumnHeader ToolTipText",
             [&] { Control(*view).ColumnHeaders().first().setToolTipText(QStringLiteral("x")); }},
            {"Font Size 0", [&] { FontRef(*s.window).setSize(0); }},
            {"Font Size negative", [&] { FontRef(*s.window).setSize(-8); }},
        };
        for (const Case& c : cases) {
            bool failed = false;
            try {
                c.access();
            } catch (const PropertyError&) {
                failed = true;
            }
            QVERIFY2(failed, c.name);
        }
        QCOMPARE(box->text(), QStringLiteral("typed"));
        QCOMPARE(misnamed->text(), QString());
    }

    void fontIsTheWindowsOwn() {
        Sample s;
        s.window->setFont(QFont(QStringLiteral("Liberation Sans"), 8));  // as the real window does
        QLabel* label = s.label(QString());
        label->setFont(ownFont());
        FontRef F(*s.window);
        Control(*label).setFont(F);
        QCOMPARE(label->font(), s.window->font());
        QVERIFY(!label->testAttribute(Qt::WA_SetFont));

        // F is the window's font itself: changing it changes the window and every
        // control that uses it, not a copy.
        F.setName(QStringLiteral("DejaVu Serif"));
        F.setSize(17);
        QCOMPARE(s.window->font().family(), QStringLiteral("DejaVu Serif"));
        QCOMPARE(s.window->font().pointSizeF(), 17.0);
        QCOMPARE(F.Name(), QStringLiteral("DejaVu Serif"));
        QCOMPARE(F.Size(), 17.0);
        QCOMPARE(label->font(), s.window->font());

        // A control outside the window can only take the font as it is now.
        QLabel outside;
        outside.setProperty("ControlType", QStringLiteral("Label"));
        Control(outside).setFont(F);
        QCOMPARE(outside.font(), s.window->font());
    }

    void windowCaption_data() {
        QTest::addColumn<QString>("tag");
        QTest::addColumn<QString>("caption");
        QTest::newRow("no tag") << QString() << "Velmora";
        QTest::newRow("12") << "12"
                            << "twelve";
        QTest::newRow("blanks, 11.5 to even") << " 11.5 "
                                              << "twelve";
        QTest::newRow("0") << "0"
                           << "zero";
        QTest::newRow("12abc is no whole number") << "12abc"
                                                  << "Velmora";
        QTest::newRow("missing number") << "13"
                                        << "Velmora";
        QTest::newRow("present, empty text") << "40"
                                             << "";
        QTest::newRow("above 32767") << "40000"
                                     << "Velmora";
    }

    void windowCaption() {
        QFETCH(QString, tag);
        QFETCH(QString, caption);
        Sample s;
        s.window->setWindowTitle(QStringLiteral("Velmora"));
        if (!tag.isNull()) s.window->setProperty("Tag", tag);
        s.apply();
        QCOMPARE(s.window->windowTitle(), caption);
    }

    // One control in a window; its caption and tool tip before and after the pass.
    void controlRules_data() {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("tag");
        QTest::addColumn<QString>("tip");
        QTest::addColumn<QString>("caption");  // after the pass; null where there is none
        QTest::addColumn<QString>("tipAfter");
        const QString unchanged = QStringLiteral("button caption");
        const QString labelCaption = QStringLiteral("label caption");
        const auto row = [](const char* name, const char* type, const QString& tag,
                            const QString& tip, const QString& caption, const QString& tipAfter) {
            QTest::newRow(name) << QString::fromLatin1(type) << tag << tip << caption << tipAfter;
        };
        // Labels: the whole number of Tag; the tool tip is never looked up.
        row("label Tag 12", "Label", "12", "7", "twelve", "7");
        row("label Tag 12abc takes nothing", "Label", "12abc", "", labelCaption, "");
        row("label Tag above 32767", "Label", "40000", "", labelCaption, "");
        row("label Tag 0", "Label", "0", "", "zero", "");
        row("label Tag -3", "Label", "-3", "", "minus three", "");
        row("label Tag 11.5 to even", "Label", "11.5", "", "twelve", "");
        row("label empty Tag", "Label", "", "12", labelCaption, "12");
        row("label missing number", "Label", "13", "", labelCaption, "");
        row("label present empty text", "Label", "40", "", "", "");
        // Every other type: the leading number of Tag and of ToolTipText, if above 0.
        row("button Tag 12abc", "CommandButton", "12abc", "", "twelve", "");
        row("button Tag 12", "CommandButton", "12", "", "twelve", "");
        row("button Tag 12.5abc to even", "CommandButton", "12.5abc", "", "twelve", "");
        row("button Tag above 32767", "CommandButton", "40000", "", unchanged, "");
        row("button Tag 32767", "CommandButton", "32767", "", "last", "");
        row("button Tag 0", "CommandButton", "0", "", unchanged, "");
        row("button Tag -3", "CommandButton", "-3", "", unchanged, "");
        row("button Tag abc", "CommandButton", "abc", "", unchanged, "");
        row("button missing number", "CommandButton", "13", "", unchanged, "");
        row("button tip 7", "CommandButton", "", "7", unchanged, "seven");
        row("button tip 7 days", "CommandButton", "", "7 days", unchanged, "seven");
        row("button tip text", "CommandButton", "", "Quit this program", unchanged,
            "Quit this program");
        row("button tip 0", "CommandButton", "", "0", unchanged, "0");
        row("button tip above 32767", "CommandButton", "", "99999", unchanged, "99999");
        row("button tip missing number", "CommandButton", "", "13", unchanged, "13");
        row("button Tag and tip", "CommandButton", "12", "7", "twelve", "seven");
        row("button tip out of range counts as 0", "CommandButton", "12", "99999", "twelve",
            "99999");
        row("frame Tag 12", "Frame", "12", "7", "twelve", "seven");
        row("option Tag 12", "OptionButton", "12", "", "twelve", "");
        row("text box has no Caption, has a tip", "TextBox", "12", "7", QString(), "seven");
        row("progress bar has a tip", "ProgressBar", "12", "7", QString(), "seven");
        row("shape has neither", "Shape", "12", "7", QString(), "7");
    }

    void controlRules() {
        QFETCH(QString, type);
        QFETCH(QString, tag);
        QFETCH(QString, tip);
        QFETCH(QString, caption);
        QFETCH(QString, tipAfter);

        Sample s;
        QWidget* w = nullptr;
        if (type == u"Label")
            w = s.label(tag);
        else if (type == u"CommandButton")
            w = s.button(tag, QString());
        else if (type == u"Frame")
            w = new QGroupBox(QStringLiteral("button caption"), s.window.get());
        else if (type == u"OptionButton")
            w = new QRadioButton(QStringLiteral("button caption"), s.window.get());
        else if (type == u"TextBox")
            w = new QLineEdit(QStringLiteral("typed"), s.window.get());
        else
            w = new QWidget(s.window.get());
        if (!s.controls.contains(w)) s.add(w, type.toLatin1().constData(), tag);
        w->setToolTip(tip);

        s.apply();
        const Control ctl(*w);
        if (!caption.isNull()) QCOMPARE(ctl.Caption(), caption);
        QCOMPARE(w->toolTip(), tipAfter);
        if (auto* box = qobject_cast<QLineEdit*>(w)) QCOMPARE(box->text(), QStringLiteral("typed"));
    }

    void failingStepSkipsOnlyItself() {
        Sample s;
        s.window->setProperty("Tag", QStringLiteral("7"));
        s.add(new QTimer(s.window.get()), "Timer", QStringLiteral("12"));  // nothing but Tag
        s.add(new QObject(s.window.get()), "MSComm", QStringLiteral("12"));
        auto* box = s.add(new QLineEdit(QStringLiteral("typed"), s.window.get()), "TextBox",
                          QStringLiteral("12"));  // no Caption: only that step fails
        box->setToolTip(QStringLiteral("7"));
        box->setFont(ownFont());
        QLabel* missing = s.label(QStringLiteral("13"));
        QLabel* label = s.label(QStringLiteral("12"));
        QPushButton* button = s.button(QStringLiteral("99999"), QStringLiteral("7"));

        s.apply();
        QCOMPARE(s.window->windowTitle(), QStringLiteral("seven"));
        QCOMPARE(box->toolTip(), QStringLiteral("seven"));
        QCOMPARE(box->font(), s.window->font());
        QCOMPARE(box->text(), QStringLiteral("typed"));
        QCOMPARE(missing->text(), QStringLiteral("label caption"));
        QCOMPARE(label->text(), QStringLiteral("twelve"));
        QCOMPARE(button->text(), QStringLiteral("button caption"));  // Tag out of range
        QCOMPARE(button->toolTip(), QStringLiteral("seven"));        // the tip step still runs
    }

    void fontsFromStrings20And21_data() {
        QTest::addColumn<QString>("name");  // string 20; null: none
        QTest::addColumn<QString>("size");  // string 21; null: none
        QTest::addColumn<QString>("nameAfter");
        QTest::addColumn<double>("sizeAfter");
        QTest::newRow("both") << "DejaVu Serif"
                              << "14"
                              << "DejaVu Serif" << 14.0;
        QTest::newRow("size to even") << "DejaVu Serif"
                                      << " 9.5 "
                                      << "DejaVu Serif" << 10.0;
        QTest::newRow("size not a number") << "DejaVu Serif"
                                           << "14pt"
                                           << "DejaVu Serif" << 8.0;
        QTest::newRow("size 0") << "DejaVu Serif"
                                << "0"
                                << "DejaVu Serif" << 8.0;
        QTest::newRow("size out of range") << "DejaVu Serif"
                                           << "1e9"
                                           << "DejaVu Serif" << 8.0;
        QTest::newRow("no name") << QString() << "14"
                                 << "Liberation Sans" << 14.0;
        QTest::newRow("neither") << QString() << QString() << "Liberation Sans" << 8.0;
    }

    void fontsFromStrings20And21() {
        QFETCH(QString, name);
        QFETCH(QString, size);
        QFETCH(QString, nameAfter);
        QFETCH(double, sizeAfter);
        ResourceStrings table{{12, QStringLiteral("twelve")}};
        if (!name.isNull() && !size.isNull())
            table = ResourceStrings{{20, name}, {21, size}};
        else if (!name.isNull())
            table = ResourceStrings{{20, name}};
        else if (!size.isNull())
            table = ResourceStrings{{21, size}};

        Sample s;
        QFont windowFont(QStringLiteral("Liberation Sans"));
        windowFont.setPointSizeF(8);
        s.window->setFont(windowFont);
        auto* frame = s.add(new QGroupBox(QStringLiteral("Message list"), s.window.get()), "Frame");
        frame->setFont(ownFont());
        QLabel* inFrame = s.label(QString(), frame);
        inFrame->setFont(ownFont());
        QPushButton* button = s.button(QString(), QString());
        auto* shape = s.add(new QWidget(s.window.get()), "Shape");
        QFont shapeFont = ownFont();
        shapeFont.setItalic(true);
        shape->setFont(shapeFont);

        s.apply(table);
        QCOMPARE(s.window->font().family(), nameAfter);
        QCOMPARE(s.window->font().pointSizeF(), sizeAfter);
        for (QWidget* w : {static_cast<QWidget*>(frame), static_cast<QWidget*>(inFrame),
                           static_cast<QWidget*>(button)}) {
            QCOMPARE(w->font(), s.window->font());
            QVERIFY(!w->font().bold());
        }
        QCOMPARE(shape->font(), shapeFont);  // no Font: untouched
    }

    void collectionsAndMenus() {
        Sample s;
        auto* tabs = s.add(new QTabBar(s.window.get()), "TabStrip", QStringLiteral("12"));
        tabs->addTab(QStringLiteral("first"));
        tabs->setTabData(0, QStringLiteral("12"));
        tabs->setTabToolTip(0, QStringLiteral("7"));
        tabs->addTab(QStringLiteral("second"));
        tabs->setTabData(1, QStringLiteral("12abc"));  // not a whole number: stays
        tabs->setTabToolTip(1, QStringLiteral("7 days"));
        tabs->setFont(ownFont());
        auto* tools = s.add(new QToolBar(s.window.get()), "Toolbar");
        QAction* open = tools->addAction(QStringLiteral("Open"));
        open->setToolTip(QStringLiteral("7"));
        QAction* save = tools->addAction(QStringLiteral("Save"));
        save->setToolTip(QStringLiteral("Save the file"));
        auto* view = s.add(new QTreeWidget(s.window.get()), "ListView");
        view->setHeaderLabels({QStringLiteral("a"), QStringLiteral("b")});
        view->headerItem()->setData(0, Qt::UserRole, QStringLiteral("12"));
        auto* menu = s.add(new QAction(QStringLiteral("7"), s.window.get()), "Menu");
        auto* namedMenu = s.add(new QAction(QStringLiteral("Open"), s.window.get()), "Menu");

        s.apply();
        QCOMPARE(tabs->tabText(0), QStringLiteral("twelve"));
        QCOMPARE(tabs->tabToolTip(0), QStringLiteral("seven"));
        QCOMPARE(tabs->tabText(1), QStringLiteral("second"));
        QCOMPARE(tabs->tabToolTip(1), QStringLiteral("7 days"));
        QCOMPARE(tabs->font(), s.window->font());
        QCOMPARE(tools->toolTip(), QString());  // the Toolbar branch reads only its buttons
        QCOMPARE(open->toolTip(), QStringLiteral("seven"));
        QCOMPARE(save->toolTip(), QStringLiteral("Save the file"));
        QCOMPARE(view->headerItem()->text(0), QStringLiteral("twelve"));
        QCOMPARE(view->headerItem()->text(1), QStringLiteral("b"));
        QCOMPARE(menu->text(), QStringLiteral("seven"));
        QCOMPARE(namedMenu->text(), QStringLiteral("Open"));
    }

    void realWindowAfterPass() {
        frmMain window;
        const QList<QObject*> controls = window.controls();
        QVERIFY(!controls.isEmpty());
        const QFont windowFont = window.font();
        const QStringList withFont{"Label", "CommandButton", "OptionButton",
                                   "Frame", "TextBox",       "StatusBar"};
        const QStringList withoutFont{"Shape", "ProgressBar", "Timer", "MSComm"};

        struct Before {
            QString caption, tip, text;
            QFont font;
        };
        QHash<QObject*, Before> before;
        for (QObject* c : controls) {
            const QString type = Control(*c).typeName();
            QVERIFY2(withFont.contains(type) || withoutFont.contains(type), qPrintable(type));
            Before b;
            try {
                b.caption = Control(*c).Caption();
            } catch (const PropertyError&) {
            }
            try {
                b.tip = Control(*c).ToolTipText();
            } catch (const PropertyError&) {
            }
            if (auto* box = qobject_cast<QLineEdit*>(c)) b.text = box->text();
            if (auto* w = qobject_cast<QWidget*>(c)) b.font = w->font();
            before.insert(c, b);
        }
        // The layout's own fonts, which the pass replaces.
        for (QWidget* w :
             {static_cast<QWidget*>(window.Message), static_cast<QWidget*>(window.MessageText),
              static_cast<QWidget*>(window.TransText), static_cast<QWidget*>(window.RexText),
              static_cast<QWidget*>(window.sbStatusBar)})
            QVERIFY2(w->font() != windowFont, qPrintable(w->objectName()));

        ApplyResourceStrings(window);

        QCOMPARE(window.windowTitle(), QStringLiteral("Velmora"));
        QCOMPARE(window.font(), windowFont);
        QCOMPARE(window.Exit->toolTip(), QStringLiteral("Quit this program"));
        QCOMPARE(window.Label1->text(), QStringLiteral("Transmition string :"));
        QCOMPARE(window.TLEDLabel[0]->text(), QStringLiteral("LSB"));
        for (QObject* c : controls) {
            const QByteArray name = c->objectName().toLatin1();
            const Before& b = before[c];
            QString caption, tip;
            try {
                caption = Control(*c).Caption();
            } catch (const PropertyError&) {
            }
            try {
                tip = Control(*c).ToolTipText();
            } catch (const PropertyError&) {
            }
            QVERIFY2(caption == b.caption, name.constData());
            QVERIFY2(tip == b.tip, name.constData());
            if (auto* box = qobject_cast<QLineEdit*>(c))
                QVERIFY2(box->text() == b.text, name.constData());
            auto* w = qobject_cast<QWidget*>(c);
            if (!w) continue;
            if (withFont.contains(Control(*c).typeName()))
                QVERIFY2(w->font() == windowFont && !w->font().bold(), name.constData());
            else
                QVERIFY2(w->font() == b.font, name.constData());
        }
        // The status bar draws its panels in the window's font too.
        for (StatusPanel p : {StatusPanel::Status, StatusPanel::Settings, StatusPanel::Timer})
            QCOMPARE(window.sbStatusBar->panel(panelKey(p))->font(), windowFont);
    }
};

QTEST_MAIN(Module1Test)
#include "tst_module1.moc"
