#pragma once

#include <QDateTime>
#include <QHash>
#include <QRect>
#include <QString>
#include <QWidget>

#include <array>
#include <functional>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;
class MSComm;
class Shape;
class StatusBar;
enum class StatusPanel;
class ProgressBar;

// The program's one window. Handlers and operations carry the names the
// board programmers know from the original tool; their definitions live with
// their subsystem: ui/ (layout, indicators), app/ (start-up and shutdown),
// serial/ (connection, port and speed), exchange/ (transmit, receive, ack).
class frmMain : public QWidget {
    Q_OBJECT
public:
    explicit frmMain(QWidget* parent = nullptr);
    ~frmMain() override;

    // Public interface.
    void QueryAck(const QString& QueryChar);
    void UpdateLED(const QString& Code);
    void UpdateTLED(const QString& Code);
    qint16 QueryLoopCt = 0;

    // Start-up and shutdown (app/).
    void Form_Load();
    void Form_Unload(qint16& Cancel);
    void Exit_Click();

    // Connection, port and speed (serial/).
    void Connect_Click();
    void Disconnect_Click();
    void COM1_Click();
    void COM2_Click();
    void BaoudRate4800_Click();
    void BaoudRate9600_Click();
    void BaoudRate144000_Click();

    // Data exchange (exchange/).
    void Transmition_Click();
    void Receive_Click();

    // Tick of the connection timer (ui/).
    void Timer1_Timer();

    // Indicator reads, for the status bar owner and tests.
    QString panelText(StatusPanel panel) const;
    QRgb lampColor(const QString& lampName) const;

    // Every control in creation order, as the localisation pass walks them.
    QList<QObject*> controls() const;

    // The clock the connection timer reads; tests replace it.
    using Clock = std::function<QDateTime()>;
    void setClock(Clock clock) { m_now = std::move(clock); }

    // Controls, by their layout names.
    QGroupBox* Frame1;
    QRadioButton* COM1;
    QRadioButton* COM2;
    QGroupBox* Frame2;
    QRadioButton* BaoudRate4800;
    QRadioButton* BaoudRate9600;
    QRadioButton* BaoudRate144000;
    QGroupBox* Frame3;
    Shape* ConnectState;
    QPushButton* Connect;
    QPushButton* Disconnect;
    QGroupBox* TLEDState;
    std::array<Shape*, 8> TLED;
    std::array<QLabel*, 8> TLEDLabel;
    QGroupBox* Frame4;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLineEdit* TransText;
    QPushButton* Transmition;
    QLineEdit* RexText;
    QPushButton* Receive;
    ProgressBar* ProgressBar1;
    QPushButton* Exit;
    QGroupBox* LEDState;
    std::array<Shape*, 8> LED;
    std::array<QLabel*, 8> LEDLabel;
    QGroupBox* Message;
    QLabel* MessageText;
    StatusBar* sbStatusBar;
    QTimer* Timer1;
    MSComm* MSComm1;

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;

private:
    friend struct frmMainProbe;  // tests reach the private indicator operations

    void buildLayout();
    void connectHandlers();
    void ShowMessage(const QString& text);
    void setPanelText(StatusPanel panel, const QString& text);
    void StartTimer();
    void StopTimer();
    void setLampRow(const std::array<Shape*, 8>& row, const QString& Code);
    void selectPort(short port);
    void setLineSettings(const QString& settings);
    void restorePlacement();
    void savePlacement();
    void fitOuterSize();

    QDateTime StartTime;
    Clock m_now;
    QList<QObject*> m_controls;
    QRect m_wantedOuter;  // placement read at start-up, in pixels
    bool m_outerFitted = false;
};
