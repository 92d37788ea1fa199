#pragma once
// "Controller:" on the page "Desktop": which controllers of the CAPI the
// program listens on ("1", "1,3,5" or "*"), taken over when the page is left.

class QGroupBox;

namespace tolvar {

class TMainForm;

QGroupBox* ControllerGroup(TMainForm& form);

}  // namespace tolvar
