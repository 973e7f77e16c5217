// Expansion of the templates: section flags and markers.
#pragma once

#include "genPlan.h"
#include "templates.h"

#include <string>

// Emits one template into out. With sections, the section tags decide which
// chunks are written (device-only text for a device run, control-point-only
// text for a control-point run); without, every chunk is written. Markers
// are replaced by their output.
void expandTemplate(const TemplateChunks &tpl, const GenPlan &plan, std::string *out, bool sections);

// The banner at the top of every generated C file.
void writeBanner(const GenPlan &plan, std::string *out);
