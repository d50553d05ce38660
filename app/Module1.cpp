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

constexpr qint16 FontNameString = 20;
constexpr qint16 FontSizeString = 21;

// A conversion that gives nothing fails the step it is part of.
qint16 OrFail(std::optional<qint16> number) {
    if (!number) throw std::range_error("Type mismatch or overflow");
    return *number;
}

qint16 Whole(const QString& text) {
    return OrFail(WholeNumber(text));
}
qint16 Leading(const QString& text) {
    return OrFail(LeadingNumber(text));
}

}  // namespace

void ApplyResourceStrings(frmMain& window) {
    ApplyResourceStrings(window, window.Controls(), ResourceStrings::Program());
}

void ApplyResourceStrings(QWidget& window, const QList<QObject*>& controls,
                          const ResourceStrings& table) {
    ResumeNext err;
    Control form(window);
    err.Try([&] { form.setCaption(table.Text(Whole(form.Tag()))); });

    FontRef F(window);
    err.Try([&] { F.setName(table.Text(FontNameString)); });
    err.Try([&] { F.setSize(Whole(table.Text(FontSizeString))); });

    for (QObject* object : controls) {
        Control ctl(*object);
        err.Try([&] { ctl.setFont(F); });

        const QString type = ctl.TypeName();
        if (type == u"Label") {
            err.Try([&] { ctl.setCaption(table.Text(Whole(ctl.Tag()))); });
        } else if (type == u"Menu") {
            err.Try([&] { ctl.setCaption(table.Text(Whole(ctl.Caption()))); });
        } else if (type == u"TabStrip") {
            err.Try([&] {
                for (CollectionItem& tab : ctl.Tabs()) {
                    err.Try([&] { tab.setCaption(table.Text(Whole(tab.Tag()))); });
                    err.Try([&] { tab.setToolTipText(table.Text(Whole(tab.ToolTipText()))); });
                }
            });
        } else if (type == u"Toolbar") {
            err.Try([&] {
                for (CollectionItem& button : ctl.Buttons())
                    err.Try(
                        [&] { button.setToolTipText(table.Text(Whole(button.ToolTipText()))); });
            });
        } else if (type == u"ListView") {
            err.Try([&] {
                for (CollectionItem& header : ctl.ColumnHeaders())
                    err.Try([&] { header.setText(table.Text(Whole(header.Tag()))); });
            });
        } else {
            // n starts again from 0 before each read, so a read that fails
            // counts as 0 and looks nothing up.
            qint16 n = 0;
            err.Try([&] { n = Leading(ctl.Tag()); });
            if (n > 0) err.Try([&] { ctl.setCaption(table.Text(n)); });
            n = 0;
            err.Try([&] { n = Leading(ctl.ToolTipText()); });
            if (n > 0) err.Try([&] { ctl.setToolTipText(table.Text(n)); });
        }
    }
}
