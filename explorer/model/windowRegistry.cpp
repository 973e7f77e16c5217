#include "windowRegistry.h"

#include <algorithm>
#include <utility>

namespace lumivar {

namespace {

constexpr ListColumn kInformationColumns[] = {{"Operation", 80}, {"Result", 160}, {"Note", 400}};
constexpr ListColumn kEventColumns[] = {
    {"Device", 120}, {"Serivce", 120}, {"Variable", 120}, {"Value", 120}, {"Time", 120}};

bool isFixedTitle(std::string_view title) { return title == kInformationTitle || title == kEventTitle; }

} // namespace

std::span<const ListColumn> initialColumns(std::string_view title)
{
    if (title == kInformationTitle)
        return kInformationColumns;
    if (title == kEventTitle)
        return kEventColumns;
    return {};
}

const WindowDoc *WindowRegistry::findWindow(std::string_view title) const
{
    auto it = std::find_if(windows_.begin(), windows_.end(), [title](const WindowDoc &w) { return w.title == title; });
    return it != windows_.end() ? &*it : nullptr;
}

const WindowDoc *WindowRegistry::window(int id) const
{
    auto it = std::find_if(windows_.begin(), windows_.end(), [id](const WindowDoc &w) { return w.id == id; });
    return it != windows_.end() ? &*it : nullptr;
}

WindowDoc *WindowRegistry::find(int id) { return const_cast<WindowDoc *>(std::as_const(*this).window(id)); }

std::optional<int> WindowRegistry::openDocument(WindowKind kind, std::string_view title)
{
    if (findWindow(title) != nullptr)
        return std::nullopt;
    WindowDoc doc;
    doc.id = nextId_++;
    doc.kind = kind;
    doc.title = title;
    doc.number = ++counter_;
    windows_.push_back(std::move(doc));
    return windows_.back().id;
}

bool WindowRegistry::closeWindow(int id)
{
    auto it = std::find_if(windows_.begin(), windows_.end(), [id](const WindowDoc &w) { return w.id == id; });
    if (it == windows_.end() || isFixedTitle(it->title))
        return false;
    int closed = it->number;
    windows_.erase(it);
    if (closed > 0) {
        // Numbers stay dense from 1 because they are the tabs' indexes.
        --counter_;
        for (WindowDoc &w : windows_) {
            if (w.number > closed)
                --w.number;
        }
    }
    if (front_ == id)
        front_.reset();
    return true;
}

std::optional<int> WindowRegistry::openFixed(WindowKind kind, std::string_view title, bool create)
{
    if (const WindowDoc *w = findWindow(title))
        return w->id;
    if (!create)
        return std::nullopt;
    return openDocument(kind, title);
}

std::optional<int> WindowRegistry::showFixed(WindowKind kind, std::string_view title)
{
    std::optional<int> id = openFixed(kind, title, true);
    if (id)
        front_ = id;
    return id;
}

std::optional<int> WindowRegistry::openInformationWindow(bool create)
{
    return openFixed(WindowKind::INFORMATION, kInformationTitle, create);
}

std::optional<int> WindowRegistry::openEventWindow(bool create)
{
    return openFixed(WindowKind::EVENT, kEventTitle, create);
}

std::optional<int> WindowRegistry::showInformationWindow()
{
    return showFixed(WindowKind::INFORMATION, kInformationTitle);
}

std::optional<int> WindowRegistry::showEventWindow() { return showFixed(WindowKind::EVENT, kEventTitle); }

std::optional<int> WindowRegistry::openUrlWindow(std::string_view url)
{
    std::optional<int> id;
    if (const WindowDoc *w = findWindow(url)) {
        if (w->kind != WindowKind::XML)
            return std::nullopt; // a fixed title is no URL to show
        id = w->id;
    }
    else
        id = openDocument(WindowKind::XML, url);
    if (!id)
        return std::nullopt;
    ++find(*id)->navigations;
    front_ = id;
    return id;
}

} // namespace lumivar
