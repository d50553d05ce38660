#include "ui/ErrorReport.h"

#include "serial/MSComm.h"
#include "ui/AppInfo.h"

#include <QCoreApplication>
#include <QMessageBox>

void ErrorReport::show(QWidget* parent, int number, const QString& text) {
    QMessageBox box(QMessageBox::Critical, QString::fromLatin1(kAppTitle),
                    QStringLiteral("Run-time error '%1':\n\n%2").arg(number).arg(text),
                    QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void ErrorReport::reportCurrent(QWidget* parent, std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const MSCommError& e) {
        show(parent, e.number(), e.text());
    } catch (const std::exception& e) {
        show(parent, 51, QString::fromUtf8(e.what()));
        QCoreApplication::exit(1);
    } catch (...) {
        show(parent, 51, QStringLiteral("Unknown error"));
        QCoreApplication::exit(1);
    }
}
