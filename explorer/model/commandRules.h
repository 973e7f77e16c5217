// When each device command may be chosen, from the selection context and
// the state of the explorer and the monitor, and the URLs that "Retrieve
// XML" and "Visit" open. The window asks these in its one place that
// enables its actions.
#pragma once

#include "deviceTree.h"
#include "selectionContext.h"

#include <cstdint>
#include <string>

namespace lumivar {

enum class DeviceCommand {
    DISCOVER,
    EXECUTE_ACTION,
    QUERY_VARIABLE,
    WALK_VARIABLES,
    SUBSCRIBE,
    UNSUBSCRIBE,
    SHOW_SUBSCRIPTIONS,
    SET_VALUE,
    RETRIEVE_XML,
    VISIT,
    LOAD_XML_FILE,
    UNLOAD_XML_FILE,
    START_MONITOR,
    STOP_MONITOR,
    RUN_VIRTUAL_DEVICE,
    STOP_VIRTUAL_DEVICE,
    START_EXPLORER, // "Start Device Explorer": in no menu, but its state is kept
    STOP_EXPLORER,
};

struct CommandState {
    bool explorerRunning = false;
    bool monitorRunning = false;
};

[[nodiscard]] bool isCommandEnabled(DeviceCommand command, const SelectionContext &ctx, const CommandState &state);

// The message when retrieveXmlUrl has none.
inline constexpr char kNoXmlUrl[] = "Could not get URL of XML!";

// "Retrieve XML": the SCPD URL of the service on the selection's path, or
// the device's description URL; "" when there is none.
[[nodiscard]] std::string retrieveXmlUrl(const DeviceTree &tree, uint64_t selectedId);
// "Visit": the text of a "manufacturerURL" or "presentationURL" property's
// value, unchanged; "" when the selection is neither or the value is empty.
[[nodiscard]] std::string visitUrl(const DeviceTree &tree, uint64_t selectedId);

// The SCPD URL of scpdUrl for a device whose description is at location:
// for a device of the network, resolved against the description URL as
// UDA 1.0 resolves relative URLs (an absolute path against the scheme,
// host and port); for a loaded file (virtual), the file name next to the
// published description.
[[nodiscard]] std::string scpdUrlOf(const std::string &location, const std::string &scpdUrl, bool loadedFile);

} // namespace lumivar
