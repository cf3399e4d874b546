// What a privileged run of the helper takes from outside, and with whose rights
// it looks at files.
#pragma once

namespace hvchown {

// In a privileged run (AT_SECURE) the caller chose the whole environment: it is
// cleared, and the home area is read from HV_HELPER_HOME_FILE instead. False when
// that file cannot be read, or someone other than root could have written it or
// any directory above it. An unprivileged run keeps its environment: true.
bool take_nothing_from_caller();

// The file-system ids: the caller's own while paths are searched and files
// examined, the process's for the change itself.
void search_as_caller();
void change_as_helper();

}  // namespace hvchown
