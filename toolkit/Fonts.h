// Fonts of the forms and dialogs. Main thread only.
#pragma once

#include <string>

#include "support/ScopedHandle.h"
#include "toolkit/DescriptionValues.h"

// Resolves a font name to one the system has, falling back when it is
// missing (the face, then its English name, then the dialog font).
std::wstring ResolveFontFace(const std::string& face);

// The font of that face (resolved as above) and character height.
ScopedFont CreateFontFor(const TFont& font);
