// The window's controls, built from the designed layout (all in twips).
#include "serial/MSComm.h"
#include "ui/Accessibility.h"
#include "ui/AppInfo.h"
#include "ui/ErrorReport.h"
#include "ui/ProgressBar.h"
#include "ui/Shape.h"
#include "ui/StatusBar.h"
#include "ui/Twips.h"
#include "ui/frmMain.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <algorithm>
#include <limits>

namespace {

struct Place {
    double left, top, width, height;
    int tab;  // -1: takes no part in the tab order
};

struct Designed {
    QWidget* widget;
    int tab;
};

// The layout was drawn for a small 8-point sans-serif font; Liberation Sans has
// the metrics of the fonts the captions were sized for.
QFont designFont(double points, bool bold) {
    QFont font(QStringLiteral("Liberation Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

// The fonts the layout gives five controls; the localisation pass at start-up
// replaces them with the window's.
QFont layoutOwnFont(double points) {
    // Linux has no MS Sans Serif; without a substitute every lookup of it
    // falls through to fontconfig's slow fallback search at start-up.
    static const bool substituted = (QFont::insertSubstitution(QStringLiteral("MS Sans Serif"),
                                                               QStringLiteral("Liberation Sans")),
                                     true);
    Q_UNUSED(substituted);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(true);
    return font;
}

// An explicit group per set of options: Qt's automatic exclusivity searches all
// descendants of the parent, so the window's port options would clear the
// speed options nested in their frame.
void group(QObject* owner, std::initializer_list<QRadioButton*> options) {
    auto* group = new QButtonGroup(owner);
    for (QRadioButton* option : options) group->addButton(option);
    // Tab enters a group at its selected option; the arrows move inside it.
    // Qt arranges this only when an option takes the focus, so an option
    // selected otherwise (at start, by an assistive action) would leave Tab
    // landing on the group's first option.
    QObject::connect(group, &QButtonGroup::buttonToggled, owner, [group](QAbstractButton*, bool) {
        QAbstractButton* selected = group->checkedButton();
        for (QAbstractButton* b : group->buttons())
            b->setFocusPolicy(!selected || b == selected ? Qt::StrongFocus : Qt::ClickFocus);
    });
}

// The text boxes and the progress bar take their names from the labels on
// their rows: Qt looks for a buddy label only beside a control, and these lie
// in a frame.
void nameFromLabels(frmMain& form) {
    form.TransText->setAccessibleName(form.Label1->text());
    form.RexText->setAccessibleName(form.Label2->text());
    form.ProgressBar1->setAccessibleName(form.Label3->text());
}

// Return and Enter click the focused command button, as on the platform the
// layout comes from; Qt leaves them to default buttons, which are drawn
// differently. The names from the labels are taken again when the window is
// shown, after the localisation pass.
class WindowEvents : public QObject {
public:
    explicit WindowEvents(frmMain* form) : QObject(form), m_form(form) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == m_form && event->type() == QEvent::Show) {
            nameFromLabels(*m_form);
            return false;
        }
        if (event->type() != QEvent::KeyPress) return false;
        auto* button = qobject_cast<QPushButton*>(watched);
        const auto* key = static_cast<QKeyEvent*>(event);
        if (!button || (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) ||
            (key->modifiers() & ~Qt::KeypadModifier) || key->isAutoRepeat())
            return false;
        button->click();
        return true;
    }

private:
    frmMain* m_form;
};

}  // namespace

frmMain::frmMain(QWidget* parent) : QWidget(parent), m_now(&QDateTime::currentDateTime) {
    Accessibility::installFactory();
    setWindowTitle(QString::fromLatin1(kAppTitle));
    setFont(designFont(8.0, false));
    buildLayout();
    connectHandlers();
    auto* events = new WindowEvents(this);
    installEventFilter(events);
    for (QPushButton* b : {Connect, Disconnect, Transmition, Receive, Exit})
        b->installEventFilter(events);
}

frmMain::~frmMain() = default;

void frmMain::buildLayout() {
    const double dpi = Twips::dpi(this);
    QList<Designed> tabbed;

    auto place = [&](auto* w, const char* name, const char* type, const Place& at) {
        w->setObjectName(QString::fromLatin1(name));
        w->setProperty("ControlType", QString::fromLatin1(type));
        w->setProperty("Tag", QString());
        w->setGeometry(Twips::toPixels(at.left, at.top, at.width, at.height, dpi));
        if (at.tab >= 0) tabbed.append({w, at.tab});
        m_controls.append(w);
        return w;
    };
    auto frame = [&](QWidget* parent, const char* name, const char* caption, const char* tip,
                     const Place& at) {
        auto* f = place(new QGroupBox(QString::fromLatin1(caption), parent), name, "Frame", at);
        f->setToolTip(QString::fromLatin1(tip));
        return f;
    };
    auto option = [&](QWidget* parent, const char* name, const char* caption, const Place& at) {
        return place(new QRadioButton(QString::fromLatin1(caption), parent), name, "OptionButton",
                     at);
    };
    auto button = [&](QWidget* parent, const char* name, const char* caption, const char* tip,
                      const Place& at) {
        auto* b =
            place(new QPushButton(QString::fromLatin1(caption), parent), name, "CommandButton", at);
        b->setToolTip(QString::fromLatin1(tip));
        b->setAutoDefault(false);
        return b;
    };
    auto label = [&](QWidget* parent, const char* name, const char* caption, const Place& at) {
        auto* l = place(new QLabel(QString::fromLatin1(caption), parent), name, "Label", at);
        l->setTextFormat(Qt::PlainText);
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        l->setWordWrap(true);
        return l;
    };
    auto textBox = [&](const char* name, const Place& at) {
        auto* t = place(new QLineEdit(this), name, "TextBox", at);
        t->setMaxLength(std::numeric_limits<int>::max());
        return t;
    };
    auto lamp = [&](QWidget* parent, const char* name, const Place& at) {
        return place(new Shape(parent), name, "Shape", at);
    };

    Frame1 = frame(this, "Frame1", "COM port", "Com port selection ", {360, 120, 1695, 1815, 8});
    COM1 = option(this, "COM1", "COM1", {720, 480, 1095, 375, 1});
    COM2 = option(this, "COM2", "COM2", {720, 1080, 1215, 615, 2});
    group(this, {COM1, COM2});
    COM1->setChecked(true);  // after grouping, or the group's keyboard focus misses it

    Frame2 = frame(this, "Frame2", "Baoud rate", "Comport baoud rate setting",
                   {2160, 120, 1815, 1815, 9});
    BaoudRate4800 = option(Frame2, "BaoudRate4800", "4800", {360, 360, 1215, 375, 10});
    BaoudRate9600 = option(Frame2, "BaoudRate9600", "9600", {360, 720, 1335, 495, 11});
    BaoudRate144000 = option(Frame2, "BaoudRate144000", "14400", {360, 1200, 975, 375, 12});
    group(this, {BaoudRate4800, BaoudRate9600, BaoudRate144000});
    BaoudRate9600->setChecked(true);

    Frame3 = frame(this, "Frame3", "Communication status", "Com port connection status",
                   {4080, 120, 1935, 1815, 13});
    ConnectState = lamp(Frame3, "ConnectState", {720, 360, 375, 255, -1});
    ConnectState->setFillColor(Lamp::kRed);
    ConnectState->setAccessibleName(QStringLiteral("Connection"));
    ConnectState->setStateWords({{Lamp::kBlack, QStringLiteral("not connected")},
                                 {Lamp::kGreen, QStringLiteral("connected")},
                                 {Lamp::kRed, QStringLiteral("port could not be opened again")}});
    Connect = button(Frame3, "Connect", "Connect", "Connected COM port", {360, 840, 1095, 375, 14});
    Disconnect = button(Frame3, "Disconnect", "Disconnect", "Disconnected COM port",
                        {360, 1320, 1095, 375, 22});

    // A bit row: lamp k at Left 4560 - 360k, bit 0 at the right; the labels of
    // bits 1 to 6 stand 120 twips right of their lamp.
    struct BitLabel {
        const char* caption;
        double left, width;
        const char* receivedName;
        int receivedTab;
        const char* transmittedName;
        int transmittedTab;
    };
    static constexpr BitLabel bitLabels[8] = {
        {"LSB", 4560, 375, "Label5", 25, "Label18", 39},
        {"1", 4320, 255, "Label6", 26, "Label17", 38},
        {"2", 3960, 255, "Label7", 27, "Label16", 37},
        {"3", 3600, 375, "Label8", 28, "Label15", 36},
        {"4", 3240, 375, "Label9", 29, "Label14", 35},
        {"5", 2880, 375, "Label10", 30, "Label13", 34},
        {"6", 2520, 375, "Label11", 31, "Label12", 33},
        {"MSB", 2040, 375, "Label4", 24, "Label19", 40},
    };
    static constexpr const char* receivedLamps[8] = {"LED0", "LED1", "LED2", "LED3",
                                                     "LED4", "LED5", "LED6", "LED7"};
    static constexpr const char* transmittedLamps[8] = {"TLED0", "TLED1", "TLED2", "TLED3",
                                                        "TLED4", "TLED5", "TLED6", "TLED7"};
    auto bitRow = [&](QGroupBox* rowFrame, bool received, std::array<Shape*, 8>& lamps,
                      std::array<QLabel*, 8>& labels) {
        for (int k = 0; k < 8; ++k) {
            const BitLabel& b = bitLabels[k];
            labels[k] =
                label(rowFrame, received ? b.receivedName : b.transmittedName, b.caption,
                      {b.left, 360, b.width, 255, received ? b.receivedTab : b.transmittedTab});
            lamps[k] = lamp(rowFrame, received ? receivedLamps[k] : transmittedLamps[k],
                            {4560.0 - 360.0 * k, 720, 375, 255, -1});
            QString name =
                QStringLiteral("%1 bit %2")
                    .arg(received ? QStringLiteral("Received") : QStringLiteral("Transmitted"))
                    .arg(k);
            if (k == 0 || k == 7) name += QStringLiteral(" (%1)").arg(QLatin1String(b.caption));
            lamps[k]->setAccessibleName(name);
            lamps[k]->setStateWords(
                {{Lamp::kBlack, QStringLiteral("dark")}, {Lamp::kRed, QStringLiteral("lit")}});
        }
    };

    TLEDState =
        frame(this, "TLEDState", "Transmission LED Status", "", {360, 2040, 5655, 1215, 32});
    bitRow(TLEDState, false, TLED, TLEDLabel);

    Frame4 = frame(this, "Frame4", "Communication function", "", {360, 3360, 5655, 2175, 16});
    Label1 = label(Frame4, "Label1", "Transmition string :", {240, 360, 1335, 375, 17});
    Label2 = label(Frame4, "Label2", "Receive string :", {240, 960, 1335, 375, 18});
    Label3 = label(Frame4, "Label3", "Process progress :", {240, 1560, 1335, 375, 19});
    TransText = textBox("TransText", {2160, 3720, 2175, 375, 3});
    TransText->setFont(layoutOwnFont(13.5));
    Transmition = button(this, "Transmition", "Transmission", "Transmition from PC to MCU",
                         {4680, 3720, 1095, 375, 5});
    RexText = textBox("RexText", {2160, 4320, 2175, 375, 4});
    RexText->setFont(layoutOwnFont(12.0));
    Label1->setBuddy(TransText);
    Label2->setBuddy(RexText);
    Receive =
        button(this, "Receive", "Receive", "Receive from MCU to PC", {4680, 4320, 1095, 375, 6});
    ProgressBar1 =
        place(new ProgressBar(this), "ProgressBar1", "ProgressBar", {2160, 5040, 2175, 255, 7});
    ProgressBar1->setToolTip(QStringLiteral("Communication progress"));
    Label3->setBuddy(ProgressBar1);
    nameFromLabels(*this);
    Exit = button(this, "Exit", "Exit", "Quit this program", {4680, 4920, 1095, 375, 15});

    LEDState = frame(this, "LEDState", "Receive LED Status", "", {360, 5640, 5655, 1215, 23});
    bitRow(LEDState, true, LED, LEDLabel);

    Message = frame(this, "Message", "Message list", "", {360, 6960, 5655, 1215, 20});
    Message->setFont(layoutOwnFont(8.25));
    MessageText = label(Message, "MessageText", "", {240, 360, 5175, 615, 21});
    MessageText->setFont(layoutOwnFont(13.5));

    sbStatusBar = place(new StatusBar(this), "sbStatusBar", "StatusBar", {0, 8385, 6930, 270, 0});
    sbStatusBar->setFont(layoutOwnFont(8.25));
    sbStatusBar->addPanel(panelKey(StatusPanel::Status), QStringLiteral("Status:"),
                          QStringLiteral("Communication status"), Twips::toPixels(1440, dpi));
    sbStatusBar->addPanel(panelKey(StatusPanel::Settings), QStringLiteral("Settings:"),
                          QStringLiteral("Com port settings"), Twips::toPixels(3440, dpi));
    sbStatusBar->addPanel(panelKey(StatusPanel::Timer), QStringLiteral("Timer:"),
                          QStringLiteral("Communication timer"), Twips::toPixels(1840, dpi));

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setProperty("ControlType", QStringLiteral("Timer"));
    Timer1->setProperty("Tag", QString());
    Timer1->setInterval(500);
    Timer1->start();  // enabled at creation; start-up stops it before any tick
    m_controls.append(Timer1);

    MSComm1 = new MSComm(this);
    MSComm1->setObjectName(QStringLiteral("MSComm1"));
    MSComm1->setProperty("ControlType", QStringLiteral("MSComm"));
    MSComm1->setProperty("Tag", QString());
    m_controls.append(MSComm1);

    // Controls lying over a frame without belonging to it are drawn in front,
    // and the status bar in front of everything: a short window has controls
    // under it.
    for (QWidget* w : {static_cast<QWidget*>(COM1), static_cast<QWidget*>(COM2),
                       static_cast<QWidget*>(TransText), static_cast<QWidget*>(RexText),
                       static_cast<QWidget*>(ProgressBar1), static_cast<QWidget*>(Transmition),
                       static_cast<QWidget*>(Receive), static_cast<QWidget*>(Exit)})
        w->raise();
    sbStatusBar->raise();

    std::stable_sort(tabbed.begin(), tabbed.end(),
                     [](const Designed& a, const Designed& b) { return a.tab < b.tab; });
    QWidget* previous = nullptr;
    for (const Designed& d : tabbed) {
        if (d.widget->focusPolicy() == Qt::NoFocus) continue;
        if (previous) setTabOrder(previous, d.widget);
        previous = d.widget;
    }

    resize(Twips::toPixels(6930, dpi), Twips::toPixels(8655, dpi));
}

void frmMain::connectHandlers() {
    auto on = [this](QAbstractButton* b, void (frmMain::*handler)()) {
        connect(b, &QAbstractButton::clicked, this,
                ErrorReport::guarded(this, [this, handler] { (this->*handler)(); }));
    };
    on(COM1, &frmMain::COM1_Click);
    on(COM2, &frmMain::COM2_Click);
    on(BaoudRate4800, &frmMain::BaoudRate4800_Click);
    on(BaoudRate9600, &frmMain::BaoudRate9600_Click);
    on(BaoudRate144000, &frmMain::BaoudRate144000_Click);
    on(Connect, &frmMain::Connect_Click);
    on(Disconnect, &frmMain::Disconnect_Click);
    on(Transmition, &frmMain::Transmition_Click);
    on(Receive, &frmMain::Receive_Click);
    on(Exit, &frmMain::Exit_Click);
    connect(Timer1, &QTimer::timeout, this, ErrorReport::guarded(this, [this] { Timer1_Timer(); }));
}

QList<QObject*> frmMain::controls() const {
    return m_controls;
}
