#pragma once
// The group "MQTT" on the page "Desktop": whether and where the calls are
// published, and how the link to the broker stands.

#include <QGroupBox>

class QCheckBox;
class QLabel;
class QLineEdit;

namespace tolvar {

class TMainForm;

class MqttGroup final : public QGroupBox {
  public:
    explicit MqttGroup(TMainForm& form);

    // The link came up or went down (from the window's front end).
    void LinkChanged(bool up, const std::string& text);
    // "verbunden", "keine Verbindung: ...", or nothing while publishing is off.
    static QString StateText(bool enabled, bool up, const std::string& text);

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    // The engine's settings into the fields / the fields' settings to the engine.
    void Fill();
    void Apply();

    TMainForm& form_;
    QCheckBox* cbMqttEnabled_ = nullptr;
    QLineEdit* edMqttHost_ = nullptr;
    QLineEdit* edMqttPort_ = nullptr;
    QLineEdit* edMqttUser_ = nullptr;
    QLineEdit* edMqttPassword_ = nullptr;
    QCheckBox* cbMqttTls_ = nullptr;
    QLineEdit* edMqttTopic_ = nullptr;
    QLabel* lbMqttState_ = nullptr;
    bool filled_ = false;  // the fields hold the engine's settings
};

}  // namespace tolvar
