// What an operation lays out in the Information window: its columns (title
// and width in pixels) and rows of texts, one per column. The window
// deletes all its rows and columns and shows these.
#pragma once

#include <string>
#include <vector>

namespace lumivar {

struct InfoColumn {
    std::string title;
    int width; // pixels
};

struct InfoRows {
    std::vector<InfoColumn> columns; // none: nothing to show (a message box stopped the operation)
    std::vector<std::vector<std::string>> rows;

    [[nodiscard]] bool empty() const { return columns.empty(); }
    // Appends a row, padded or cut to the number of columns.
    void add(std::vector<std::string> row);
};

// "Operation" 80, "Result" 160, "Note" 400.
[[nodiscard]] InfoRows outcomeLayout();
// "Name" 160, "Value" 400.
[[nodiscard]] InfoRows valuesLayout();

} // namespace lumivar
