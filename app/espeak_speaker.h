#pragma once
// Announcements spoken by espeak-ng: the helper tolvar-speak writes the
// speech into a wave file in the runtime folder (or, without one, in a
// private folder of its own), and the event-sound service plays it. Neither
// step blocks the event loop; stopping ends both. A voice that cannot be
// loaded says nothing.

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

#include "core/devices.h"

class QProcess;
class QTemporaryDir;
struct ca_context;

namespace tolvar {

class EspeakSpeaker final : public QObject, public Announcer {
  public:
    // helper: the path of tolvar-speak.
    explicit EspeakSpeaker(QString helper);
    ~EspeakSpeaker() override;

    // The helper beside a program in programFolder: installed under
    // libexec/tolvar, or in the same folder in a build tree.
    static QString FindHelper(const QString& programFolder);

    void Speak(const std::string& text, const Voice& voice) override;
    void StopSpeaking() override;

    // The wave file of the last announcement.
    const QString& WavPath() const { return wav_; }
    // Called when a wave file is ready to be played (tests watch this).
    std::function<void(const QString&)> OnSpoken;

  private:
    void Finished(QProcess* process, int exitCode);

    QString helper_;
    std::unique_ptr<QTemporaryDir> ownFolder_;  // only without a runtime folder
    QString wav_;
    QProcess* running_ = nullptr;
    ca_context* context_ = nullptr;
};

}  // namespace tolvar
