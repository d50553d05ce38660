// Sending the box's text and taking one character the board sent.
#include "serial/MSComm.h"
#include "ui/frmMain.h"

#include <QLineEdit>

namespace {
// Only the blank (code 32) is trimmed; tabs and other characters stay.
QString trimBlanks(const QString& text) {
    qsizetype first = 0, last = text.size();
    while (first < last && text[first] == u' ') ++first;
    while (last > first && text[last - 1] == u' ') --last;
    return text.mid(first, last - first);
}
}  // namespace

void frmMain::Transmition_Click() {
    MSComm1->setOutput(trimBlanks(TransText->text()));
    UpdateTLED(TransText->text());
    ShowMessage(QStringLiteral(" Transmition <") + trimBlanks(TransText->text()) +
                QStringLiteral("> finish"));
}

void frmMain::Receive_Click() {
    MSComm1->setInputLen(1);
    const QString s = MSComm1->Input();
    QString code;
    if (!s.isEmpty()) {
        RexText->setText(s);
        code = s;
    } else {
        RexText->setText(QStringLiteral("NULL"));
    }
    UpdateLED(code);
    ShowMessage(QStringLiteral(" Receive procedure ok "));
}
