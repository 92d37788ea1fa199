#pragma once
// The devices the engine uses besides the window: sound playback, starting
// programs, the caller's announcement and the contact lookup. Each front end
// provides its own (the window the desktop's, the console lines of text, the
// tests recorders) and hands them to the engine by name.

#include <string>

namespace tolvar {

// Asynchronous wave-file playback; a new sound cuts off the one playing.
class SoundDevice {
  public:
    virtual ~SoundDevice() = default;
    virtual void Play(const std::string& path) = 0;
};

// Starting a program by its command line, detached.
class ProgramStarter {
  public:
    virtual ~ProgramStarter() = default;
    // False when the program could not be started.
    virtual bool Start(const std::string& commandLine) = 0;
};

// Announcing a known caller: text is what is said ("Anruf von " + name).
class Announcer {
  public:
    virtual ~Announcer() = default;
    virtual void AnnounceCaller(const std::string& text) = 0;
    // The call that was announced ended: speech and its notice go.
    virtual void ReleaseCharacter() = 0;
};

// Looking the caller up in the address book, without waiting for the result.
class ContactLookup {
  public:
    virtual ~ContactLookup() = default;
    virtual void LookUp(const std::string& number) = 0;
};

struct Devices {
    SoundDevice& sound;
    ProgramStarter& programs;
    Announcer& announcer;
    ContactLookup& contacts;
};

}  // namespace tolvar
