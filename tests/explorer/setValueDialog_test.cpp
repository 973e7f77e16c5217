// The checks that keep a value a device cannot take from being sent: the
// UPnP data types, allowed value lists and ranges with their steps, each
// refusal in the words the person sees.
#include "setValueDialog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace lumivar;

TEST(SetValueDialog, CheckValueTable)
{
    struct Case {
        const char *type;
        std::string value;
        std::string refusal; // "" accepted; else the text after "Value of argument \"A\" "
        std::vector<std::string> list = {};
        std::vector<std::string> range = {}; // minimum, maximum, step
    };
    const Case cases[] = {
        {"ui1", "100", "", {}, {"0", "100"}},
        {"ui1", "0", "", {}, {"0", "100"}},
        {"ui1", "101", "is out of range (0..100).", {}, {"0", "100"}},
        {"ui1", "-1", "is not a valid ui1."},
        {"ui1", "256", "is not a valid ui1."},
        {"ui1", "+7", ""},
        {"ui1", " 7", "is not a valid ui1."},
        {"ui1", "", "is not a valid ui1."},
        {"ui1", "4O", "is not a valid ui1."},
        {"ui2", "15", "", {}, {"0", "100", "5"}},
        {"ui2", "17", "is out of range (0..100).", {}, {"0", "100", "5"}},
        {"ui4", "4294967295", ""},
        {"ui4", "4294967296", "is not a valid ui4."},
        {"i4", "-2147483648", ""},
        {"i4", "2147483648", "is not a valid i4."},
        {"i2", "-50", "is out of range (-40..40).", {}, {"-40", "40"}},
        {"int", "99999999999", ""},
        {"r8", "-1.5e3", ""},
        {"r8", "1e", "is not a valid r8."},
        {"r8", "inf", "is not a valid r8."},
        {"r8", "0x10", "is not a valid r8."},
        {"r4", "1e39", "is not a valid r4."},
        {"number", "2.5", "is out of range (0..2).", {}, {"0", "2"}},
        {"fixed.14.4", "12.3456", ""},
        {"fixed.14.4", "1.23456", "is not a valid fixed.14.4."},
        {"boolean", "yes", ""},
        {"boolean", "FALSE", ""},
        {"boolean", "2", "is not a valid boolean."},
        {"string", "PLAYING", "", {"STOPPED", "PLAYING"}},
        {"string", "playing", "is not one of its allowed values.", {"STOPPED", "PLAYING"}},
        {"string", "", ""},
        {"char", "\xc3\xa9", ""},
        {"char", "ab", "is not a valid char."},
        {"uuid", "23b0189c-549f-11dc-a7c7-001641597c49", ""},
        {"uuid", "23b0189c-549f-11dc-a7c7-001641597c4", "is not a valid uuid."},
        {"uri", "http://host/a%20b", ""},
        {"uri", "http://host/a b", "is not a valid uri."},
        {"bin.base64", "QUJD RA==", ""},
        {"bin.base64", "QUJ", "is not a valid bin.base64."},
        {"bin.base64", "QU=D", "is not a valid bin.base64."},
        {"bin.hex", "0aFF", ""},
        {"bin.hex", "0aF", "is not a valid bin.hex."},
        {"date", "2024-02-29", ""},
        {"date", "2024-13-01", "is not a valid date."},
        {"dateTime", "2024-01-02T03:04:05", ""},
        {"dateTime", "2024-01-02T03:04:05Z", "is not a valid dateTime."},
        {"dateTime.tz", "2024-01-02T03:04:05+01:00", ""},
        {"time", "23:59:60", ""},
        {"time", "25:00:00", "is not a valid time."},
        {"time.tz", "10:00:00.5Z", ""},
        {"x-vendor-type", "anything at all", ""},
        {"", "no type given", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.type) + " \"" + c.value + "\"");
        SetValueDialog::Entry entry;
        entry.name = "A";
        entry.dataType = c.type;
        entry.allowedValues = c.list;
        if (!c.range.empty()) {
            entry.hasRange = true;
            entry.minimum = c.range[0];
            entry.maximum = c.range[1];
            entry.step = c.range.size() > 2 ? c.range[2] : "";
        }
        std::optional<std::string> refusal = checkValue(entry, c.value);
        EXPECT_EQ(refusal.value_or(""), c.refusal.empty() ? "" : "Value of argument \"A\" " + c.refusal);
    }
}

// Changing "Name:" keeps what was typed for an argument that may be edited,
// and only for such an argument.
TEST(SetValueDialog, SelectingAnotherArgumentStoresTheEditedValue)
{
    SetValueDialog dialog;
    dialog.entries = {{"In", "1", AD_IN, true}, {"Out", "x", AD_OUT, false}};
    selectEntry(dialog, 1, "typed");
    selectEntry(dialog, 0, "not stored");
    EXPECT_EQ(dialog.entries[0].value, "typed");
    EXPECT_EQ(dialog.entries[1].value, "x");
    EXPECT_EQ(dialog.selected, 0);
    selectEntry(dialog, 7, "again");
    EXPECT_EQ(dialog.selected, 0);
    EXPECT_EQ(dialog.entries[0].value, "again");
}

} // namespace
