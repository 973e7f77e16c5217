// The five templates as compiled-in text, and their cutting into chunks.
#include "templates.h"

#include <array>

namespace {

constexpr std::array<std::string_view, TT_COUNT> kTagTexts = {
    "<!--QNTAGglf-->",  "<!--QNTAGgih-->",  "<!--QNTAGgfn-->",  "<!--QNTAGgpb-->",  "<!--QNTAGglp-->",
    "<!--QNTAGgfb-->",  "<!--QNTAGgfi-->",  "<!--QNTAGgacc-->", "<!--QNTAGgvcc-->", "<!--QNTAGgia-->",
    "<!--QNTAGgwp-->",  "<!--QNTAGggp-->",  "<!--QNTAGgsp-->",  "<!--QNTAGgsn-->",  "<!--QNTAGgrf-->",
    "<!--QNTAGgcl-->",  "<!--QNTAGgclf-->", "<!--QNTAGsdb-->",  "<!--QNTAGsde-->",  "<!--QNTAGscpb-->",
    "<!--QNTAGscpe-->",
};

constexpr std::string_view kMarkerStart = "<!--QNTAG";
constexpr std::string_view kMarkerEnd = "-->";

constexpr std::string_view kBannerText =
#include "templates/banner.inc"
    ;
constexpr std::string_view kMainText =
#include "templates/main.inc"
    ;
constexpr std::string_view kReadFileText =
#include "templates/readFile.inc"
    ;
constexpr std::string_view kCmdLoopFuncsText =
#include "templates/cmdLoopFuncs.inc"
    ;
constexpr std::string_view kCmdLoopText =
#include "templates/cmdLoop.inc"
    ;
constexpr std::string_view kCMakeListsText =
#include "templates/cmakeLists.inc"
    ;

// Cuts one line (without its newline) into text and marker chunks.
void splitLine(std::string_view line, TemplateChunks *chunks)
{
    while (!line.empty()) {
        size_t start = line.find(kMarkerStart);
        size_t end = start == std::string_view::npos ? start : line.find(kMarkerEnd, start + kMarkerStart.size());
        if (end == std::string_view::npos) {
            chunks->push_back(line);
            return;
        }
        if (start > 0)
            chunks->push_back(line.substr(0, start));
        end += kMarkerEnd.size();
        chunks->push_back(line.substr(start, end - start));
        line.remove_prefix(end);
    }
}

} // namespace

std::string_view tagText(TemplateTag tag)
{
    return tag >= 0 && tag < TT_COUNT ? kTagTexts[tag] : std::string_view();
}

TemplateTag matchTag(std::string_view chunk)
{
    for (int i = 0; i < TT_COUNT; ++i)
        if (chunk.starts_with(kTagTexts[i]))
            return static_cast<TemplateTag>(i);
    return TT_TEXT;
}

TemplateChunks splitTemplate(std::string_view text)
{
    TemplateChunks chunks;
    while (!text.empty()) {
        size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        splitLine(line, &chunks);
        if (nl == std::string_view::npos)
            break;
        bool markerOnly = matchTag(line) != TT_TEXT && line.size() == tagText(matchTag(line)).size();
        if (!markerOnly)
            chunks.push_back(kTagTexts[TT_GLF]);
        text.remove_prefix(nl + 1);
    }
    return chunks;
}

const TemplateChunks &bannerTemplate()
{
    static const TemplateChunks chunks = splitTemplate(kBannerText);
    return chunks;
}

const TemplateChunks &mainTemplate()
{
    static const TemplateChunks chunks = splitTemplate(kMainText);
    return chunks;
}

const TemplateChunks &readFileTemplate()
{
    static const TemplateChunks chunks = splitTemplate(kReadFileText);
    return chunks;
}

const TemplateChunks &cmdLoopFuncsTemplate()
{
    static const TemplateChunks chunks = splitTemplate(kCmdLoopFuncsText);
    return chunks;
}

const TemplateChunks &cmdLoopTemplate()
{
    static const TemplateChunks chunks = splitTemplate(kCmdLoopText);
    return chunks;
}

std::string_view cmakeListsTemplate()
{
    return kCMakeListsText;
}
