#pragma once
// The page "Desktop": the address book of the contact lookup, the spoken
// announcement and its voice, and the notifications.

#include <QWidget>

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QHBoxLayout;

namespace tolvar {

class Autostart;
class AutostartCheckBox;
class DesktopIntegration;
class MqttGroup;
class TMainForm;

class DesktopPage final : public QWidget {
  public:
    explicit DesktopPage(TMainForm& form);

    // The group "Benachrichtigung", whose row takes further options of the
    // desktop session beside "&Benachrichtigung bei jedem Anruf" (insert
    // them before the row's closing stretch).
    QGroupBox* NotificationGroup() const { return gbNotify_; }
    QHBoxLayout* NotificationLayout() const { return notifyLayout_; }
    // "Beim &Anmelden starten", for the program and settings file in use.
    void AddAutostartOption(const Autostart& autostart);
    MqttGroup* Mqtt() const { return mqtt_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    // Runs a handler of the page in the engine, if there is one.
    void Run(void (DesktopIntegration::*handler)());

    TMainForm& form_;
    QCheckBox* CBUseOutlook = nullptr;
    QLineEdit* edContactsPath = nullptr;
    QPushButton* BtnSelectContacts = nullptr;
    QCheckBox* CBUseAgent = nullptr;
    QLineEdit* edAgentPath = nullptr;
    QPushButton* BtnSelectPath = nullptr;
    QLineEdit* edAgentName = nullptr;
    QCheckBox* CBNotify = nullptr;
    QGroupBox* gbNotify_ = nullptr;
    QHBoxLayout* notifyLayout_ = nullptr;
    AutostartCheckBox* cbAutostart_ = nullptr;
    MqttGroup* mqtt_ = nullptr;
};

}  // namespace tolvar
