// The explorer's document windows without their widgets: which windows are
// open, their titles and tab numbers, and which one is in front. The window
// layer creates a widget for each document the registry opens and closes it
// when the registry agrees.
//
// Titles are unique and compared exactly, letter case included. The
// Information and Event windows have fixed titles and stay open for the
// life of the program; an XML window is titled with the URL it shows.
// Numbers are dense from 1 and are the index of the window's tab.
//
// Used from the window thread only; not synchronised.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lumivar {

inline constexpr char kInformationTitle[] = "Corvanta UPnP/Infomation";
inline constexpr char kEventTitle[] = "Corvanta UPnP/Event";
inline constexpr char kInformationOpenFailed[] = "Unable to open Infomation Window!";
inline constexpr char kEventOpenFailed[] = "Unable to open Event Window!";

enum class WindowKind { INFORMATION, EVENT, XML };

struct WindowDoc {
    int id = 0;       // stable for the window's life, never reused
    WindowKind kind = WindowKind::XML;
    std::string title;
    int number = -1;  // tab index from 1; -1 until numbered
    int navigations = 0; // XML windows: times told to navigate to the title's URL
};

struct ListColumn {
    const char *title;
    int width; // pixels
};

// The initial columns of a list window chosen by its title; empty for a
// title without a list (an XML window).
[[nodiscard]] std::span<const ListColumn> initialColumns(std::string_view title);

class WindowRegistry {
public:
    // The window with exactly this title, or none.
    [[nodiscard]] const WindowDoc *findWindow(std::string_view title) const;
    [[nodiscard]] const WindowDoc *window(int id) const;

    // Opens and numbers a document; none when a window has the title already.
    [[nodiscard]] std::optional<int> openDocument(WindowKind kind, std::string_view title);

    // Closes a window and renumbers those above it. False, and nothing
    // changes, for an unknown id or one of the two fixed titles.
    bool closeWindow(int id);

    // The window with the fixed title; created when missing and create is set.
    std::optional<int> openInformationWindow(bool create);
    std::optional<int> openEventWindow(bool create);

    // "&View" commands: the window with the fixed title, created when
    // missing (never a second one), brought to the front.
    std::optional<int> showInformationWindow();
    std::optional<int> showEventWindow();

    // "Retrieve XML" and "Visit": the window titled with url navigates again
    // and comes to the front; without one a new XML window is created,
    // navigated and brought to the front.
    std::optional<int> openUrlWindow(std::string_view url);

    // The id of the window in front, or none.
    [[nodiscard]] std::optional<int> front() const { return front_; }
    [[nodiscard]] const std::vector<WindowDoc> &windows() const { return windows_; }

private:
    std::optional<int> openFixed(WindowKind kind, std::string_view title, bool create);
    std::optional<int> showFixed(WindowKind kind, std::string_view title);
    [[nodiscard]] WindowDoc *find(int id);

    std::vector<WindowDoc> windows_; // in order of creation
    int counter_ = 0;                // highest number in use
    int nextId_ = 1;
    std::optional<int> front_;
};

} // namespace lumivar
