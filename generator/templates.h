// The generator's built-in templates and their markers.
//
// A template is an ordered list of chunks. A chunk is plain text, written
// unchanged, or a marker <!--QNTAGxxx--> on its own, replaced by what the
// marker stands for; four section tags switch between device-only and
// control-point-only text. Lines are separated by the marker glf, never by
// newline characters inside chunks, so the chosen line end applies to every
// line. The templates are kept as C text (generator/templates/*.inc) and cut
// into chunks on first use: every newline becomes a glf chunk, and a line
// that holds nothing but one marker or tag adds no glf of its own.
#pragma once

#include <string_view>
#include <vector>

using TemplateChunks = std::vector<std::string_view>;

// The 17 markers and the 4 section tags.
enum TemplateTag : int {
    TT_TEXT = -1, // plain text
    TT_GLF = 0,   // the line end
    TT_GIH,       // #include of every callback header
    TT_GFN,       // descName
    TT_GPB,       // prefix
    TT_GLP,       // directory of the description
    TT_GFB,       // the embedded documents
    TT_GFI,       // rows of the embedded file table
    TT_GACC,      // rows of the action callback table
    TT_GVCC,      // rows of the query callback table
    TT_GIA,       // ipAddr
    TT_GWP,       // devPort
    TT_GGP,       // cpEventPort
    TT_GSP,       // cpExtraPort
    TT_GSN,       // entityName
    TT_GRF,       // the read-file fragment
    TT_GCL,       // the command-loop body
    TT_GCLF,      // the command-loop functions
    TT_SDB,       // device-only text begins
    TT_SDE,       // device-only text ends
    TT_SCPB,      // control-point-only text begins
    TT_SCPE,      // control-point-only text ends
    TT_COUNT
};

// The marker text of a tag, for instance "<!--QNTAGglf-->".
std::string_view tagText(TemplateTag tag);

// The tag a chunk stands for: a chunk that begins with a tag's text is that
// tag; any other chunk is TT_TEXT.
TemplateTag matchTag(std::string_view chunk);

// Cuts template text into chunks (views into text, which must outlive them).
TemplateChunks splitTemplate(std::string_view text);

const TemplateChunks &bannerTemplate();
const TemplateChunks &mainTemplate();
const TemplateChunks &readFileTemplate();
const TemplateChunks &cmdLoopFuncsTemplate();
const TemplateChunks &cmdLoopTemplate();

// Text of a generated project's CMakeLists.txt, with @PROJECT@ and @SOURCES@.
std::string_view cmakeListsTemplate();
