// The localisation pass: captions, tool tips and the window's font taken from
// the numbered strings the program carries. Each step is tried on its own and
// a failing one is skipped, so with the program's empty table the lasting
// effect is that every control with a font uses the window's.
#include "app/Module1.h"

#include "app/Conversions.h"
#include "app/ResourceStrings.h"
#include "ui/ControlProps.h"
#include "ui/ResumeNext.h"
#include "ui/frmMain.h"

#include <optional>
#include <stdexcept>

namespace {

constexpr qint16 kFontNameString = 20;
constexpr qint16 kFontSizeString = 21;

// A conversion that gives nothing fails the step it is part of.
qint16 orFail(std::optional<qint16> number) {
    if (!number) throw std::range_error("Type mismatch or overflow");
    return *number;
}

qint16 whole(const QString& text) {
    return orFail(parseWholeNumber(text));
}
qint16 leading(const QString& text) {
    return orFail(parseLeadingNumber(text));
}

}  // namespace

void ApplyResourceStrings(frmMain& window) {
    ApplyResourceStrings(window, window.controls(), ResourceStrings::program());
}

void ApplyResourceStrings(QWidget& window, const QList<QObject*>& controls,
                          const ResourceStrings& table) {
    ResumeNext err;
    Control form(window);
    err.attempt([&] { form.setCaption(table.text(whole(form.Tag()))); });

    FontRef F(window);
    err.attempt([&] { F.setName(table.text(kFontNameString)); });
    err.attempt([&] { F.setSize(whole(table.text(kFontSizeString))); });

    for (QObject* object : controls) {
        Control ctl(*object);
        err.attempt([&] { ctl.setFont(F); });

        const QString type = ctl.typeName();
        if (type == u"Label") {
            err.attempt([&] { ctl.setCaption(table.text(whole(ctl.Tag()))); });
        } else if (type == u"Menu") {
            err.attempt([&] { ctl.setCaption(table.text(whole(ctl.Caption()))); });
        } else if (type == u"TabStrip") {
            err.attempt([&] {
                for (CollectionItem& tab : ctl.Tabs()) {
                    err.attempt([&] { tab.setCaption(table.text(whole(tab.Tag()))); });
                    err.attempt([&] { tab.setToolTipText(table.text(whole(tab.ToolTipText()))); });
                }
            });
        } else if (type == u"Toolbar") {
            err.attempt([&] {
                for (CollectionItem& button : ctl.Buttons())
                    err.attempt(
                        [&] { button.setToolTipText(table.text(whole(button.ToolTipText()))); });
            });
        } else if (type == u"ListView") {
            err.attempt([&] {
                for (CollectionItem& header : ctl.ColumnHeaders())
                    err.attempt([&] { header.setText(table.text(whole(header.Tag()))); });
            });
        } else {
            // n starts again from 0 before each read, so a read that fails
            // counts as 0 and looks nothing up.
            qint16 n = 0;
            err.attempt([&] { n = leading(ctl.Tag()); });
            if (n > 0) err.attempt([&] { ctl.setCaption(table.text(n)); });
            n = 0;
            err.attempt([&] { n = leading(ctl.ToolTipText()); });
            if (n > 0) err.attempt([&] { ctl.setToolTipText(table.text(n)); });
        }
    }
}
