#include "app/Termination.h"
#include "ui/AppInfo.h"
#include "ui/ErrorReport.h"
#include "ui/frmMain.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(kAppTitle));
    QApplication::setOrganizationName(QString::fromLatin1(kAppTitle));
    QApplication::setStyle(QStringLiteral("Fusion"));

    frmMain form;
    try {
        form.Form_Load();
    } catch (...) {
        ErrorReport::reportCurrent(nullptr, std::current_exception());
        return 1;
    }
    Termination::closeOnSignals(&form);
    form.show();
    return QApplication::exec();
}
