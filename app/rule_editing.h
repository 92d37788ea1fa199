#pragma once
// How the controls of "Überwachung" reach the engine's rule editor.

#include <functional>

#include "app/main_form.h"
#include "engine/engine.h"

namespace tolvar {

// None before the engine exists or after it is gone.
inline RuleEditor* EditorOf(const TMainForm& form) {
    Engine* engine = form.EngineOrNull();
    return engine ? &engine->Editor() : nullptr;
}

// Runs fn on the editor as a handler: an error it raises ends it and is
// reported. False when there is no editor or fn raised.
inline bool Edit(const TMainForm& form, const std::function<void(RuleEditor&)>& fn) {
    Engine* engine = form.EngineOrNull();
    return engine && engine->Guard([&] { fn(engine->Editor()); });
}

}  // namespace tolvar
