#include "app/mqtt_group.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>

#include "app/main_form.h"
#include "app/page_widgets.h"
#include "app/qt_text.h"
#include "engine/engine.h"

namespace tolvar {

using page::Field;

MqttGroup::MqttGroup(TMainForm& form) : QGroupBox("MQTT"), form_(form) {
    setObjectName("gbMqtt");
    auto* grid = page::Tight(new QGridLayout(this));

    cbMqttEnabled_ = new QCheckBox("An MQTT-Broker &senden");
    cbMqttEnabled_->setObjectName("cbMqttEnabled");
    lbMqttState_ = new QLabel;
    lbMqttState_->setObjectName("lbMqttState");
    lbMqttState_->setAccessibleName("Verbindung zum Broker");
    lbMqttState_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* hostLabel = new QLabel("Bro&ker:");
    edMqttHost_ = Field("edMqttHost", hostLabel);
    auto* portLabel = new QLabel("&Port:");
    edMqttPort_ = Field("edMqttPort", portLabel);
    edMqttPort_->setValidator(new QIntValidator(1, 65535, edMqttPort_));
    edMqttPort_->setFixedWidth(edMqttPort_->fontMetrics().horizontalAdvance("000000") + 12);
    auto* userLabel = new QLabel("Ben&utzer:");
    edMqttUser_ = Field("edMqttUser", userLabel);
    auto* passwordLabel = new QLabel("&Kennwort:");
    edMqttPassword_ = Field("edMqttPassword", passwordLabel);
    edMqttPassword_->setEchoMode(QLineEdit::Password);
    cbMqttTls_ = new QCheckBox("&TLS");
    cbMqttTls_->setObjectName("cbMqttTls");
    auto* topicLabel = new QLabel("T&hema:");
    edMqttTopic_ = Field("edMqttTopic", topicLabel);

    grid->addWidget(cbMqttEnabled_, 0, 0, 1, 2);
    grid->addWidget(lbMqttState_, 0, 2, 1, 3);
    grid->addWidget(hostLabel, 1, 0);
    grid->addWidget(edMqttHost_, 1, 1, 1, 2);
    grid->addWidget(portLabel, 1, 3);
    grid->addWidget(edMqttPort_, 1, 4);
    grid->addWidget(userLabel, 2, 0);
    grid->addWidget(edMqttUser_, 2, 1);
    grid->addWidget(passwordLabel, 2, 2);
    grid->addWidget(edMqttPassword_, 2, 3, 1, 2);
    grid->addWidget(cbMqttTls_, 3, 0);
    grid->addWidget(topicLabel, 3, 2);
    grid->addWidget(edMqttTopic_, 3, 3, 1, 2);

    // Switching on or off takes effect at once; the fields when the page is left.
    connect(cbMqttEnabled_, &QCheckBox::clicked, this, [this] { Apply(); });
}

QString MqttGroup::StateText(bool enabled, bool up, const std::string& text) {
    if (!enabled) return {};
    if (up) return "verbunden";
    return text.empty() ? QString("keine Verbindung") : "keine Verbindung: " + Q(text);
}

void MqttGroup::LinkChanged(bool up, const std::string& text) {
    Engine* engine = form_.EngineOrNull();
    lbMqttState_->setText(StateText(engine && engine->Mqtt().Settings().Enabled, up, text));
}

void MqttGroup::Fill() {
    Engine* engine = form_.EngineOrNull();
    if (!engine) return;
    const MqttPublisher& mqtt = engine->Mqtt();
    const MqttSettings& s = mqtt.Settings();
    cbMqttEnabled_->setChecked(s.Enabled);
    edMqttHost_->setText(Q(s.Host));
    edMqttPort_->setText(QString::number(s.PortInUse()));
    edMqttUser_->setText(Q(s.User));
    edMqttPassword_->setText(Q(s.Password));
    cbMqttTls_->setChecked(s.TLS);
    edMqttTopic_->setText(Q(s.Topic));
    lbMqttState_->setText(StateText(s.Enabled, mqtt.LinkUp(), mqtt.LinkText()));
    filled_ = true;
}

void MqttGroup::Apply() {
    Engine* engine = form_.EngineOrNull();
    if (!engine || !filled_) return;
    MqttSettings s = engine->Mqtt().Settings();
    s.Enabled = cbMqttEnabled_->isChecked();
    const std::string host = edMqttHost_->text().trimmed().toStdString();
    s.Host = host.empty() ? MqttSettings{}.Host : host;
    // The default port follows TLS, unless another was given.
    const int port = edMqttPort_->text().toInt();
    const int before = s.PortInUse();
    s.TLS = cbMqttTls_->isChecked();
    s.Port = port > 0 && port <= 65535 && port != before ? port : s.Port;
    s.User = edMqttUser_->text().toStdString();
    s.Password = edMqttPassword_->text().toStdString();
    const std::string topic = edMqttTopic_->text().trimmed().toStdString();
    s.Topic = topic.empty() ? MqttSettings{}.Topic : topic;
    engine->Guard([&] { engine->Mqtt().Apply(s); });
    Fill();
}

void MqttGroup::showEvent(QShowEvent* event) {
    Fill();
    QGroupBox::showEvent(event);
}

void MqttGroup::hideEvent(QHideEvent* event) {
    Apply();
    QGroupBox::hideEvent(event);
}

}  // namespace tolvar
