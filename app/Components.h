// Makes the non-visual components of other subsystems known to the window
// description by their class names.
#pragma once

void RegisterAgentComponentClasses();
