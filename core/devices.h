#pragma once
// The devices the engine uses besides the window: sound playback, starting
// programs, speech, desktop notifications and the contact window. Each front
// end provides its own (the window the desktop's, the console lines of text,
// the tests recorders) and hands them to the engine by name.

#include <cstdint>
#include <string>

#include "core/contact_card.h"

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

// The voice a caller is announced with: a voice file and its name.
struct Voice {
    std::string file;
    std::string name;
};

// Speaking an announcement ("Anruf von " + name) without blocking the caller.
// A voice that cannot be loaded says nothing, and nobody is told.
class Announcer {
  public:
    virtual ~Announcer() = default;
    virtual void Speak(const std::string& text, const Voice& voice) = 0;
    // What is being said (or still being prepared) stops.
    virtual void StopSpeaking() = 0;
};

// A desktop notification. Showing one with an id already shown replaces it.
struct Notification {
    std::string summary;
    std::string body;
    std::uint32_t expireMs = 0;  // 0: stays until withdrawn
};

class Notifier {
  public:
    virtual ~Notifier() = default;
    virtual void Notify(std::uint32_t id, const Notification& notification) = 0;
    virtual void Withdraw(std::uint32_t id) = 0;
};

// The contact found for a call, shown without waiting for anyone to close it.
class ContactWindow {
  public:
    virtual ~ContactWindow() = default;
    // file: the address-book file the card came from.
    virtual void ShowContact(const ContactCard& card, const std::string& file) = 0;
};

struct Devices {
    SoundDevice& sound;
    ProgramStarter& programs;
    Announcer& announcer;
    ContactWindow& contacts;
    Notifier& notifier;
};

}  // namespace tolvar
