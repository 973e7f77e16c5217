#include "infoRows.h"

namespace lumivar {

namespace {

constexpr int kOperationWidth = 80;
constexpr int kResultWidth = 160;
constexpr int kNoteWidth = 400;
constexpr int kNameWidth = 160;
constexpr int kValueWidth = 400;

} // namespace

void InfoRows::add(std::vector<std::string> row)
{
    row.resize(columns.size());
    rows.push_back(std::move(row));
}

InfoRows outcomeLayout()
{
    return {{{"Operation", kOperationWidth}, {"Result", kResultWidth}, {"Note", kNoteWidth}}, {}};
}

InfoRows valuesLayout() { return {{{"Name", kNameWidth}, {"Value", kValueWidth}}, {}}; }

} // namespace lumivar
