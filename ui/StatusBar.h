#pragma once

#include <QFrame>
#include <QList>
#include <QString>

class QLabel;

// The window's three panels. Callers name a panel by this enum, so a mistyped
// key does not compile; panelKey gives the key the bar files it under.
enum class StatusPanel { Status, Settings, Timer };
QString panelKey(StatusPanel panel);

// A status bar of text panels, addressed by key, laid out left to right at
// fixed widths. Panel text is plain: whatever it holds is drawn as written.
class StatusBar : public QFrame {
    Q_OBJECT
public:
    explicit StatusBar(QWidget* parent = nullptr);

    void addPanel(const QString& key, const QString& text, const QString& toolTip, int widthPx);
    void setPanelText(const QString& key, const QString& text);
    QString panelText(const QString& key) const;
    QLabel* panel(const QString& key) const;

private:
    struct Entry {
        QString key;
        QLabel* label;
    };
    QList<Entry> m_panels;
};
