#include "ui/Accessibility.h"

#include "ui/ProgressBar.h"
#include "ui/Shape.h"

#include <QAccessibleWidget>
#include <QMessageBox>
#include <QRadioButton>

namespace {

// The program's one window: a frame named by its caption (a plain widget
// would be a "filler").
class WindowInterface : public QAccessibleWidget {
public:
    explicit WindowInterface(QWidget* w) : QAccessibleWidget(w, QAccessible::Window) {}
};

class StatusBarInterface : public QAccessibleWidget {
public:
    explicit StatusBarInterface(QWidget* w) : QAccessibleWidget(w, QAccessible::StatusBar) {}
};

// A lamp is a picture, not a control: nothing happens when it is pressed, so
// it is a graphic rather than a check box, and its state is a word in its
// description.
class LampInterface : public QAccessibleWidget {
public:
    explicit LampInterface(Shape* w) : QAccessibleWidget(w, QAccessible::Graphic) {}
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Description) return static_cast<Shape*>(widget())->stateWord();
        return QAccessibleWidget::text(t);
    }
};

// The bar's own value in percent, fractions included; the QProgressBar
// underneath counts tenths.
class ProgressBarInterface : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit ProgressBarInterface(ProgressBar* w)
        : QAccessibleWidget(w, QAccessible::ProgressBar) {}
    void* interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(t);
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.focusable = false;
        return s;
    }
    QVariant currentValue() const override {
        return double(static_cast<ProgressBar*>(widget())->fraction());
    }
    void setCurrentValue(const QVariant&) override {}  // read-only
    QVariant maximumValue() const override { return 100.0; }
    QVariant minimumValue() const override { return 0.0; }
    QVariant minimumStepSize() const override { return 0.0; }
};

// An option button whose toggle action clicks it, as the mouse and the keys
// do: the program's handlers listen to clicks, and a bare toggle would check
// the option without running them.
class OptionInterface : public QAccessibleWidget {
public:
    explicit OptionInterface(QRadioButton* w) : QAccessibleWidget(w, QAccessible::RadioButton) {}
    QRadioButton* option() const { return static_cast<QRadioButton*>(widget()); }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && option()->accessibleName().isEmpty())
            return QString(option()->text()).remove(QLatin1Char('&'));
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = true;
        s.checked = option()->isChecked();
        return s;
    }
    QStringList actionNames() const override {
        QStringList names;
        if (option()->isEnabled()) names << toggleAction();
        return names + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& action) override {
        if (action != toggleAction()) return QAccessibleWidget::doAction(action);
        if (option()->isEnabled()) option()->click();
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }
};

// A message box: an alert named by its title, its text also as the
// description, and modal while it is up (Qt's own interface leaves that out).
class MessageBoxInterface : public QAccessibleWidget {
public:
    explicit MessageBoxInterface(QMessageBox* w)
        : QAccessibleWidget(w, QAccessible::AlertMessage) {}
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Description) return static_cast<QMessageBox*>(widget())->text();
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.modal = widget()->isModal();
        return s;
    }
};

QAccessibleInterface* interfaceFor(const QString& className, QObject* object) {
    if (!object || !object->isWidgetType()) return nullptr;
    auto* w = static_cast<QWidget*>(object);
    if (className == QLatin1String("frmMain")) return new WindowInterface(w);
    if (className == QLatin1String("StatusBar")) return new StatusBarInterface(w);
    if (className == QLatin1String("Shape")) return new LampInterface(static_cast<Shape*>(w));
    if (className == QLatin1String("ProgressBar"))
        return new ProgressBarInterface(static_cast<ProgressBar*>(w));
    if (className == QLatin1String("QMessageBox"))
        return new MessageBoxInterface(static_cast<QMessageBox*>(w));
    if (className == QLatin1String("QRadioButton"))
        return new OptionInterface(static_cast<QRadioButton*>(w));
    return nullptr;
}

}  // namespace

void Accessibility::installFactory() {
    static const bool installed = (QAccessible::installFactory(&interfaceFor), true);
    (void)installed;
}
