#include "app/espeak_speaker.h"

#include <canberra.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "app/qt_text.h"

namespace tolvar {

namespace {
// Apart from the sounds of the rules, so that neither cuts off the other.
constexpr std::uint32_t kSpeechSoundId = 2;

#ifndef TOLVAR_SPEAK_FROM_BIN
#define TOLVAR_SPEAK_FROM_BIN "../libexec/tolvar"
#endif
}  // namespace

QString EspeakSpeaker::FindHelper(const QString& programFolder) {
    const QString installed =
        QDir::cleanPath(programFolder + "/" TOLVAR_SPEAK_FROM_BIN "/tolvar-speak");
    const QString built = programFolder + "/tolvar-speak";
    for (const QString& path : {installed, built})
        if (QFileInfo(path).isExecutable() && QFileInfo(path).isFile()) return path;
    return installed;
}

EspeakSpeaker::EspeakSpeaker(QString helper) : helper_(std::move(helper)) {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) {
        // A fixed name in the shared temporary folder could be taken over
        // by a planted link; a folder only this user can enter cannot.
        ownFolder_ = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/tolvar-XXXXXX");
        if (ownFolder_->isValid()) folder = ownFolder_->path();
    }
    if (!folder.isEmpty())
        wav_ = folder + "/tolvar-announce-" + QString::number(QCoreApplication::applicationPid()) +
               ".wav";
    if (ca_context_create(&context_) != CA_SUCCESS) context_ = nullptr;
}

EspeakSpeaker::~EspeakSpeaker() {
    StopSpeaking();
    if (context_ != nullptr) ca_context_destroy(context_);
    if (!wav_.isEmpty()) QFile::remove(wav_);
}

void EspeakSpeaker::Speak(const std::string& text, const Voice& voice) {
    StopSpeaking();
    if (wav_.isEmpty()) return;  // nowhere to put the speech: silence
    auto* process = new QProcess(this);
    running_ = process;
    // What the sound libraries print (ALSA's complaints about missing
    // cards) is no business of the user's terminal.
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    connect(process, &QProcess::finished, this,
            [this, process](int exitCode, QProcess::ExitStatus status) {
                Finished(process, status == QProcess::NormalExit ? exitCode : -1);
            });
    connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart) Finished(process, -1);
    });
    process->start(helper_, {Q(voice.file), Q(voice.name), wav_, Q(text)});
}

void EspeakSpeaker::Finished(QProcess* process, int exitCode) {
    process->deleteLater();
    if (process != running_) return;  // stopped meanwhile, or replaced
    running_ = nullptr;
    if (exitCode != 0) return;  // the voice failed: silence
    if (context_ != nullptr) {
        ca_context_cancel(context_, kSpeechSoundId);
        ca_context_play(context_, kSpeechSoundId, CA_PROP_MEDIA_FILENAME,
                        wav_.toLocal8Bit().constData(), CA_PROP_MEDIA_ROLE, "event", nullptr);
    }
    if (OnSpoken) OnSpoken(wav_);
}

void EspeakSpeaker::StopSpeaking() {
    if (running_ != nullptr) {
        QProcess* p = running_;
        running_ = nullptr;
        p->disconnect(this);
        // Gone once it has ended; nobody waits for that.
        connect(p, &QProcess::finished, p, &QObject::deleteLater);
        p->kill();
    }
    if (context_ != nullptr) ca_context_cancel(context_, kSpeechSoundId);
}

}  // namespace tolvar
